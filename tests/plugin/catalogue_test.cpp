// The catalogue rules over all sixteen format codes, with and without flags.
#include "plugin/catalogue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

OptionsWord CodeForText(const char* four) {
  char text[FileTagLength + 1] = {};
  std::memcpy(text, four, FileTagLength);
  return CodeForTag(text);
}

}  // namespace

TEST(Catalogue, RulesForEveryCodeAndFlagCombination) {
  const char* tags[] = {nullptr, "064A", "048A", "064U", "048U", "032D", "024D"};
  for (OptionsWord flags : {0x00u, 0x10u, 0x20u, 0x30u, 0x100u, 0x80000000u}) {
    for (OptionsWord code = 0; code < 16; ++code) {
      OptionsWord word = code | flags;
      SCOPED_TRACE("word " + std::to_string(word));
      EXPECT_EQ(FormatCode(word), code);
      EXPECT_EQ(SampleRate(word), code == 2 || code == 4 || code == 6 ? 6000 : 8000);
      Coding want = code == 1 || code == 2   ? Coding::Alaw
                    : code == 3 || code == 4 ? Coding::Mulaw
                    : code == 5 || code == 6 ? Coding::Adpcm
                                             : Coding::None;
      EXPECT_EQ(CodingOf(word), want);
      EXPECT_EQ(IsAdpcm(word), want == Coding::Adpcm);
      EXPECT_EQ(PcmBytesPerFileByte(word), want == Coding::Adpcm ? 4 : 2);
      const char* tag = TagForWriting(word);
      if (flags == 0 && code >= 1 && code <= 6) {
        ASSERT_NE(tag, nullptr);
        EXPECT_STREQ(tag, tags[code]);
      } else {
        EXPECT_EQ(tag, nullptr);
      }
      if (code <= 6) {
        ASSERT_NE(DisplayName(word), nullptr);
      } else {
        EXPECT_EQ(DisplayName(word), nullptr);
      }
    }
  }
}

TEST(Catalogue, DisplayNamesNameTheBitRate) {
  EXPECT_STREQ(DisplayName(0), "Kestrovan Unknown Format");
  EXPECT_STREQ(DisplayName(1), "Kestrovan 64KB A-Law");
  EXPECT_STREQ(DisplayName(2), "Kestrovan 48KB A-Law");
  EXPECT_STREQ(DisplayName(3), "Kestrovan 64KB U-Law");
  EXPECT_STREQ(DisplayName(4), "Kestrovan 48KB U-Law");
  EXPECT_STREQ(DisplayName(5), "Kestrovan 32KB ADPCM");
  EXPECT_STREQ(DisplayName(6), "Kestrovan 24KB ADPCM");
  // The "KB" figure is rate times coded bits per sample.
  for (OptionsWord code = 1; code <= 6; ++code) {
    int bits = IsAdpcm(code) ? 4 : 8;
    std::string figure = std::to_string(SampleRate(code) * bits / 1000) + "KB";
    EXPECT_NE(std::string(DisplayName(code)).find(figure), std::string::npos) << DisplayName(code);
  }
}

TEST(Catalogue, TagsAreMatchedExactlyAndInOrder) {
  EXPECT_EQ(CodeForText("064A"), 1u);
  EXPECT_EQ(CodeForText("048A"), 2u);
  EXPECT_EQ(CodeForText("064U"), 3u);
  EXPECT_EQ(CodeForText("048U"), 4u);
  EXPECT_EQ(CodeForText("032D"), 5u);
  EXPECT_EQ(CodeForText("024D"), 6u);
  EXPECT_EQ(CodeForText("064a"), 0u);
  EXPECT_EQ(CodeForText("64A "), 0u);
  EXPECT_EQ(CodeForText("032d"), 0u);
  EXPECT_EQ(CodeForText("RIFF"), 0u);
  // A zero byte ends the text, so it can never match a four-letter tag.
  EXPECT_EQ(CodeForText(std::string("064\0", 4).c_str()), 0u);
  EXPECT_EQ(CodeForText(std::string("\0"
                                    "64A",
                                    4)
                            .c_str()),
            0u);
}
