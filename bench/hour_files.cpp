#include "bench/hour_files.h"

#include <sndfile.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "plugin/catalogue.h"
#include "plugin/filter_api.h"

namespace bench_hours {
namespace {

constexpr size_t BlockSamples = BlockSize / 2;

}  // namespace

size_t HourSamples(OptionsWord word) { return static_cast<size_t>(SampleRate(word)) * 3600; }

// Speech-like: tones under a slow envelope, with noise, at the coding's rate.
const std::vector<int16_t>& HourOfSpeechLikeAudio(OptionsWord word) {
  static std::vector<int16_t> hours[2];
  std::vector<int16_t>& s = hours[SampleRate(word) == 6000 ? 1 : 0];
  if (s.empty()) {
    const double rate = SampleRate(word);
    s.resize(HourSamples(word));
    uint32_t noise = 1;
    for (size_t i = 0; i < s.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      const double t = static_cast<double>(i) / rate;
      const double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3.0 * t);
      const double voice =
          std::sin(2 * M_PI * 180 * t) + 0.5 * std::sin(2 * M_PI * 720 * t) + 0.25 * std::sin(2 * M_PI * 1900 * t);
      s[i] = static_cast<int16_t>(9000 * envelope * voice + static_cast<double>(noise >> 22) - 512);
    }
  }
  return s;
}

// Memory-backed, so that the exports and libsndfile pay for the kernel's file work but not for a disk's.
std::filesystem::path ScratchFolder() {
  static const std::filesystem::path folder = [] {
    std::error_code error;
    if (std::filesystem::is_directory("/dev/shm", error) && access("/dev/shm", W_OK) == 0) {
      return std::filesystem::path("/dev/shm");
    }
    return std::filesystem::temp_directory_path();
  }();
  return folder;
}

std::string ScratchPath(const std::string& name) {
  return (ScratchFolder() / ("kvox-bench-" + std::to_string(getpid()) + "-" + name)).string();
}

int LibsndfileFormat(OptionsWord word) {
  switch (CodingOf(word)) {
    case Coding::Alaw:
      return SF_FORMAT_RAW | SF_FORMAT_ALAW;
    case Coding::Mulaw:
      return SF_FORMAT_RAW | SF_FORMAT_ULAW;
    default:
      return SF_FORMAT_RAW | SF_FORMAT_VOX_ADPCM;
  }
}

// The host's job: its buffer filled with a block, coded in place by the plug-in and written.
void WriteHourThroughExports(const std::string& path, OptionsWord word) {
  const auto& hour = HourOfSpeechLikeAudio(word);
  int32_t block_size = 0;
  FilterHandle out = OpenFilterOutput(path.c_str(), SampleRate(word), 16, 1, 0, &block_size, word);
  std::vector<int16_t> block(BlockSamples);
  for (size_t start = 0; start < hour.size(); start += block.size()) {
    const size_t n = std::min(block.size(), hour.size() - start);
    std::copy_n(hour.begin() + static_cast<ptrdiff_t>(start), n, block.begin());
    WriteFilterOutput(out, reinterpret_cast<uint8_t*>(block.data()), static_cast<int32_t>(2 * n));
  }
  CloseFilterOutput(out);
}

void WriteHourWithLibsndfile(const std::string& path, OptionsWord word) {
  const auto& hour = HourOfSpeechLikeAudio(word);
  SF_INFO info{};
  info.samplerate = SampleRate(word);
  info.channels = 1;
  info.format = LibsndfileFormat(word);
  SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
  if (file == nullptr) return;
  for (size_t start = 0; start < hour.size(); start += BlockSamples) {
    sf_write_short(file, hour.data() + start, static_cast<sf_count_t>(std::min(BlockSamples, hour.size() - start)));
  }
  sf_close(file);
}

// The hour coded once per side and coding, then read by the decoding rows; removed at exit.
std::string coded_hour_paths[2][7];

const std::string& CodedHour(OptionsWord word, bool libsndfile) {
  std::string& path = coded_hour_paths[libsndfile][word];
  if (path.empty()) {
    path = ScratchPath(std::string(libsndfile ? "sndfile-" : "exports-") + std::to_string(word) + ".vox");
    if (libsndfile) {
      WriteHourWithLibsndfile(path, word);
    } else {
      WriteHourThroughExports(path, word);
    }
  }
  return path;
}

void RemoveCodedHours() {
  for (const auto& side : coded_hour_paths) {
    for (const std::string& path : side) {
      if (!path.empty()) std::remove(path.c_str());
    }
  }
}


}  // namespace bench_hours
