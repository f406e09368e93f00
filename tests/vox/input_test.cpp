// Opening and reading VOX files through the exports.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "codec/adpcm.h"
#include "codec/g711.h"
#include "tests/support/temp_files.h"
#include "tests/vox/vox_test_support.h"

using testing_files::WriteFile;

namespace {

std::vector<uint8_t> Bytes(const std::string& head, size_t body_bytes, uint8_t seed = 7) {
  std::vector<uint8_t> bytes(head.begin(), head.end());
  uint32_t state = seed;
  for (size_t i = 0; i < body_bytes; ++i) {
    state = state * 1103515245u + 12345u;
    bytes.push_back(static_cast<uint8_t>(state >> 16));
  }
  return bytes;
}

// What the codec functions give for the data bytes, decoded in file order from the start state.
std::vector<int16_t> Expected(const std::vector<uint8_t>& data, Coding coding) {
  std::vector<int16_t> samples;
  AdpcmState state{};
  DcTracker tracker{};
  for (uint8_t byte : data) {
    if (coding == Coding::Alaw) samples.push_back(AlawToPcm(byte));
    if (coding == Coding::Mulaw) samples.push_back(MulawToPcm(byte));
    if (coding == Coding::Adpcm) {
      samples.push_back(AdpcmDecodeSample(state, tracker.history, tracker.sum, byte >> 4));
      samples.push_back(AdpcmDecodeSample(state, tracker.history, tracker.sum, byte & 0x0F));
    }
  }
  return samples;
}

int32_t Read(FilterHandle handle, std::vector<int16_t>& buffer, int32_t request_bytes) {
  return Exports().ReadFilterInput(handle, reinterpret_cast<uint8_t*>(buffer.data()), request_bytes);
}

}  // namespace

TEST(FilterInput, TaggedAdpcmFileAnnouncesItselfAndReadsInFullBlocks) {
  auto bytes = Bytes("032D", 10000);
  OpenedInput in = OpenInput(WriteFile(bytes, ".vox"));
  ASSERT_NE(in.handle, nullptr);
  EXPECT_EQ(in.rate, 8000);
  EXPECT_EQ(in.bits, 16);
  EXPECT_EQ(in.channels, 1);
  EXPECT_EQ(in.block_size, 16384);
  EXPECT_EQ(Exports().FilterGetFileSize(in.handle), 40000);
  EXPECT_EQ(Exports().FilterOptions(in.handle), 5u);

  std::vector<int16_t> buffer(BlockSize / 2);
  std::vector<int16_t> all;
  for (int32_t want : {16384, 16384, 7232, 0, 0}) {
    int32_t got = Read(in.handle, buffer, BlockSize);
    EXPECT_EQ(got, want);
    if (got > 0) all.insert(all.end(), buffer.begin(), buffer.begin() + got / 2);
  }
  EXPECT_EQ(all, Expected(std::vector<uint8_t>(bytes.begin() + 4, bytes.end()), Coding::Adpcm));
  Exports().CloseFilterInput(in.handle);
}

TEST(FilterInput, EveryTagGivesItsRateAndDecoding) {
  struct Case {
    const char* tag;
    int32_t rate;
    Coding coding;
    OptionsWord code;
  } cases[] = {{"064A", 8000, Coding::Alaw, 1},  {"048A", 6000, Coding::Alaw, 2},  {"064U", 8000, Coding::Mulaw, 3},
               {"048U", 6000, Coding::Mulaw, 4}, {"032D", 8000, Coding::Adpcm, 5}, {"024D", 6000, Coding::Adpcm, 6}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.tag);
    auto bytes = Bytes(c.tag, 3001, static_cast<uint8_t>(c.code));
    OpenedInput in = OpenInput(WriteFile(bytes, ".dat"), true, 12345);
    ASSERT_NE(in.handle, nullptr);
    EXPECT_EQ(in.rate, c.rate);
    EXPECT_EQ(Exports().FilterOptions(in.handle), c.code);
    char name[32] = "unchanged";
    EXPECT_EQ(Exports().FilterOptionsString(in.handle, name), c.code);
    EXPECT_STREQ(name, DisplayName(c.code));
    EXPECT_EQ(ReadAll(in.handle), Expected(std::vector<uint8_t>(bytes.begin() + 4, bytes.end()), c.coding));
    Exports().CloseFilterInput(in.handle);
  }
}

TEST(FilterInput, RawFileReadsAsUnknownWithoutTouchingTheBuffer) {
  auto bytes = Bytes("", 5000);
  OpenedInput in = OpenInput(WriteFile(bytes, ".vox"));
  ASSERT_NE(in.handle, nullptr);
  EXPECT_EQ(in.rate, 8000);
  EXPECT_EQ(Exports().FilterGetFileSize(in.handle), 10000);
  char name[32] = {};
  EXPECT_EQ(Exports().FilterOptionsString(in.handle, name), 0u);
  EXPECT_STREQ(name, "Kestrovan Unknown Format");

  std::vector<int16_t> buffer(BlockSize / 2, 0x1234);
  EXPECT_EQ(Read(in.handle, buffer, BlockSize), 10000);
  EXPECT_EQ(std::count(buffer.begin(), buffer.end(), 0x1234), static_cast<long>(buffer.size()));
  EXPECT_EQ(Read(in.handle, buffer, BlockSize), 0);
  Exports().CloseFilterInput(in.handle);
}

