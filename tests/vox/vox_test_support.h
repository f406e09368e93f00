// Small helpers for the file input and output suites: opening through the exports with sentinels in the
// out-arguments, reading a whole file, writing PCM as the host does.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/catalogue.h"
#include "tests/support/exports.h"

inline constexpr int32_t Sentinel32 = 0x5EE5A11;
inline constexpr int16_t Sentinel16 = 0x5EE;

struct OpenedInput {
  FilterHandle handle = nullptr;
  int32_t rate = Sentinel32;
  int16_t bits = Sentinel16;
  int16_t channels = Sentinel16;
  int32_t block_size = Sentinel32;
};

inline OpenedInput OpenInput(const std::string& path, bool second_form = false, int32_t seventh = 0) {
  OpenedInput in;
  in.handle =
      second_form
          ? Exports().OpenFilterInput2(path.c_str(), &in.rate, &in.bits, &in.channels, 0, &in.block_size, seventh)
          : Exports().OpenFilterInput(path.c_str(), &in.rate, &in.bits, &in.channels, 0, &in.block_size);
  return in;
}

// Reads to the end in requests of `request_bytes`, returning the PCM samples; every result must be a
// non-negative multiple of two.
inline std::vector<int16_t> ReadAll(FilterHandle handle, int32_t request_bytes = BlockSize,
                                    const FilterExports& exports = Exports()) {
  std::vector<int16_t> samples;
  std::vector<int16_t> block(BlockSize / 2);
  for (;;) {
    int32_t got = exports.ReadFilterInput(handle, reinterpret_cast<uint8_t*>(block.data()), request_bytes);
    if (got <= 0) break;
    samples.insert(samples.end(), block.begin(), block.begin() + got / 2);
  }
  return samples;
}

// Writes the samples through an output in blocks of `block_bytes` (a copy, since coding is in place);
// returns false when any write reports less than it was given.
inline bool WriteAll(FilterHandle handle, const std::vector<int16_t>& samples, size_t block_bytes = BlockSize,
                     const FilterExports& exports = Exports()) {
  size_t block_samples = block_bytes / 2;
  for (size_t start = 0; start < samples.size(); start += block_samples) {
    size_t count = std::min(block_samples, samples.size() - start);
    std::vector<int16_t> block(samples.begin() + start, samples.begin() + start + count);
    int32_t want = static_cast<int32_t>(count * 2);
    int32_t got = exports.WriteFilterOutput(handle, reinterpret_cast<uint8_t*>(block.data()), want);
    if (got < want) return false;
  }
  return true;
}

// A test signal: a sweep with a slow envelope and a little deterministic noise, full 16-bit range at its peaks.
inline std::vector<int16_t> TestSignal(size_t count, uint32_t seed = 1) {
  std::vector<int16_t> samples(count);
  uint32_t noise = seed;
  double phase = 0;
  for (size_t i = 0; i < count; ++i) {
    noise = noise * 1664525u + 1013904223u;
    phase += 0.02 + 0.3 * static_cast<double>(i % 4000) / 4000.0;
    double envelope = 0.5 + 0.5 * __builtin_sin(static_cast<double>(i) / 700.0);
    double value = 33000.0 * envelope * __builtin_sin(phase) + static_cast<double>(noise >> 20) - 2048.0;
    samples[i] = static_cast<int16_t>(value > 32767 ? 32767 : value < -32768 ? -32768 : value);
  }
  return samples;
}
