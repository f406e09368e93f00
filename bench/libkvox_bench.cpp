// libkvox, as a program links it (libkvox.so.1), against the plug-in's exports and libsndfile on the same
// hours of speech-like audio in the same run, for each of the six codings:
//
// - stream/<decode|encode>/<coding>/libkvox: kvox_decode or kvox_encode over one hour held in memory, a
//   block of 8192 samples per call into one buffer the caller reuses, as a program coding a stream does.
//   /exports and /libsndfile do the same job on a file in /dev/shm (else the temporary folder), as
//   exports_bench does: the host's 16384-byte blocks through OpenFilterInput/ReadFilterInput or
//   OpenFilterOutput/WriteFilterOutput, and sf_read_short/sf_write_short on a headerless file of the same
//   coding (libsndfile's 4-bit VOX ADPCM, without our DC tracking, for ADPCM).
// - file/decode/<coding>/libkvox: kvox_open and kvox_read of a tagged file of the hour into a buffer of the
//   hour, 16384 samples a read. /exports is how kvox read it before libkvox: stat, OpenFilterInput and
//   FilterOptions, then ReadFilterInput block by block into the same buffer.
//
// An iteration is one hour of audio, so its time is the seconds per hour; the sample_time counter is the time
// per sample. bench/table.sh runs every row interleaved at random and prints the ratios.
#include <benchmark/benchmark.h>
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

#include "bench/hour_files.h"
#include "libkvox/kvox.h"
#include "plugin/catalogue.h"
#include "plugin/filter_api.h"

namespace {

constexpr size_t BlockSamples = BlockSize / 2;
constexpr size_t ReadSamples = 16384;

using namespace bench_hours;

void SetCounters(benchmark::State& state, OptionsWord word) {
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * HourSamples(word) * 2));
  state.counters["sample_time"] = benchmark::Counter(static_cast<double>(HourSamples(word)),
                                                     benchmark::Counter::kIsIterationInvariantRate |
                                                         benchmark::Counter::kInvert);
}

void Check(benchmark::State& state, size_t got, size_t expected, const char* what) {
  if (got != expected) {
    state.SkipWithError((std::string(what) + ": " + std::to_string(got) + " samples, not " +
                         std::to_string(expected)).c_str());
  }
}

// ---- Stream codecs against the exports and libsndfile ------------------------------------------------------

void StreamDecodeLibkvox(benchmark::State& state, OptionsWord word) {
  std::ifstream file(CodedHour(word, false), std::ios::binary);
  std::vector<uint8_t> codes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  codes.erase(codes.begin(), codes.begin() + FileTagLength);
  const size_t block_codes = static_cast<size_t>(BlockSize / PcmBytesPerFileByte(word));
  std::vector<int16_t> pcm(BlockSamples);
  kvox_decoder* decoder = kvox_decoder_new(static_cast<kvox_coding>(word));
  size_t samples = 0;
  for (auto _ : state) {
    kvox_decoder_reset(decoder);
    samples = 0;
    for (size_t start = 0; start < codes.size(); start += block_codes) {
      samples += kvox_decode(decoder, codes.data() + start, std::min(block_codes, codes.size() - start), pcm.data());
      benchmark::DoNotOptimize(pcm.data());
    }
  }
  kvox_decoder_free(decoder);
  Check(state, samples, HourSamples(word), "kvox_decode");
  SetCounters(state, word);
}

void StreamDecodeExports(benchmark::State& state, OptionsWord word) {
  const std::string& path = CodedHour(word, false);
  std::vector<uint8_t> pcm(BlockSize);
  size_t samples = 0;
  for (auto _ : state) {
    int32_t rate = 0, block_size = 0;
    int16_t bits = 0, channels = 0;
    FilterHandle in = OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size);
    samples = 0;
    while (int32_t got = ReadFilterInput(in, pcm.data(), BlockSize)) {
      if (got < 0) break;
      samples += static_cast<size_t>(got) / 2;
      benchmark::DoNotOptimize(pcm.data());
    }
    CloseFilterInput(in);
  }
  Check(state, samples, HourSamples(word), "ReadFilterInput");
  SetCounters(state, word);
}

void StreamDecodeLibsndfile(benchmark::State& state, OptionsWord word) {
  const std::string& path = CodedHour(word, true);
  std::vector<int16_t> pcm(BlockSamples);
  size_t samples = 0;
  for (auto _ : state) {
    SF_INFO info{};
    info.samplerate = SampleRate(word);
    info.channels = 1;
    info.format = LibsndfileFormat(word);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
      state.SkipWithError("libsndfile cannot open its own file");
      break;
    }
    samples = 0;
    while (sf_count_t got = sf_read_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size()))) {
      samples += static_cast<size_t>(got);
      benchmark::DoNotOptimize(pcm.data());
    }
    sf_close(file);
  }
  Check(state, samples, HourSamples(word), "sf_read_short");
  SetCounters(state, word);
}

