// Raw VOX detection speed: milliseconds per file and per second of audio, for each coding and length, for a
// batch of prompts of a few seconds, and for input that is refused. Targets: at most 10 ms per second of audio,
// at most 100 ms for any file (the analysis reads at most 80,000 bytes however long the file is). The program
// uses only DetectRawVox(bytes, size), so it builds against an older detector too, for a comparison in one run.
#include <benchmark/benchmark.h>

#include <random>

#include "detect/detect.h"
#include "tests/detect/signals.h"

namespace {

constexpr int Rate_hz = 8000;

// Arguments: coding (0 A-law, 1 mu-law, 2 ADPCM) and seconds of speech-like audio at 8000 Hz.
void BM_DetectSpeech(benchmark::State& state) {
  const auto coding = DetectedCoding(state.range(0));
  const double seconds = double(state.range(1));
  const std::vector<uint8_t> bytes = Encode(coding, SpeechLike(seconds, Rate_hz, 1));
  for (auto _ : state) {
    RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(result);
  }
  state.SetLabel(std::string(CodingName(coding)) + ", " + std::to_string(bytes.size()) + " bytes");
  // Shown as seconds of computing per second of audio (e.g. "5.1m" is 5.1 ms).
  state.counters["per_audio_second"] =
      benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DetectSpeech)
    ->ArgsProduct({{0, 1, 2}, {1, 5, 10, 60}})
    ->ArgNames({"coding", "seconds"})
    ->Unit(benchmark::kMillisecond);

// A batch of 60 prompts of 1 to 5 s (speech-like, with pauses, at 8000 Hz) in one coding, as kvox convert
// meets them in a folder of recordings. Time per iteration is the whole batch; the counters give it per file
// and per second of audio.
void BM_DetectPromptBatch(benchmark::State& state) {
  const auto coding = DetectedCoding(state.range(0));
  std::mt19937_64 rng(4);
  std::vector<std::vector<uint8_t>> files;
  double seconds = 0;
  for (int i = 0; i < 60; ++i) {
    const double length = 1 + 4 * std::uniform_real_distribution<double>(0, 1)(rng);
    files.push_back(Encode(coding, SpeechLike(length, Rate_hz, rng())));
    seconds += length;
  }
  for (auto _ : state) {
    for (const auto& bytes : files) {
      RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size());
      benchmark::DoNotOptimize(result);
    }
  }
  state.SetLabel(std::string(CodingName(coding)) + ", 60 files, " + std::to_string(int(seconds)) + " s");
  state.counters["per_file"] = benchmark::Counter(
      double(files.size()), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
  state.counters["per_audio_second"] =
      benchmark::Counter(seconds, benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_DetectPromptBatch)->DenseRange(0, 2)->ArgName("coding")->Unit(benchmark::kMillisecond);

// DTMF digits: the rate detector runs its spectra on nearly every frame.
void BM_DetectDtmf(benchmark::State& state) {
  const auto coding = DetectedCoding(state.range(0));
  std::string digits;
  while (digits.size() < 40) digits += "0123456789*#";
  const std::vector<uint8_t> bytes = Encode(coding, DtmfDigits(digits, Rate_hz, 2));
  for (auto _ : state) {
    RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(result);
  }
  state.SetLabel(std::string(CodingName(coding)) + ", " + std::to_string(bytes.size()) + " bytes");
}
BENCHMARK(BM_DetectDtmf)->DenseRange(0, 2)->ArgName("coding")->Unit(benchmark::kMillisecond);

// Random bytes of the given size: every reading is expensive and nothing is claimed.
void BM_DetectRandomBytes(benchmark::State& state) {
  std::mt19937_64 rng(3);
  std::vector<uint8_t> bytes(size_t(state.range(0)));
  for (uint8_t& b : bytes) b = uint8_t(rng());
  for (auto _ : state) {
    RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size());
    benchmark::DoNotOptimize(result);
  }
}
BENCHMARK(BM_DetectRandomBytes)->Arg(8000)->Arg(80000)->Arg(4000000)->ArgName("bytes")->Unit(benchmark::kMillisecond);

}  // namespace
