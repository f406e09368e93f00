// Registration and the stateless exports, through the built library.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "tests/support/exports.h"

namespace {

constexpr uint8_t HostPattern = 0xA7;

// Fills a record larger than FilterInfo with the host's pattern, registers, and returns the bytes.
std::vector<uint8_t> RegisterOverPattern(int16_t* result = nullptr) {
  std::vector<uint8_t> record(256, HostPattern);
  int16_t got = Exports().QueryMirlFilter(reinterpret_cast<FilterInfo*>(record.data()));
  if (result) *result = got;
  return record;
}

uint16_t Word16(const std::vector<uint8_t>& bytes, size_t offset) {
  return static_cast<uint16_t>(bytes[offset] | bytes[offset + 1] << 8);
}
uint32_t Word32(const std::vector<uint8_t>& bytes, size_t offset) {
  return Word16(bytes, offset) | static_cast<uint32_t>(Word16(bytes, offset + 2)) << 16;
}

}  // namespace

TEST(Registration, FillsExactlyTheRegistrationBytes) {
  int16_t result = 0;
  std::vector<uint8_t> record = RegisterOverPattern(&result);
  EXPECT_EQ(result, 0x0482);

  // Every byte the plug-in writes, with its value; every other byte must keep the host's pattern.
  std::vector<int> expected(record.size(), -1);
  auto text = [&](size_t offset, const char* value) {
    for (size_t i = 0; i <= std::strlen(value); ++i) expected[offset + i] = static_cast<uint8_t>(value[i]);
  };
  auto word16 = [&](size_t offset, uint16_t value) {
    expected[offset] = value & 0xFF;
    expected[offset + 1] = value >> 8;
  };
  text(0, "Kestrovan");
  text(24, "Kestrovan VOX");
  text(136, "VOX");
  for (size_t offset : {104, 106, 108, 110, 114, 116, 118, 120, 126, 128}) word16(offset, 0);
  word16(124, 0x00FF);
  word16(132, 0x010F);
  word16(134, 0);
  word16(140, 0x4000);
  word16(142, 0);

  for (size_t i = 0; i < record.size(); ++i) {
    int want = expected[i] < 0 ? HostPattern : expected[i];
    EXPECT_EQ(record[i], want) << "byte at offset " << i;
  }
  EXPECT_EQ(Word32(record, 132), 271u);
  EXPECT_EQ(Word32(record, 140), 16384u);
}

TEST(Registration, GivesTheSameAnswerEveryTime) {
  std::vector<uint8_t> first = RegisterOverPattern();
  for (int i = 0; i < 3; ++i) {
    int16_t result = 0;
    EXPECT_EQ(RegisterOverPattern(&result), first);
    EXPECT_EQ(result, 0x0482);
  }
}

TEST(SuggestedSampleType, RateFollowsTheFormatCodeOnly) {
  for (OptionsWord flags : {0x00u, 0x10u, 0x20u, 0x30u, 0xFFFFFFC0u}) {
    for (OptionsWord code = 0; code < 16; ++code) {
      int32_t rate = -1;
      int16_t bits = -1;
      int16_t channels = -1;
      Exports().GetSuggestedSampleType2(&rate, &bits, &channels, code | flags);
      bool six_thousand = code == 2 || code == 4 || code == 6;
      EXPECT_EQ(rate, six_thousand ? 6000 : 8000) << "word " << (code | flags);
      EXPECT_EQ(bits, 16);
      EXPECT_EQ(channels, 1);
    }
  }
}

TEST(SuggestedSampleType, WritesOnlyTheSixteenBitsOfItsShortArguments) {
  struct {
    int16_t bits;
    int16_t guard_after_bits;
  } bits{-1, 0x5A5A};
  struct {
    int16_t channels;
    int16_t guard_after_channels;
  } channels{-1, 0x5A5A};
  int32_t rate = 0;
  Exports().GetSuggestedSampleType2(&rate, &bits.bits, &channels.channels, 0x16);
  EXPECT_EQ(rate, 6000);
  EXPECT_EQ(bits.bits, 16);
  EXPECT_EQ(bits.guard_after_bits, 0x5A5A);
  EXPECT_EQ(channels.channels, 1);
  EXPECT_EQ(channels.guard_after_channels, 0x5A5A);
}

TEST(SpecialChunks, AlwaysAnswerZero) {
  const FilterExports& e = Exports();
  for (int32_t v : {0, 1, -1, 0x7FFFFFFF}) {
    EXPECT_EQ(e.FilterCanWriteSpecial(v, v), 0);
    EXPECT_EQ(e.FilterCanReadSpecial(v, -v), 0);
    EXPECT_EQ(e.FilterWriteSpecial(v, v, v, v), 0);
    EXPECT_EQ(e.FilterReadSpecial(v, 1, 2, v), 0);
  }
}
