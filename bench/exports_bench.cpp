// One hour of 8 kHz audio decoded and encoded through the exports of the built library (open, every block,
// close, on a real file), next to libsndfile doing the same job on a headerless file of the same coding in
// the same run (A-law, mu-law, and its 4-bit VOX ADPCM), and next to the block codec operations alone on the
// same data in memory.
//
// Names: "<decode|encode>/<coding>/<exports|libsndfile|blocks>". An iteration is one hour of audio, so its
// time is the seconds per hour; the sample_time counter is the time per sample. bench/table.sh runs the
// exports and libsndfile rows interleaved and prints them side by side.
#include <benchmark/benchmark.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench/hour_files.h"
#include "codec/blocks.h"
#include "plugin/catalogue.h"
#include "plugin/filter_api.h"

namespace {

using bench_hours::CodedHour;
using bench_hours::HourOfSpeechLikeAudio;
using bench_hours::LibsndfileFormat;
using bench_hours::RemoveCodedHours;
using bench_hours::ScratchPath;
using bench_hours::WriteHourThroughExports;
using bench_hours::WriteHourWithLibsndfile;

const size_t HourSamples = bench_hours::HourSamples(1);  // the formats benchmarked all run at 8000 Hz
constexpr size_t BlockSamples = BlockSize / 2;

void SetCounters(benchmark::State& state, int64_t pcm_bytes) {
  state.SetBytesProcessed(pcm_bytes);
  state.counters["sample_time"] = benchmark::Counter(
      static_cast<double>(HourSamples), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void DecodeThroughExports(benchmark::State& state, OptionsWord options) {
  const std::string& path = CodedHour(options, false);
  std::vector<uint8_t> pcm(BlockSize);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    int32_t rate = 0, block_size = 0;
    int16_t bits = 0, channels = 0;
    FilterHandle in = OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size);
    while (int32_t got = ReadFilterInput(in, pcm.data(), BlockSize)) {
      if (got < 0) break;
      pcm_bytes += got;
    }
    CloseFilterInput(in);
    benchmark::DoNotOptimize(pcm.data());
  }
  SetCounters(state, pcm_bytes);
}

void DecodeWithLibsndfile(benchmark::State& state, OptionsWord options) {
  const std::string& path = CodedHour(options, true);
  std::vector<int16_t> pcm(BlockSamples);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    SF_INFO info{};
    info.samplerate = SampleRate(options);
    info.channels = 1;
    info.format = LibsndfileFormat(options);
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
      state.SkipWithError("libsndfile cannot open its own file");
      break;
    }
    while (sf_count_t got = sf_read_short(file, pcm.data(), static_cast<sf_count_t>(pcm.size()))) {
      pcm_bytes += 2 * got;
    }
    sf_close(file);
    benchmark::DoNotOptimize(pcm.data());
  }
  SetCounters(state, pcm_bytes);
}

// The file bytes after the tag, decoded block by block in memory by the word's coding.
void DecodeBlocksAlone(benchmark::State& state, OptionsWord options) {
  std::ifstream file(CodedHour(options, false), std::ios::binary);
  std::vector<uint8_t> coded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  coded.erase(coded.begin(), coded.begin() + FileTagLength);
  const size_t block_file_bytes = BlockSize / PcmBytesPerFileByte(options);
  std::vector<int16_t> pcm(BlockSamples);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    AdpcmState adpcm{};
    DcTracker tracker{};
    for (size_t start = 0; start < coded.size(); start += block_file_bytes) {
      const size_t n = std::min(block_file_bytes, coded.size() - start);
      switch (CodingOf(options)) {
        case Coding::Alaw:
          AlawDecodeBlock(coded.data() + start, n, pcm.data());
          break;
        case Coding::Mulaw:
          MulawDecodeBlock(coded.data() + start, n, pcm.data());
          break;
        default:
          AdpcmDecodeBlock(adpcm, tracker.history, tracker.sum, coded.data() + start, n, pcm.data());
      }
      pcm_bytes += static_cast<int64_t>(n) * PcmBytesPerFileByte(options);
    }
    benchmark::DoNotOptimize(pcm.data());
  }
  SetCounters(state, pcm_bytes);
}

void EncodeThroughExports(benchmark::State& state, OptionsWord options) {
  const std::string path = ScratchPath("exports-out.vox");
  for (auto _ : state) WriteHourThroughExports(path, options);
  std::remove(path.c_str());
  SetCounters(state, static_cast<int64_t>(state.iterations() * HourSamples * 2));
}

void EncodeWithLibsndfile(benchmark::State& state, OptionsWord options) {
  const std::string path = ScratchPath("sndfile-out.vox");
  for (auto _ : state) WriteHourWithLibsndfile(path, options);
  std::remove(path.c_str());
  SetCounters(state, static_cast<int64_t>(state.iterations() * HourSamples * 2));
}

void EncodeBlocksAlone(benchmark::State& state, OptionsWord options) {
  const auto& hour = HourOfSpeechLikeAudio(1);
  std::vector<int16_t> block(BlockSamples);
  for (auto _ : state) {
    AdpcmState adpcm{};
    DcTracker tracker{};
    for (size_t start = 0; start < hour.size(); start += block.size()) {
      // The same copy as the export path makes, since coding happens in the caller's buffer.
      std::copy_n(hour.begin() + static_cast<ptrdiff_t>(start), block.size(), block.begin());
      auto* codes = reinterpret_cast<uint8_t*>(block.data());
      switch (CodingOf(options)) {
        case Coding::Alaw:
          AlawEncodeBlock(block.data(), block.size(), codes);
          break;
        case Coding::Mulaw:
          MulawEncodeBlock(block.data(), block.size(), codes);
          break;
        default:
          AdpcmEncodeBlock(adpcm, tracker.history, tracker.sum, block.data(), block.size(), codes);
      }
    }
    benchmark::DoNotOptimize(block.data());
  }
  SetCounters(state, static_cast<int64_t>(state.iterations() * HourSamples * 2));
}

// Formats 1 (A-law), 3 (mu-law), 5 (ADPCM) at 8000 Hz: the 6000 Hz formats run the same code.
const bool registered = [] {
  using Job = void (*)(benchmark::State&, OptionsWord);
  const std::pair<const char*, Job> jobs[] = {
      {"decode/%s/exports", DecodeThroughExports},    {"decode/%s/libsndfile", DecodeWithLibsndfile},
      {"decode/%s/blocks", DecodeBlocksAlone},        {"encode/%s/exports", EncodeThroughExports},
      {"encode/%s/libsndfile", EncodeWithLibsndfile}, {"encode/%s/blocks", EncodeBlocksAlone}};
  const std::pair<const char*, OptionsWord> codings[] = {{"alaw", 1}, {"ulaw", 3}, {"adpcm", 5}};
  for (const auto& [pattern, job] : jobs) {
    for (const auto& [coding, options] : codings) {
      char name[64];
      std::snprintf(name, sizeof name, pattern, coding);
      benchmark::RegisterBenchmark(name, job, options)->Unit(benchmark::kMillisecond);
    }
  }
  return std::atexit(RemoveCodedHours) == 0;
}();

}  // namespace