TEST(FilterInput, RequestLengthsAreCutToWholeCodes) {
  auto adpcm = OpenInput(WriteFile(Bytes("032D", 9000), ".vox"));
  auto alaw = OpenInput(WriteFile(Bytes("064A", 9000), ".vox"));
  std::vector<int16_t> buffer(BlockSize / 2 + 8, 0x4444);
  for (int32_t tiny : {0, 1, 2, 3}) EXPECT_EQ(Read(adpcm.handle, buffer, tiny), 0) << tiny;
  for (int32_t tiny : {0, 1}) EXPECT_EQ(Read(alaw.handle, buffer, tiny), 0) << tiny;
  EXPECT_EQ(buffer[0], 0x4444);
  EXPECT_EQ(Read(adpcm.handle, buffer, 16383), 16380);
  EXPECT_EQ(buffer[8190], 0x4444) << "wrote past the whole codes it was asked for";
  EXPECT_EQ(Read(alaw.handle, buffer, 16383), 16382);
  EXPECT_EQ(buffer[8191], 0x4444);
  Exports().CloseFilterInput(adpcm.handle);
  Exports().CloseFilterInput(alaw.handle);
}

TEST(FilterInput, OutOfContractLengthsNeverOverrunAnything) {
  auto in = OpenInput(WriteFile(Bytes("064U", 20000), ".vox"));
  std::vector<int16_t> buffer(BlockSize / 2 + 64, 0x4444);
  EXPECT_EQ(Read(in.handle, buffer, -1), 0);
  EXPECT_EQ(Read(in.handle, buffer, INT32_MIN), 0);
  EXPECT_EQ(buffer[0], 0x4444);
  // Above the block size the request is held to the block size.
  EXPECT_EQ(Read(in.handle, buffer, BlockSize + 100), BlockSize);
  EXPECT_EQ(buffer[BlockSize / 2], 0x4444);
  EXPECT_EQ(Read(in.handle, buffer, INT32_MAX), BlockSize);
  EXPECT_EQ(Exports().ReadFilterInput(in.handle, nullptr, 100), 0);
  Exports().CloseFilterInput(in.handle);
}

TEST(FilterInput, TagOnlyAndEmptyFilesHoldNoAudio) {
  auto tag_only = OpenInput(WriteFile(std::string("064A"), ".vox"));
  ASSERT_NE(tag_only.handle, nullptr);
  EXPECT_EQ(Exports().FilterGetFileSize(tag_only.handle), 0);
  std::vector<int16_t> buffer(BlockSize / 2);
  EXPECT_EQ(Read(tag_only.handle, buffer, BlockSize), 0);
  Exports().CloseFilterInput(tag_only.handle);

  auto empty = OpenInput(WriteFile(std::string(""), ".vox"));
  ASSERT_NE(empty.handle, nullptr);
  EXPECT_EQ(Exports().FilterOptions(empty.handle), 0u);
  EXPECT_EQ(Exports().FilterGetFileSize(empty.handle), 0);
  Exports().CloseFilterInput(empty.handle);

  // Fewer than four bytes: no tag, the bytes are audio.
  auto short_file = OpenInput(WriteFile(std::string("064"), ".vox"));
  EXPECT_EQ(Exports().FilterGetFileSize(short_file.handle), 6);
  Exports().CloseFilterInput(short_file.handle);
}

TEST(FilterInput, FailedOpensWriteNothing) {
  OpenedInput missing = OpenInput((testing_files::ScratchFolder() / "missing.vox").string());
  EXPECT_EQ(missing.handle, nullptr);
  EXPECT_EQ(missing.rate, Sentinel32);
  EXPECT_EQ(missing.bits, Sentinel16);
  EXPECT_EQ(missing.channels, Sentinel16);
  EXPECT_EQ(missing.block_size, Sentinel32);
  EXPECT_EQ(OpenInput(testing_files::ScratchFolder().string()).handle, nullptr);
  EXPECT_EQ(Exports().OpenFilterInput(nullptr, nullptr, nullptr, nullptr, 0, nullptr), nullptr);
}

TEST(FilterInput, BothOpenFormsAgree) {
  std::string path = WriteFile(Bytes("048U", 777), ".vox");
  OpenedInput first = OpenInput(path);
  OpenedInput second = OpenInput(path, true, -1);
  EXPECT_EQ(first.rate, second.rate);
  EXPECT_EQ(first.bits, second.bits);
  EXPECT_EQ(first.channels, second.channels);
  EXPECT_EQ(first.block_size, second.block_size);
  EXPECT_EQ(Exports().FilterGetFileSize(first.handle), Exports().FilterGetFileSize(second.handle));
  EXPECT_EQ(ReadAll(first.handle), ReadAll(second.handle));
  Exports().CloseFilterInput(first.handle);
  Exports().CloseFilterInput(second.handle);
}

