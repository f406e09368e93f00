// ITU-T G.711 A-law and mu-law conversion between 8-bit code bytes and 16-bit PCM samples.
//
// The code bytes are the G.711 characters as transmitted and as the files store them:
//   A-law:  (P*0x80 + S*0x10 + M) XOR 0x55   (even bits inverted; bit 7 = P stays as it is)
//   mu-law:  P*0x80 + (127 - (S*16 + M))     (inverted magnitude; 0xFF and 0x7F are both zero)
// P is the polarity (1 for a sample of 0 or more), S the segment 0..7, M the mantissa 0..15.
//
// Decoding is one lookup in a 256-entry table of G.711's decoder output values, scaled from the 13-bit
// (A-law) or 14-bit (mu-law) scale up to 16 bits. Encoding is a chain of comparisons on the magnitude.
#pragma once

#include <array>
#include <cstdint>

namespace g711_detail {

// G.711 A-law decoder output on the 13-bit scale, magnitudes 1..4032.
constexpr int16_t AlawExpand(uint8_t code) {
  const int e = (code ^ 0x55) & 0x7F;
  const int segment = e >> 4;
  const int mantissa = e & 0x0F;
  const int magnitude = segment == 0 ? 2 * mantissa + 1 : (2 * mantissa + 33) << (segment - 1);
  return static_cast<int16_t>(code >= 0x80 ? magnitude : -magnitude);
}

// G.711 mu-law decoder output on the 14-bit scale, magnitudes 0..8031.
constexpr int16_t MulawExpand(uint8_t code) {
  const int e = ~code & 0x7F;
  const int segment = e >> 4;
  const int mantissa = e & 0x0F;
  const int magnitude = ((2 * mantissa + 33) << segment) - 33;
  return static_cast<int16_t>(code >= 0x80 ? magnitude : -magnitude);
}

template <int16_t (*Expand)(uint8_t)>
constexpr std::array<int16_t, 256> MakeExpandTable() {
  std::array<int16_t, 256> table{};
  for (int code = 0; code < 256; ++code) table[code] = Expand(static_cast<uint8_t>(code));
  return table;
}

}  // namespace g711_detail

// Indexed by the stored code byte.
inline constexpr std::array<int16_t, 256> AlawExpandTable = g711_detail::MakeExpandTable<g711_detail::AlawExpand>();
inline constexpr std::array<int16_t, 256> MulawExpandTable = g711_detail::MakeExpandTable<g711_detail::MulawExpand>();

static_assert(AlawExpandTable[0x00] == -688 && AlawExpandTable[0x01] == -656 && AlawExpandTable[0x02] == -752 &&
              AlawExpandTable[0x03] == -720);
static_assert(AlawExpandTable[0xAA] == 4032 && AlawExpandTable[0x2A] == -4032);
static_assert(AlawExpandTable[0xD5] == 1 && AlawExpandTable[0x55] == -1);
static_assert(MulawExpandTable[0x00] == -8031 && MulawExpandTable[0x01] == -7775 && MulawExpandTable[0x02] == -7519);
static_assert(MulawExpandTable[0x70] == -30 && MulawExpandTable[0x7E] == -2 && MulawExpandTable[0x7F] == 0);
static_assert(MulawExpandTable[0xF0] == 30 && MulawExpandTable[0xFE] == 2 && MulawExpandTable[0xFF] == 0);
static_assert(MulawExpandTable[0x80] == 8031);

// The scaling to 16 bits is a multiplication (a left shift in effect); the largest results, 32256 and
// 32124, fit.
constexpr int16_t AlawToPcm(uint8_t code) { return static_cast<int16_t>(AlawExpandTable[code] * 8); }
constexpr int16_t MulawToPcm(uint8_t code) { return static_cast<int16_t>(MulawExpandTable[code] * 4); }

// G.711 A-law quantisation of |sample| / 8 on the 13-bit scale. A negative sample is coded by its exact
// magnitude (not its one's complement), so s and -s differ only in bit 7; -32768 is coded as -32767.
constexpr uint8_t PcmToAlaw(int16_t sample) {
  const int32_t s = sample;
  const int32_t polarity = static_cast<int32_t>(s >= 0) << 7;
  const int32_t absolute = s < 0 ? -s : s;
  const int32_t magnitude = absolute < 32767 ? absolute : 32767;  // -32768 is coded as -32767
  // The segment is the count of segment starts that the magnitude reaches (256, 512, ..., 16384). Segments
  // 0 and 1 share one step size, so segment 0 keeps the shift of segment 1. Counting comparisons instead of
  // branching on them keeps speech, whose magnitudes jump between segments, free of mispredicted branches.
  const int32_t segment = (magnitude >= 256) + (magnitude >= 512) + (magnitude >= 1024) + (magnitude >= 2048) +
                          (magnitude >= 4096) + (magnitude >= 8192) + (magnitude >= 16384);
  const int32_t shift = segment + 3 + (segment == 0);
  const int32_t bits = (segment << 4) + ((magnitude >> shift) & 0x0F);
  return static_cast<uint8_t>((polarity + bits) ^ 0x55);
}

// mu-law on the 14-bit scale (sample / 4, truncated toward zero, so -1..-3 count as positive zero).
// The decision levels lie one unit above G.711's: 2, 4, ..., 32, 36, ..., 7904.
//
// With the magnitude biased by 32 the segment starts (32, 96, 224, ..., 4064) become the powers of two 64,
// 128, ..., 4096, and the position within a segment is the biased magnitude's next four bits. Magnitudes of
// 8160 and more would run past the last segment; they are held at its top, which codes as 0x80.
constexpr uint8_t PcmToMulaw(int16_t sample) {
  const int32_t v = sample / 4;
  const int32_t magnitude = v < 0 ? -v : v;
  const int32_t biased = magnitude + 32 < 8191 ? magnitude + 32 : 8191;
  const int32_t segment = (biased >= 64) + (biased >= 128) + (biased >= 256) + (biased >= 512) + (biased >= 1024) +
                          (biased >= 2048) + (biased >= 4096);
  const int32_t value = 0xFF - (segment << 4) - ((biased >> (segment + 1)) & 0x0F);
  return static_cast<uint8_t>(value - (static_cast<int32_t>(v < 0) << 7));  // a negative sample clears bit 7
}

static_assert(AlawToPcm(0xD5) == 8 && AlawToPcm(0xAA) == 32256 && AlawToPcm(0x2A) == -32256);
static_assert(MulawToPcm(0x80) == 32124 && MulawToPcm(0x00) == -32124);
static_assert(PcmToAlaw(16) == 0xD4 && PcmToAlaw(-16) == 0x54 && PcmToAlaw(-32768) == 0x2A);
static_assert(PcmToMulaw(-3) == 0xFF && PcmToMulaw(-4) == 0x7F && PcmToMulaw(31616) == 0x80);
