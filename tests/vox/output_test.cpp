// Saving PCM through the exports, and reading it back.
#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "codec/adpcm.h"
#include "codec/g711.h"
#include "tests/support/temp_files.h"
#include "tests/vox/vox_test_support.h"

using testing_files::NewPath;
using testing_files::ReadFile;

namespace {

struct OpenedOutput {
  FilterHandle handle = nullptr;
  int32_t block_size = Sentinel32;
  std::string path;
};

OpenedOutput OpenOutput(OptionsWord options, int32_t rate, int32_t bits = 16, int32_t channels = 1, int32_t size = 0) {
  OpenedOutput out;
  out.path = NewPath(".vox");
  out.handle = Exports().OpenFilterOutput(out.path.c_str(), rate, bits, channels, size, &out.block_size, options);
  return out;
}

// Writes a copy of the samples; `byte_count` defaults to all of them.
int32_t Write(FilterHandle handle, std::vector<int16_t> samples, std::optional<int32_t> byte_count = {}) {
  return Exports().WriteFilterOutput(handle, reinterpret_cast<uint8_t*>(samples.data()),
                                     byte_count.value_or(static_cast<int32_t>(samples.size() * 2)));
}

// The codes the codec functions give for these samples, packed as a file holds them.
std::vector<uint8_t> Coded(const std::vector<int16_t>& samples, Coding coding) {
  std::vector<uint8_t> bytes;
  AdpcmState state{};
  DcTracker tracker{};
  for (size_t i = 0; i < samples.size(); ++i) {
    if (coding == Coding::Alaw) bytes.push_back(PcmToAlaw(samples[i]));
    if (coding == Coding::Mulaw) bytes.push_back(PcmToMulaw(samples[i]));
    if (coding == Coding::Adpcm && i % 2 == 0) {
      uint8_t high = AdpcmEncodeSample(state, tracker.history, tracker.sum, samples[i]);
      int16_t partner = i + 1 < samples.size() ? samples[i + 1] : samples[i];
      uint8_t low = AdpcmEncodeSample(state, tracker.history, tracker.sum, partner);
      bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
  }
  return bytes;
}

std::vector<uint8_t> WithTag(const char* tag, std::vector<uint8_t> bytes) {
  if (tag) bytes.insert(bytes.begin(), tag, tag + 4);
  return bytes;
}

}  // namespace

TEST(FilterOutput, WordZeroMeansTaggedALawAtEightThousand) {
  OpenedOutput out = OpenOutput(0, 8000);
  ASSERT_NE(out.handle, nullptr);
  EXPECT_EQ(out.block_size, 16384);
  std::vector<int16_t> samples = TestSignal(1000);
  EXPECT_EQ(Write(out.handle, samples), 2000);
  Exports().CloseFilterOutput(out.handle);
  EXPECT_EQ(ReadFile(out.path), WithTag("064A", Coded(samples, Coding::Alaw)));

  OpenedOutput refused = OpenOutput(0, 6000);
  EXPECT_EQ(refused.handle, nullptr);
  EXPECT_EQ(refused.block_size, Sentinel32);
  EXPECT_FALSE(std::filesystem::exists(refused.path));
}

TEST(FilterOutput, SampleTypeMustFitTheFormat) {
  struct Case {
    OptionsWord options;
    int32_t rate, bits, channels;
    bool accepted;
  } cases[] = {
      {3, 6000, 16, 1, false},
      {4, 8000, 16, 1, false},
      {1, 8000, 8, 1, false},
      {1, 8000, 16, 2, false},
      {5, 8000, 16, 1, true},
      {6, 6000, 16, 1, true},
      {2, 8000, 16, 1, false},
      {7, 44100, 16, 1, true},
      {0x10, 123, 16, 1, true},
      // Only the low 16 bits of bits and channels count.
      {1, 8000, 0x10010, 0x20001, true},
      {1, 8000, 16, 0x10001, true},
      {4, 6000, 16 + 65536, 1, true},
  };
  for (const Case& c : cases) {
    OpenedOutput out = OpenOutput(c.options, c.rate, c.bits, c.channels);
    EXPECT_EQ(out.handle != nullptr, c.accepted)
        << "options " << c.options << " rate " << c.rate << " bits " << c.bits << " channels " << c.channels;
    EXPECT_EQ(std::filesystem::exists(out.path), c.accepted);
    EXPECT_EQ(out.block_size, c.accepted ? 16384 : Sentinel32);
    Exports().CloseFilterOutput(out.handle);
  }
}

TEST(FilterOutput, FlagsSuppressTheTag) {
  std::vector<int16_t> samples = TestSignal(501);
  struct Case {
    OptionsWord options;
    int32_t rate;
    const char* tag;
    Coding coding;
  } cases[] = {{1, 8000, "064A", Coding::Alaw},      {2, 6000, "048A", Coding::Alaw},
               {3, 8000, "064U", Coding::Mulaw},     {4, 6000, "048U", Coding::Mulaw},
               {5, 8000, "032D", Coding::Adpcm},     {6, 6000, "024D", Coding::Adpcm},
               {0x12, 6000, nullptr, Coding::Alaw},  {0x25, 8000, nullptr, Coding::Adpcm},
               {0x33, 8000, nullptr, Coding::Mulaw}, {0x116, 6000, nullptr, Coding::Adpcm}};
  for (const Case& c : cases) {
    SCOPED_TRACE("options " + std::to_string(c.options));
    OpenedOutput out = OpenOutput(c.options, c.rate);
    ASSERT_NE(out.handle, nullptr);
    int32_t want = c.coding == Coding::Adpcm ? 251 * 4 : 1002;
    EXPECT_EQ(Write(out.handle, samples), want);
    Exports().CloseFilterOutput(out.handle);
    EXPECT_EQ(ReadFile(out.path), WithTag(c.tag, Coded(samples, c.coding)));
  }
}

TEST(FilterOutput, CodesWithoutACodingWriteNothing) {
  OpenedOutput out = OpenOutput(7, 44100);
  ASSERT_NE(out.handle, nullptr);
  EXPECT_EQ(Write(out.handle, TestSignal(100)), 0);
  Exports().CloseFilterOutput(out.handle);
  EXPECT_TRUE(ReadFile(out.path).empty());
}

TEST(FilterOutput, BlockLengthsAndInPlaceCoding) {
  OpenedOutput alaw = OpenOutput(0x11, 8000);
  std::vector<int16_t> block = TestSignal(BlockSize / 2);
  std::vector<int16_t> work = block;
  EXPECT_EQ(Exports().WriteFilterOutput(alaw.handle, reinterpret_cast<uint8_t*>(work.data()), BlockSize), BlockSize);
  std::vector<uint8_t> coded = Coded(block, Coding::Alaw);
  EXPECT_EQ(
      std::vector<uint8_t>(reinterpret_cast<uint8_t*>(work.data()), reinterpret_cast<uint8_t*>(work.data()) + 8192),
      coded)
      << "the start of the caller's buffer holds the coded bytes";
  EXPECT_EQ(Write(alaw.handle, {100, 200, 300}, 5), 4);
  EXPECT_EQ(Write(alaw.handle, {100}, 1), 0);
  EXPECT_EQ(Write(alaw.handle, {100}, 0), 0);
  EXPECT_EQ(Write(alaw.handle, {100}, -2), 0);
  EXPECT_EQ(Exports().WriteFilterOutput(alaw.handle, nullptr, 100), 0);
  Exports().CloseFilterOutput(alaw.handle);
  EXPECT_EQ(ReadFile(alaw.path).size(), 8192u + 2u);

  OpenedOutput adpcm = OpenOutput(5, 8000);
  EXPECT_EQ(Write(adpcm.handle, block), BlockSize);
  Exports().CloseFilterOutput(adpcm.handle);
  EXPECT_EQ(ReadFile(adpcm.path).size(), 4u + 4096u);
}

TEST(FilterOutput, SignsOfTheSmallestSamples) {
  OpenedOutput alaw = OpenOutput(0x11, 8000);
  EXPECT_EQ(Write(alaw.handle, {16, -16}), 4);
  Exports().CloseFilterOutput(alaw.handle);
  EXPECT_EQ(ReadFile(alaw.path), (std::vector<uint8_t>{0xD4, 0x54}));

  OpenedOutput mulaw = OpenOutput(0x13, 8000);
  EXPECT_EQ(Write(mulaw.handle, {0, -4}), 4);
  Exports().CloseFilterOutput(mulaw.handle);
  EXPECT_EQ(ReadFile(mulaw.path), (std::vector<uint8_t>{0xFF, 0x7F}));
}

TEST(FilterOutput, AdpcmBlocksContinueOneStream) {
  std::vector<int16_t> samples = TestSignal(16, 3);
  OpenedOutput whole = OpenOutput(0x15, 8000);
  EXPECT_EQ(Write(whole.handle, samples), 32);
  Exports().CloseFilterOutput(whole.handle);
  OpenedOutput halves = OpenOutput(0x15, 8000);
  EXPECT_EQ(Write(halves.handle, std::vector<int16_t>(samples.begin(), samples.begin() + 8)), 16);
  EXPECT_EQ(Write(halves.handle, std::vector<int16_t>(samples.begin() + 8, samples.end())), 16);
  Exports().CloseFilterOutput(halves.handle);
  EXPECT_EQ(ReadFile(whole.path).size(), 8u);
  EXPECT_EQ(ReadFile(whole.path), ReadFile(halves.path));
}

TEST(FilterOutput, OddAdpcmBlockRepeatsItsLastSampleInTheLowNibble) {
  std::vector<int16_t> samples = TestSignal(7, 9);
  OpenedOutput out = OpenOutput(0x16, 6000);
  // Seven samples make four bytes, counted as 16 PCM bytes; the byte count's odd last byte is ignored.
  EXPECT_EQ(Write(out.handle, samples, 15), 16);
  Exports().CloseFilterOutput(out.handle);
  EXPECT_EQ(ReadFile(out.path), Coded(samples, Coding::Adpcm));
}

TEST(FilterOutput, CloseRightAfterOpenLeavesTheTagOrNothing) {
  OpenedOutput tagged = OpenOutput(4, 6000);
  Exports().CloseFilterOutput(tagged.handle);
  EXPECT_EQ(ReadFile(tagged.path), (std::vector<uint8_t>{'0', '4', '8', 'U'}));
  OpenedOutput untagged = OpenOutput(0x14, 6000);
  Exports().CloseFilterOutput(untagged.handle);
  EXPECT_TRUE(ReadFile(untagged.path).empty());
}

TEST(FilterOutput, FileSizeOfAnOutputIsTheHostsValue) {
  OpenedOutput out = OpenOutput(1, 8000, 16, 1, 123456);
  EXPECT_EQ(Exports().FilterGetFileSize(out.handle), 123456);
  Exports().CloseFilterOutput(out.handle);
}

TEST(FilterOutput, UncreatableFileIsRefused) {
  int32_t block_size = Sentinel32;
  std::string path = (testing_files::ScratchFolder() / "no-such-folder" / "x.vox").string();
  EXPECT_EQ(Exports().OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 1), nullptr);
  EXPECT_EQ(block_size, Sentinel32);
  EXPECT_EQ(Exports().OpenFilterOutput(nullptr, 8000, 16, 1, 0, &block_size, 1), nullptr);
}