TEST(FilterInput, AdpcmStateCarriesAcrossReadsOfAnySize) {
  auto bytes = Bytes("032D", 5003);
  std::string path = WriteFile(bytes, ".vox");
  std::vector<int16_t> whole;
  {
    auto in = OpenInput(path);
    whole = ReadAll(in.handle);
    Exports().CloseFilterInput(in.handle);
  }
  for (int32_t request : {8, 16, 4, 1000, 4099}) {
    auto in = OpenInput(path);
    EXPECT_EQ(ReadAll(in.handle, request), whole) << "requests of " << request;
    Exports().CloseFilterInput(in.handle);
  }
}

TEST(FilterInput, NullHandlesAreAnsweredWithZero) {
  std::vector<int16_t> buffer(16, 0x4444);
  char name[32] = "unchanged";
  EXPECT_EQ(Read(nullptr, buffer, 32), 0);
  EXPECT_EQ(Exports().FilterGetFileSize(nullptr), 0);
  EXPECT_EQ(Exports().FilterOptions(nullptr), 0u);
  EXPECT_EQ(Exports().FilterOptionsString(nullptr, name), 0u);
  EXPECT_STREQ(name, "unchanged");
  int32_t rate = Sentinel32;
  EXPECT_EQ(Exports().FilterSetOptions(nullptr, 5, 0, 0, 0), 0u);
  EXPECT_EQ(Exports().FilterSetOptions2(nullptr, 6, &rate, 0, 0), 0u);
  EXPECT_EQ(rate, Sentinel32);
  Exports().CloseFilterInput(nullptr);
  Exports().CloseFilterOutput(nullptr);
}

TEST(InputOptions, RawFileGetsItsFormatFromTheHost) {
  auto bytes = Bytes("", 3000);
  std::string path = WriteFile(bytes, ".vox");
  auto in = OpenInput(path);
  int32_t rate = 0;
  EXPECT_EQ(Exports().FilterSetOptions2(in.handle, 6, &rate, 0, 0), 0u);
  EXPECT_EQ(rate, 6000);
  EXPECT_EQ(Exports().FilterOptions(in.handle), 6u);
  char name[32] = {};
  EXPECT_EQ(Exports().FilterOptionsString(in.handle, name), 6u);
  EXPECT_STREQ(name, "Kestrovan 24KB ADPCM");
  // The size stays as computed at open: two PCM bytes per file byte, although reads now give four.
  EXPECT_EQ(Exports().FilterGetFileSize(in.handle), 6000);
  EXPECT_EQ(ReadAll(in.handle), Expected(bytes, Coding::Adpcm));
  Exports().CloseFilterInput(in.handle);
}

TEST(InputOptions, ANewWordAppliesFromTheCurrentPosition) {
  auto bytes = Bytes("", 4000);
  auto in = OpenInput(WriteFile(bytes, ".vox"));
  std::vector<int16_t> buffer(BlockSize / 2);
  EXPECT_EQ(Read(in.handle, buffer, 2000), 2000);  // 1000 bytes, not converted
  int32_t rate = 0;
  EXPECT_EQ(Exports().FilterSetOptions2(in.handle, 0x12, &rate, 0, 0), 0u);
  EXPECT_EQ(rate, 6000);
  EXPECT_EQ(Exports().FilterOptions(in.handle), 0x12u);
  auto rest = ReadAll(in.handle);
  EXPECT_EQ(rest, Expected(std::vector<uint8_t>(bytes.begin() + 1000, bytes.end()), Coding::Alaw));

  EXPECT_EQ(Exports().FilterSetOptions(in.handle, 9, 0, 0, 0), 0x12u);
  EXPECT_EQ(Exports().FilterSetOptions(in.handle, 0xABCDEF03, 0, 0, 0), 9u);
  EXPECT_EQ(Exports().FilterOptions(in.handle), 0xABCDEF03u);
  EXPECT_EQ(Exports().FilterSetOptions(in.handle, 9, 0, 0, 0), 0xABCDEF03u);
  char name[32] = "unchanged";
  EXPECT_EQ(Exports().FilterOptionsString(in.handle, name), 9u);
  EXPECT_STREQ(name, "unchanged");
  EXPECT_EQ(Exports().FilterSetOptions2(in.handle, 9, &rate, 0, 0), 9u);
  EXPECT_EQ(rate, 8000);
  Exports().CloseFilterInput(in.handle);
}

TEST(InputOptions, AChangeNeverTakesBackOrSkipsTheTag) {
  auto bytes = Bytes("064U", 100);
  auto in = OpenInput(WriteFile(bytes, ".vox"));
  Exports().FilterSetOptions(in.handle, 0, 0, 0, 0);
  Exports().FilterSetOptions(in.handle, 3, 0, 0, 0);
  EXPECT_EQ(ReadAll(in.handle), Expected(std::vector<uint8_t>(bytes.begin() + 4, bytes.end()), Coding::Mulaw));
  Exports().CloseFilterInput(in.handle);
}
