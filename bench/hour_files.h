// What the benchmarks of the exports and of libkvox code and read alike: an hour of speech-like audio at a
// coding's rate, coded once through the plug-in's exports (as the host does) and once by libsndfile into
// files in /dev/shm (else the temporary folder) that are removed at exit.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "plugin/catalogue.h"

namespace bench_hours {

size_t HourSamples(OptionsWord word);
const std::vector<int16_t>& HourOfSpeechLikeAudio(OptionsWord word);
std::string ScratchPath(const std::string& name);
// The libsndfile format of the same coding, headerless.
int LibsndfileFormat(OptionsWord word);
void WriteHourThroughExports(const std::string& path, OptionsWord word);
void WriteHourWithLibsndfile(const std::string& path, OptionsWord word);
// The hour coded once per side and coding (libsndfile's or the exports').
const std::string& CodedHour(OptionsWord word, bool libsndfile);
void RemoveCodedHours();

}  // namespace bench_hours