TEST(RoundTrip, EveryCodingTaggedAndRawReadsBackWhatTheCodecGives) {
  std::vector<int16_t> samples = TestSignal(40001, 5);
  for (OptionsWord code = 1; code <= 6; ++code) {
    for (OptionsWord flags : {0u, 0x10u}) {
      SCOPED_TRACE("options " + std::to_string(code | flags));
      OpenedOutput out = OpenOutput(code | flags, SampleRate(code));
      ASSERT_NE(out.handle, nullptr);
      ASSERT_TRUE(WriteAll(out.handle, samples, 6000));
      Exports().CloseFilterOutput(out.handle);

      OpenedInput in = OpenInput(out.path);
      ASSERT_NE(in.handle, nullptr);
      if (flags != 0) {
        int32_t rate = 0;
        Exports().FilterSetOptions2(in.handle, code, &rate, 0, 0);
        EXPECT_EQ(rate, SampleRate(code));
      } else {
        EXPECT_EQ(in.rate, SampleRate(code));
      }
      std::vector<int16_t> decoded = ReadAll(in.handle);
      Exports().CloseFilterInput(in.handle);

      // The decoder fed the codes the codec functions make.
      std::vector<uint8_t> codes = Coded(samples, CodingOf(code));
      std::vector<int16_t> expected;
      AdpcmState state{};
      DcTracker tracker{};
      for (uint8_t byte : codes) {
        if (CodingOf(code) == Coding::Alaw) expected.push_back(AlawToPcm(byte));
        if (CodingOf(code) == Coding::Mulaw) expected.push_back(MulawToPcm(byte));
        if (CodingOf(code) == Coding::Adpcm) {
          expected.push_back(AdpcmDecodeSample(state, tracker.history, tracker.sum, byte >> 4));
          expected.push_back(AdpcmDecodeSample(state, tracker.history, tracker.sum, byte & 15));
        }
      }
      ASSERT_EQ(decoded, expected);
      // An odd ADPCM count decodes to one sample more; the rest lines up with the input.
      EXPECT_EQ(decoded.size(), IsAdpcm(code) ? samples.size() + 1 : samples.size());
    }
  }
}
