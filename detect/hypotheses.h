// The twelve readings of a byte buffer that the coding detector compares, each giving decoded samples and the
// quantiser cell that every sample's code stands for.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "codec/adpcm.h"

enum class Hypothesis : uint8_t {
  Alaw,
  Mulaw,
  Adpcm,          // high nibble first, as the format stores it
  AdpcmLowFirst,  // nibbles swapped
  AlawBitrev,     // bit order of each byte reversed
  MulawBitrev,
  AlawNoinv,      // A-law stored without its even-bit inversion
  MulawNoinv,     // mu-law stored with its magnitude not inverted
  PcmU8,
  PcmS8,
  PcmS16le,
  PcmS16be,
};

inline constexpr bool IsNative(Hypothesis h) {
  return h == Hypothesis::Alaw || h == Hypothesis::Mulaw || h == Hypothesis::Adpcm;
}

// The number of distinct codes one sample's code is drawn from.
inline constexpr double CodeAlphabetSize(Hypothesis h) {
  switch (h) {
    case Hypothesis::Adpcm:
    case Hypothesis::AdpcmLowFirst:
      return 16;
    case Hypothesis::PcmS16le:
    case Hypothesis::PcmS16be:
      return 65536;
    default:
      return 256;
  }
}

// Decoded samples in 16-bit PCM units with the cell [low, high] of each; an open cell edge is +-infinity.
struct CellStream {
  std::vector<int32_t> values;
  std::vector<double> low;
  std::vector<double> high;
};

// The decoder's state between stretches of bytes (only ADPCM has one).
struct CellDecoder {
  AdpcmState state{0, 0};
  DcHistory history{};
  int32_t sum = 0;
};

// Decodes `byte_count` bytes from a fresh decoder state and appends the samples to `out`: one per byte, two per
// byte for ADPCM, one per whole byte pair for 16-bit PCM (an odd last byte gives none).
void DecodeWithCells(Hypothesis hypothesis, const uint8_t* bytes, size_t byte_count, CellStream& out);
// The same, going on from `decoder`; stretches of 16-bit PCM must be of even length but for the last.
void DecodeWithCells(Hypothesis hypothesis, CellDecoder& decoder, const uint8_t* bytes, size_t byte_count,
                     CellStream& out);
