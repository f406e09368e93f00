// One hour of 8 kHz audio decoded and encoded through the exports (open, every block, close), next to the
// block codec operations alone on the same data. The difference is the per-block cost of the export path:
// locking the state, the platform read or write, and the file system.
//
// Counters: bytes_per_second is PCM bytes; an iteration is one hour of audio, so its time is the seconds
// per hour of audio.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "codec/blocks.h"
#include "plugin/catalogue.h"
#include "plugin/filter_api.h"

namespace {

constexpr size_t HourSamples = 8000 * 3600;

const std::vector<int16_t>& HourOfSpeechLikeAudio() {
  static const std::vector<int16_t> samples = [] {
    std::vector<int16_t> s(HourSamples);
    uint32_t noise = 1;
    for (size_t i = 0; i < s.size(); ++i) {
      noise = noise * 1664525u + 1013904223u;
      double t = static_cast<double>(i) / 8000.0;
      double envelope = 0.5 + 0.5 * std::sin(2 * M_PI * 3.0 * t);
      double voice = std::sin(2 * M_PI * 180 * t) + 0.5 * std::sin(2 * M_PI * 720 * t) + 0.25 * std::sin(2 * M_PI * 1900 * t);
      s[i] = static_cast<int16_t>(9000 * envelope * voice + static_cast<double>(noise >> 22) - 512);
    }
    return s;
  }();
  return samples;
}

std::string ScratchPath(OptionsWord options) {
  return (std::filesystem::temp_directory_path() / ("kvox-bench-" + std::to_string(options) + ".vox")).string();
}

// The hour written once per coding through the exports, then reused by the decode benchmarks.
const std::string& EncodedHour(OptionsWord options) {
  static std::string paths[7];
  std::string& path = paths[options];
  if (path.empty()) {
    path = ScratchPath(options);
    int32_t block_size = 0;
    FilterHandle out = OpenFilterOutput(path.c_str(), SampleRate(options), 16, 1, 0, &block_size, options);
    std::vector<int16_t> block(BlockSize / 2);
    const auto& hour = HourOfSpeechLikeAudio();
    for (size_t start = 0; start < hour.size(); start += block.size()) {
      std::copy_n(hour.begin() + static_cast<ptrdiff_t>(start), block.size(), block.begin());
      WriteFilterOutput(out, reinterpret_cast<uint8_t*>(block.data()), BlockSize);
    }
    CloseFilterOutput(out);
  }
  return path;
}

void DecodeThroughExports(benchmark::State& state) {
  const auto options = static_cast<OptionsWord>(state.range(0));
  const std::string& path = EncodedHour(options);
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
  state.SetBytesProcessed(pcm_bytes);
  state.SetLabel(DisplayName(options));
}

// One block of file bytes decoded by the word's coding, as the read path does.
void DecodeBlock(OptionsWord options, AdpcmState& adpcm, DcTracker& tracker, const uint8_t* coded, size_t n,
                 int16_t* pcm) {
  switch (CodingOf(options)) {
    case Coding::Alaw: AlawDecodeBlock(coded, n, pcm); break;
    case Coding::Mulaw: MulawDecodeBlock(coded, n, pcm); break;
    default: AdpcmDecodeBlock(adpcm, tracker.history, tracker.sum, coded, n, pcm);
  }
}

void DecodeBlocksAlone(benchmark::State& state) {
  const auto options = static_cast<OptionsWord>(state.range(0));
  std::ifstream file(EncodedHour(options), std::ios::binary);
  std::vector<uint8_t> coded((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
  coded.erase(coded.begin(), coded.begin() + FileTagLength);
  const size_t block_file_bytes = BlockSize / PcmBytesPerFileByte(options);
  std::vector<int16_t> pcm(BlockSize / 2);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    AdpcmState adpcm{};
    DcTracker tracker{};
    for (size_t start = 0; start < coded.size(); start += block_file_bytes) {
      size_t n = std::min(block_file_bytes, coded.size() - start);
      DecodeBlock(options, adpcm, tracker, coded.data() + start, n, pcm.data());
      pcm_bytes += static_cast<int64_t>(n) * PcmBytesPerFileByte(options);
    }
    benchmark::DoNotOptimize(pcm.data());
  }
  state.SetBytesProcessed(pcm_bytes);
  state.SetLabel(DisplayName(options));
}

// The same file read with plain POSIX reads of the same sizes and decoded with the block operations: what
// any reader of the file pays, so the difference to DecodeThroughExports is the export layer alone.
void DecodeWithPlainReads(benchmark::State& state) {
  const auto options = static_cast<OptionsWord>(state.range(0));
  const std::string& path = EncodedHour(options);
  const size_t block_file_bytes = BlockSize / PcmBytesPerFileByte(options);
  std::vector<uint8_t> coded(block_file_bytes);
  std::vector<int16_t> pcm(BlockSize / 2);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    AdpcmState adpcm{};
    DcTracker tracker{};
    int descriptor = open(path.c_str(), O_RDONLY);
    lseek(descriptor, FileTagLength, SEEK_SET);
    for (;;) {
      ssize_t got = read(descriptor, coded.data(), block_file_bytes);
      if (got <= 0) break;
      auto n = static_cast<size_t>(got);
      DecodeBlock(options, adpcm, tracker, coded.data(), n, pcm.data());
      pcm_bytes += static_cast<int64_t>(n) * PcmBytesPerFileByte(options);
    }
    close(descriptor);
    benchmark::DoNotOptimize(pcm.data());
  }
  state.SetBytesProcessed(pcm_bytes);
  state.SetLabel(DisplayName(options));
}

void EncodeThroughExports(benchmark::State& state) {
  const auto options = static_cast<OptionsWord>(state.range(0));
  const auto& hour = HourOfSpeechLikeAudio();
  const std::string path = ScratchPath(options + 100);
  std::vector<int16_t> block(BlockSize / 2);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    int32_t block_size = 0;
    FilterHandle out = OpenFilterOutput(path.c_str(), SampleRate(options), 16, 1, 0, &block_size, options);
    for (size_t start = 0; start < hour.size(); start += block.size()) {
      std::copy_n(hour.begin() + static_cast<ptrdiff_t>(start), block.size(), block.begin());
      pcm_bytes += WriteFilterOutput(out, reinterpret_cast<uint8_t*>(block.data()), BlockSize);
    }
    CloseFilterOutput(out);
  }
  std::remove(path.c_str());
  state.SetBytesProcessed(pcm_bytes);
  state.SetLabel(DisplayName(options));
}

