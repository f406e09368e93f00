#include "codec/g711.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdint>

namespace {

// G.711 as a list of 128 quantisation intervals per polarity, 16 to a segment. Each interval is given by
// its lower decision value; the decoder outputs its midpoint.
struct Intervals {
  std::array<int, 128> lower;
  std::array<int, 128> width;
};

// A-law, 13-bit scale: segments 0 and 1 have intervals of width 2, segment S >= 2 of width 2^S; the first
// interval starts at 0.
Intervals AlawIntervals() {
  Intervals intervals{};
  int lower = 0;
  for (int n = 0; n < 128; ++n) {
    const int segment = n / 16;
    const int width = segment <= 1 ? 2 : 1 << segment;
    intervals.lower[n] = lower;
    intervals.width[n] = width;
    lower += width;
  }
  return intervals;
}

// mu-law, 14-bit scale: segment S has intervals of width 2^(S+1); the interval of zero is [-1, 1).
Intervals MulawIntervals() {
  Intervals intervals{};
  int lower = -1;
  for (int n = 0; n < 128; ++n) {
    const int width = 2 << (n / 16);
    intervals.lower[n] = lower;
    intervals.width[n] = width;
    lower += width;
  }
  return intervals;
}

uint8_t AlawByte(bool positive, int magnitude_index) {
  return static_cast<uint8_t>(((positive ? 0x80 : 0x00) | magnitude_index) ^ 0x55);
}

uint8_t MulawByte(bool positive, int magnitude_index) {
  return static_cast<uint8_t>((positive ? 0x80 : 0x00) + 127 - magnitude_index);
}

TEST(G711Decode, EveryAlawCodeIsTheIntervalMidpointTimesEight) {
  const Intervals intervals = AlawIntervals();
  for (int positive = 0; positive <= 1; ++positive) {
    for (int n = 0; n < 128; ++n) {
      const int midpoint = intervals.lower[n] + intervals.width[n] / 2;
      const int expected = (positive ? midpoint : -midpoint) * 8;
      const uint8_t code = AlawByte(positive, n);
      EXPECT_EQ(AlawToPcm(code), expected) << "A-law code 0x" << std::hex << int{code};
    }
  }
}

TEST(G711Decode, EveryMulawCodeIsTheIntervalMidpointTimesFour) {
  const Intervals intervals = MulawIntervals();
  for (int positive = 0; positive <= 1; ++positive) {
    for (int n = 0; n < 128; ++n) {
      const int midpoint = intervals.lower[n] + intervals.width[n] / 2;
      const int expected = (positive ? midpoint : -midpoint) * 4;
      const uint8_t code = MulawByte(positive, n);
      EXPECT_EQ(MulawToPcm(code), expected) << "mu-law code 0x" << std::hex << int{code};
    }
  }
}

TEST(G711Decode, NamedValues) {
  EXPECT_EQ(AlawToPcm(0xD5), 8);
  EXPECT_EQ(AlawToPcm(0x55), -8);
  EXPECT_EQ(AlawToPcm(0xD4), 24);
  EXPECT_EQ(AlawToPcm(0xAA), 32256);
  EXPECT_EQ(AlawToPcm(0x2A), -32256);
  EXPECT_EQ(AlawToPcm(0x00), -5504);
  EXPECT_EQ(AlawToPcm(0x80), 5504);
  EXPECT_EQ(MulawToPcm(0xFF), 0);
  EXPECT_EQ(MulawToPcm(0x7F), 0);
  EXPECT_EQ(MulawToPcm(0xFE), 8);
  EXPECT_EQ(MulawToPcm(0x80), 32124);
  EXPECT_EQ(MulawToPcm(0x00), -32124);
}

// A-law encoding is G.711's quantiser applied to |s| / 8, the sign mirrored; -32768 counts as -32767.
TEST(G711Encode, EveryAlawSampleFallsInItsG711Interval) {
  const Intervals intervals = AlawIntervals();
  for (int s = -32768; s <= 32767; ++s) {
    const int magnitude = s == -32768 ? 32767 : (s < 0 ? -s : s);
    const int scaled = magnitude / 8;
    int n = 127;
    while (intervals.lower[n] > scaled) --n;
    ASSERT_EQ(PcmToAlaw(static_cast<int16_t>(s)), AlawByte(s >= 0, n)) << "sample " << s;
  }
}

// mu-law encoding: the magnitude of s / 4 (truncated) against decision levels one above G.711's.
TEST(G711Encode, EveryMulawSampleFallsInItsShiftedInterval) {
  const Intervals intervals = MulawIntervals();
  for (int s = -32768; s <= 32767; ++s) {
    const int v = s / 4;
    const int magnitude = v < 0 ? -v : v;
    int n = 127;
    while (intervals.lower[n] + 1 > magnitude) --n;
    ASSERT_EQ(PcmToMulaw(static_cast<int16_t>(s)), MulawByte(v >= 0, n)) << "sample " << s;
  }
}

TEST(G711Encode, NamedValues) {
  struct Case {
    int16_t sample;
    uint8_t code;
  };
  for (const Case& c : {Case{0, 0xD5}, Case{15, 0xD5}, Case{16, 0xD4}, Case{-1, 0x55}, Case{-15, 0x55}, Case{-16, 0x54},
                        Case{2047, 0xEA}, Case{2048, 0x95}, Case{32767, 0xAA}, Case{-32767, 0x2A}, Case{-32768, 0x2A},
                        Case{1000, 0xFA}}) {
    EXPECT_EQ(PcmToAlaw(c.sample), c.code) << "A-law of " << c.sample;
  }
  EXPECT_EQ(AlawToPcm(PcmToAlaw(1000)), 1008);
  for (int s = 0; s <= 7; ++s) EXPECT_EQ(PcmToMulaw(static_cast<int16_t>(s)), 0xFF) << "mu-law of " << s;
  for (const Case& c : {Case{8, 0xFE}, Case{-1, 0xFF}, Case{-3, 0xFF}, Case{-4, 0x7F}, Case{-8, 0x7E}, Case{127, 0xF0},
                        Case{128, 0xEF}, Case{31615, 0x81}, Case{31616, 0x80}, Case{32767, 0x80}, Case{-32768, 0x00},
                        Case{1000, 0xCE}, Case{-1000, 0x4E}}) {
    EXPECT_EQ(PcmToMulaw(c.sample), c.code) << "mu-law of " << c.sample;
  }
  EXPECT_EQ(MulawToPcm(PcmToMulaw(1000)), 988);
}

TEST(G711RoundTrip, ReEncodingADecodedCodeGivesTheCode) {
  for (int code = 0; code < 256; ++code) {
    const auto byte = static_cast<uint8_t>(code);
    EXPECT_EQ(PcmToAlaw(AlawToPcm(byte)), byte) << "A-law code " << code;
    const uint8_t expected_mulaw = byte == 0x7F ? 0xFF : byte;  // negative zero comes back positive
    EXPECT_EQ(PcmToMulaw(MulawToPcm(byte)), expected_mulaw) << "mu-law code " << code;
  }
}

}  // namespace
