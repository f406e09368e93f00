// Block conversions on one BlockSize (16384 bytes of PCM, 8192 samples) resident in cache, in every form
// this processor runs (portable, SSE2, AVX-512BW), each next to a memcpy of the same output size. The
// sample_time counter is the time per sample.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "codec/adpcm.h"
#include "codec/block_paths.h"
#include "codec/blocks.h"

namespace {

constexpr size_t kBlockSamples = 8192;

// A speech-like test signal: a few drifting tones under a syllable-rate envelope, with some noise.
std::vector<int16_t> SpeechLikeSignal(size_t sample_count) {
  std::mt19937 rng(12345);
  std::vector<int16_t> samples(sample_count);
  for (size_t i = 0; i < sample_count; ++i) {
    const double t = static_cast<double>(i) / 8000;
    const double envelope = 0.5 + 0.5 * std::sin(2 * std::numbers::pi * 4 * t);
    const double tones = std::sin(2 * std::numbers::pi * 180 * t) + 0.6 * std::sin(2 * std::numbers::pi * 720 * t) +
                         0.3 * std::sin(2 * std::numbers::pi * 2300 * t);
    const double noise = static_cast<double>(static_cast<int>(rng() % 2001) - 1000);
    samples[i] = static_cast<int16_t>(std::lround(9000 * envelope * tones + noise));
  }
  return samples;
}

std::vector<uint8_t> AdpcmCodes(const std::vector<int16_t>& samples) {
  AdpcmState state{};
  DcHistory history{};
  int32_t sum = 0;
  std::vector<uint8_t> codes((samples.size() + 1) / 2);
  AdpcmEncodeBlock(state, history, sum, samples.data(), samples.size(), codes.data());
  return codes;
}

void SetSampleTime(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * kBlockSamples));
  state.counters["sample_time"] = benchmark::Counter(
      static_cast<double>(kBlockSamples), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}

void BM_Memcpy(benchmark::State& state) {
  const auto size_bytes = static_cast<size_t>(state.range(0));
  std::vector<uint8_t> from(size_bytes, 0x5A);
  std::vector<uint8_t> to(size_bytes);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), size_bytes);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}
// The output sizes of a block: 16384 bytes of PCM from decoding, 8192 G.711 or 4096 ADPCM bytes from coding.
BENCHMARK(BM_Memcpy)->Arg(16384)->Arg(8192)->Arg(4096);

using G711Decode = void (*)(const uint8_t*, size_t, int16_t*);
using G711Encode = size_t (*)(const int16_t*, size_t, uint8_t*);