void StreamEncodeLibkvox(benchmark::State& state, OptionsWord word) {
  const auto& hour = HourOfSpeechLikeAudio(word);
  std::vector<uint8_t> codes(BlockSamples + 1);
  kvox_encoder* encoder = kvox_encoder_new(static_cast<kvox_coding>(word));
  for (auto _ : state) {
    for (size_t start = 0; start < hour.size(); start += BlockSamples) {
      kvox_encode(encoder, hour.data() + start, std::min(BlockSamples, hour.size() - start), codes.data());
      benchmark::DoNotOptimize(codes.data());
    }
    kvox_encoder_flush(encoder, codes.data());
    benchmark::DoNotOptimize(codes.data());
  }
  kvox_encoder_free(encoder);
  SetCounters(state, word);
}

void StreamEncodeExports(benchmark::State& state, OptionsWord word) {
  const std::string path = ScratchPath("exports-out.vox");
  for (auto _ : state) WriteHourThroughExports(path, word);
  std::remove(path.c_str());
  SetCounters(state, word);
}

void StreamEncodeLibsndfile(benchmark::State& state, OptionsWord word) {
  const std::string path = ScratchPath("sndfile-out.vox");
  for (auto _ : state) WriteHourWithLibsndfile(path, word);
  std::remove(path.c_str());
  SetCounters(state, word);
}

// ---- Files opened and read: libkvox against kvox's earlier path ---------------------------------------------

// The hour's room, touched once so that no row pays for its first page faults.
std::vector<int16_t>& HourBuffer(OptionsWord word) {
  static std::vector<int16_t> buffer;
  const size_t room = HourSamples(word) + ReadSamples;
  if (buffer.size() < room) buffer.assign(room, 1);
  return buffer;
}

void FileDecodeLibkvox(benchmark::State& state, OptionsWord word) {
  const std::string& path = CodedHour(word, false);
  std::vector<int16_t>& hour = HourBuffer(word);
  size_t samples = 0;
  for (auto _ : state) {
    kvox_info info;
    int err = 0;
    kvox_file* file = kvox_open(path.c_str(), KVOX_CODING_NONE, &info, &err);
    if (file == nullptr) {
      state.SkipWithError(kvox_strerror(err));
      break;
    }
    samples = 0;
    while (int64_t got = kvox_read(file, hour.data() + samples, ReadSamples)) {
      if (got < 0) break;
      samples += static_cast<size_t>(got);
    }
    kvox_close(file);
    benchmark::DoNotOptimize(hour.data());
  }
  Check(state, samples, HourSamples(word), "kvox_read");
  SetCounters(state, word);
}

void FileDecodeExports(benchmark::State& state, OptionsWord word) {
  const std::string& path = CodedHour(word, false);
  std::vector<int16_t>& hour = HourBuffer(word);
  size_t samples = 0;
  for (auto _ : state) {
    struct stat file_info {};
    stat(path.c_str(), &file_info);
    benchmark::DoNotOptimize(file_info.st_size);
    int32_t rate = 0, block_size = 0;
    int16_t bits = 0, channels = 0;
    FilterHandle in = OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size);
    benchmark::DoNotOptimize(FilterOptions(in));
    samples = 0;
    while (int32_t got = ReadFilterInput(in, reinterpret_cast<uint8_t*>(hour.data() + samples), BlockSize)) {
      if (got < 0) break;
      samples += static_cast<size_t>(got) / 2;
    }
    CloseFilterInput(in);
    benchmark::DoNotOptimize(hour.data());
  }
  Check(state, samples, HourSamples(word), "ReadFilterInput");
  SetCounters(state, word);
}

const bool registered = [] {
  using Job = void (*)(benchmark::State&, OptionsWord);
  const std::pair<const char*, Job> jobs[] = {
      {"stream/decode/%s/libkvox", StreamDecodeLibkvox}, {"stream/decode/%s/exports", StreamDecodeExports},
      {"stream/decode/%s/libsndfile", StreamDecodeLibsndfile}, {"stream/encode/%s/libkvox", StreamEncodeLibkvox},
      {"stream/encode/%s/exports", StreamEncodeExports}, {"stream/encode/%s/libsndfile", StreamEncodeLibsndfile},
      {"file/decode/%s/libkvox", FileDecodeLibkvox}, {"file/decode/%s/exports", FileDecodeExports}};
  for (const auto& [pattern, job] : jobs) {
    for (OptionsWord word = 1; word <= KVOX_CODING_COUNT; ++word) {
      char name[64];
      std::snprintf(name, sizeof name, pattern, kvox_coding_alias(static_cast<kvox_coding>(word)));
      benchmark::RegisterBenchmark(name, job, word)->Unit(benchmark::kMillisecond);
    }
  }
  return std::atexit(RemoveCodedHours) == 0;
}();

}  // namespace