void EncodeBlocksAlone(benchmark::State& state) {
  const auto options = static_cast<OptionsWord>(state.range(0));
  const auto& hour = HourOfSpeechLikeAudio();
  std::vector<int16_t> block(BlockSize / 2);
  int64_t pcm_bytes = 0;
  for (auto _ : state) {
    AdpcmState adpcm{};
    DcTracker tracker{};
    for (size_t start = 0; start < hour.size(); start += block.size()) {
      // The same copy as the export path makes, since coding happens in the caller's buffer.
      std::copy_n(hour.begin() + static_cast<ptrdiff_t>(start), block.size(), block.begin());
      auto* codes = reinterpret_cast<uint8_t*>(block.data());
      switch (CodingOf(options)) {
        case Coding::Alaw: AlawEncodeBlock(block.data(), block.size(), codes); break;
        case Coding::Mulaw: MulawEncodeBlock(block.data(), block.size(), codes); break;
        default: AdpcmEncodeBlock(adpcm, tracker.history, tracker.sum, block.data(), block.size(), codes);
      }
      pcm_bytes += BlockSize;
    }
    benchmark::DoNotOptimize(block.data());
  }
  state.SetBytesProcessed(pcm_bytes);
  state.SetLabel(DisplayName(options));
}

// Formats 1 (A-law), 3 (mu-law), 5 (ADPCM) at 8000 Hz: the 6000 Hz rows run the same code.
BENCHMARK(DecodeThroughExports)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeWithPlainReads)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(DecodeBlocksAlone)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeThroughExports)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);
BENCHMARK(EncodeBlocksAlone)->Arg(1)->Arg(3)->Arg(5)->Unit(benchmark::kMillisecond);

}  // namespace