void BM_G711Decode(benchmark::State& state, G711Decode decode) {
  std::vector<uint8_t> codes(kBlockSamples);
  std::mt19937 rng(1);
  for (uint8_t& code : codes) code = static_cast<uint8_t>(rng());
  std::vector<int16_t> samples(kBlockSamples);
  for (auto _ : state) {
    decode(codes.data(), codes.size(), samples.data());
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}

void BM_G711Encode(benchmark::State& state, G711Encode encode) {
  const std::vector<int16_t> samples = SpeechLikeSignal(kBlockSamples);
  std::vector<uint8_t> codes(kBlockSamples);
  for (auto _ : state) {
    benchmark::DoNotOptimize(encode(samples.data(), samples.size(), codes.data()));
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}

// random: codes of the speech-like signal, or random bytes, which keep the predictor at its limits.
void BM_AdpcmDecode(benchmark::State& state, const BlockFunctions* form, bool random) {
  std::vector<uint8_t> bytes = AdpcmCodes(SpeechLikeSignal(kBlockSamples));
  if (random) {
    std::mt19937 rng(2);
    for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng());
  }
  std::vector<int16_t> samples(kBlockSamples);
  AdpcmState adpcm{};
  DcHistory history{};
  int32_t sum = 0;
  for (auto _ : state) {
    form->adpcm_decode(adpcm, history, sum, bytes.data(), bytes.size(), samples.data());
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}

// random: the speech-like signal, or random samples over the full range.
void BM_AdpcmEncode(benchmark::State& state, const BlockFunctions* form, bool random) {
  std::vector<int16_t> samples = SpeechLikeSignal(kBlockSamples);
  if (random) {
    std::mt19937 rng(3);
    for (int16_t& sample : samples) sample = static_cast<int16_t>(rng());
  }
  std::vector<uint8_t> codes(kBlockSamples / 2);
  AdpcmState adpcm{};
  DcHistory history{};
  int32_t sum = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(form->adpcm_encode(adpcm, history, sum, samples.data(), samples.size(), codes.data()));
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}

// "<operation>/<form>" for every form this processor runs.
const bool registered = [] {
  for (BlockPath path : AllBlockPaths) {
    const BlockFunctions* form = BlockFunctionsFor(path);
    if (form == nullptr) continue;
    const std::string suffix = std::string("/") + form->name;
    benchmark::RegisterBenchmark(("AlawDecodeBlock" + suffix).c_str(), BM_G711Decode, form->alaw_decode);
    benchmark::RegisterBenchmark(("MulawDecodeBlock" + suffix).c_str(), BM_G711Decode, form->mulaw_decode);
    benchmark::RegisterBenchmark(("AlawEncodeBlock" + suffix).c_str(), BM_G711Encode, form->alaw_encode);
    benchmark::RegisterBenchmark(("MulawEncodeBlock" + suffix).c_str(), BM_G711Encode, form->mulaw_encode);
    for (bool random : {false, true}) {
      const std::string signal = random ? "/random" : "/speech-like";
      benchmark::RegisterBenchmark(("AdpcmDecodeBlock" + suffix + signal).c_str(), BM_AdpcmDecode, form, random);
      benchmark::RegisterBenchmark(("AdpcmEncodeBlock" + suffix + signal).c_str(), BM_AdpcmEncode, form, random);
    }
  }
  return true;
}();

// The per-sample operations in a plain loop, the baseline the block conversions improve on.
void BM_AdpcmDecodeSampleLoop(benchmark::State& state) {
  const std::vector<uint8_t> bytes = AdpcmCodes(SpeechLikeSignal(kBlockSamples));
  std::vector<int16_t> samples(kBlockSamples);
  AdpcmState adpcm{};
  DcHistory history{};
  int32_t sum = 0;
  for (auto _ : state) {
    for (size_t i = 0; i < bytes.size(); ++i) {
      samples[2 * i] = AdpcmDecodeSample(adpcm, history, sum, bytes[i] >> 4);
      samples[2 * i + 1] = AdpcmDecodeSample(adpcm, history, sum, bytes[i] & 0x0F);
    }
    benchmark::DoNotOptimize(samples.data());
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}
BENCHMARK(BM_AdpcmDecodeSampleLoop)->Name("AdpcmDecodeSample loop");

void BM_AdpcmEncodeSampleLoop(benchmark::State& state) {
  const std::vector<int16_t> samples = SpeechLikeSignal(kBlockSamples);
  std::vector<uint8_t> codes(kBlockSamples / 2);
  AdpcmState adpcm{};
  DcHistory history{};
  int32_t sum = 0;
  for (auto _ : state) {
    for (size_t k = 0; k < codes.size(); ++k) {
      const uint8_t high = AdpcmEncodeSample(adpcm, history, sum, samples[2 * k]);
      const uint8_t low = AdpcmEncodeSample(adpcm, history, sum, samples[2 * k + 1]);
      codes[k] = static_cast<uint8_t>(high << 4 | low);
    }
    benchmark::DoNotOptimize(codes.data());
    benchmark::ClobberMemory();
  }
  SetSampleTime(state);
}
BENCHMARK(BM_AdpcmEncodeSampleLoop)->Name("AdpcmEncodeSample loop");

// One dependent addition per sample: the clock period, to read the figures above in cycles. On x86 eight
// additions sit in each loop step, so that the loop's own counting does not set the pace.
void BM_DependentAddition(benchmark::State& state) {
  uint32_t value = 0;
  for (auto _ : state) {
#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
    for (uint32_t i = 0; i < kBlockSamples; i += 8) {
      asm("add %1, %0\n\tadd %1, %0\n\tadd %1, %0\n\tadd %1, %0\n\t"
          "add %1, %0\n\tadd %1, %0\n\tadd %1, %0\n\tadd %1, %0"
          : "+r"(value)
          : "r"(i)
          : "cc");
    }
#else
    for (uint32_t i = 0; i < kBlockSamples; ++i) {
      value += i;
#if defined(__GNUC__)
      asm("" : "+r"(value));  // one addition per step, not folded or vectorised
#endif
    }
#endif
    benchmark::DoNotOptimize(value);
  }
  SetSampleTime(state);
}
BENCHMARK(BM_DependentAddition)->Name("one dependent addition (clock period)");

}  // namespace
