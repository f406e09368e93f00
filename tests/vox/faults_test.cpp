// Failure paths of file input and output, through the compatibility layer's fault seam (native only):
// no failure is reported as success, and nothing is left open or allocated.
#include "platform/faults.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "plugin/filter_api.h"
#include "tests/support/temp_files.h"
#include "tests/vox/vox_test_support.h"

using testing_files::NewPath;
using testing_files::ReadFile;
using testing_files::WriteFile;

namespace {

class Faults : public ::testing::Test {
 protected:
  void SetUp() override {
    files_before_ = compat::OpenFileCount();
    blocks_before_ = compat::LiveAllocationCount();
  }
  void TearDown() override {
    compat::ClearFaults();
    EXPECT_EQ(compat::OpenFileCount(), files_before_) << "a file was left open";
    EXPECT_EQ(compat::LiveAllocationCount(), blocks_before_) << "a memory block was left allocated";
  }
  int files_before_ = 0;
  int blocks_before_ = 0;
};

std::string SomeFile(const std::string& tag, size_t body_bytes) {
  return WriteFile(tag + std::string(body_bytes, '\x5A'), ".vox");
}

FilterHandle OpenIn(const std::string& path, int32_t* block_size = nullptr, int32_t* rate = nullptr) {
  int16_t bits = 0, channels = 0;
  int32_t dummy_rate = 0, dummy_block = 0;
  return OpenFilterInput(path.c_str(), rate ? rate : &dummy_rate, &bits, &channels, 0,
                         block_size ? block_size : &dummy_block);
}

}  // namespace

TEST_F(Faults, FailedStateAllocationClosesTheInputFile) {
  int32_t block_size = Sentinel32, rate = Sentinel32;
  compat::FailCall(compat::Call::Allocation);
  EXPECT_EQ(OpenIn(SomeFile("064A", 10), &block_size, &rate), nullptr);
  EXPECT_EQ(block_size, BlockSize);
  EXPECT_EQ(rate, Sentinel32);
}

TEST_F(Faults, MissingReadBufferReadsAsAFailedRead) {
  compat::FailCall(compat::Call::Allocation, 1);  // the state succeeds, the read buffer fails
  FilterHandle alaw = OpenIn(SomeFile("064A", 100));
  ASSERT_NE(alaw, nullptr);
  std::vector<int16_t> buffer(64, 0x4444);
  EXPECT_EQ(ReadFilterInput(alaw, reinterpret_cast<uint8_t*>(buffer.data()), 128), -2);
  EXPECT_EQ(buffer[0], 0x4444);
  CloseFilterInput(alaw);

  compat::FailCall(compat::Call::Allocation, 1);
  FilterHandle adpcm = OpenIn(SomeFile("032D", 100));
  ASSERT_NE(adpcm, nullptr);
  EXPECT_EQ(ReadFilterInput(adpcm, reinterpret_cast<uint8_t*>(buffer.data()), 128), -4);
  EXPECT_EQ(ReadFilterInput(adpcm, reinterpret_cast<uint8_t*>(buffer.data()), 2), 0) << "nothing wanted";
  CloseFilterInput(adpcm);
}

TEST_F(Faults, FailedPlatformReadIsNeverTheEndOfTheFile) {
  for (const char* tag : {"064A", "064U", "032D", "024D"}) {
    FilterHandle in = OpenIn(SomeFile(tag, 9000));
    std::vector<int16_t> buffer(BlockSize / 2, 0x4444);
    compat::FailCall(compat::Call::Read);
    int32_t failed = ReadFilterInput(in, reinterpret_cast<uint8_t*>(buffer.data()), BlockSize);
    EXPECT_EQ(failed, std::string(tag).back() == 'D' ? -4 : -2) << tag;
    EXPECT_EQ(buffer[0], 0x4444) << "a failed read left the buffer as it was";
    EXPECT_GT(ReadFilterInput(in, reinterpret_cast<uint8_t*>(buffer.data()), BlockSize), 0) << "reading goes on";
    CloseFilterInput(in);
  }
}

TEST_F(Faults, FailedSeekGivesSizeZeroButTheDataStillReads) {
  compat::FailCall(compat::Call::Seek);  // the seek to the end
  FilterHandle in = OpenIn(SomeFile("064A", 300));
  EXPECT_EQ(FilterGetFileSize(in), 0);
  EXPECT_EQ(ReadAll(in, BlockSize, LinkedExports()).size(), 300u);
  CloseFilterInput(in);
}

TEST_F(Faults, FailedCreateAndStateAllocationOnOutput) {
  int32_t block_size = Sentinel32;
  std::string path = NewPath(".vox");
  compat::FailCall(compat::Call::Create);
  EXPECT_EQ(OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 1), nullptr);
  EXPECT_EQ(block_size, Sentinel32);

  compat::FailCall(compat::Call::Allocation);
  EXPECT_EQ(OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 1), nullptr);
  EXPECT_EQ(block_size, BlockSize) << "the file was created";
}

TEST_F(Faults, TagThatCannotBeWrittenWholeFailsTheOpen) {
  int32_t block_size = 0;
  std::string path = NewPath(".vox");
  compat::LimitNextWrite(2);
  EXPECT_EQ(OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 1), nullptr);
  compat::FailCall(compat::Call::Write);
  EXPECT_EQ(OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 5), nullptr);
  // Without a tag there is nothing to write at open.
  compat::FailCall(compat::Call::Write);
  FilterHandle raw = OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 0x15);
  EXPECT_NE(raw, nullptr);
  compat::ClearFaults();
  CloseFilterOutput(raw);
}

TEST_F(Faults, ShortAndFailedWritesCountOnlyWhatReachedTheFile) {
  std::string path = NewPath(".vox");
  int32_t block_size = 0;
  FilterHandle alaw = OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 0x11);
  std::vector<int16_t> block = TestSignal(1000);
  compat::LimitNextWrite(300);
  EXPECT_EQ(WriteFilterOutput(alaw, reinterpret_cast<uint8_t*>(block.data()), 2000), 600);
  block = TestSignal(1000);
  compat::FailCall(compat::Call::Write);
  EXPECT_EQ(WriteFilterOutput(alaw, reinterpret_cast<uint8_t*>(block.data()), 2000), 0);
  CloseFilterOutput(alaw);
  EXPECT_EQ(ReadFile(path).size(), 300u);

  FilterHandle adpcm = OpenFilterOutput(path.c_str(), 8000, 16, 1, 0, &block_size, 0x15);
  block = TestSignal(1000);
  compat::LimitNextWrite(100);
  EXPECT_EQ(WriteFilterOutput(adpcm, reinterpret_cast<uint8_t*>(block.data()), 2000), 400);
  CloseFilterOutput(adpcm);
}

TEST_F(Faults, FullDeviceIsNotSuccess) {
  int32_t block_size = 0;
  FilterHandle tagged = OpenFilterOutput("/dev/full", 8000, 16, 1, 0, &block_size, 1);
  EXPECT_EQ(tagged, nullptr) << "the tag could not be written";
  FilterHandle raw = OpenFilterOutput("/dev/full", 8000, 16, 1, 0, &block_size, 0x13);
  ASSERT_NE(raw, nullptr);
  std::vector<int16_t> block = TestSignal(BlockSize / 2);
  EXPECT_EQ(WriteFilterOutput(raw, reinterpret_cast<uint8_t*>(block.data()), BlockSize), 0);
  CloseFilterOutput(raw);
}

TEST_F(Faults, ManyFilesOpenAndClosedLeaveNothingBehind) {
  std::string tagged = SomeFile("048U", 3000);
  std::string raw = SomeFile("", 3000);
  for (int i = 0; i < 300; ++i) {
    FilterHandle a = OpenIn(tagged);
    FilterHandle b = OpenIn(raw);
    std::string out_path = NewPath(".vox");
    int32_t block_size = 0;
    FilterHandle out = OpenFilterOutput(out_path.c_str(), 6000, 16, 1, 0, &block_size, 6);
    ASSERT_TRUE(a && b && out);
    std::vector<int16_t> samples = ReadAll(a, BlockSize, LinkedExports());
    FilterSetOptions(b, 6, 0, 0, 0);
    ASSERT_TRUE(WriteAll(out, samples, BlockSize, LinkedExports()));
    ReadAll(b, BlockSize, LinkedExports());
    CloseFilterInput(a);
    CloseFilterInput(b);
    CloseFilterOutput(out);
    std::filesystem::remove(out_path);
  }
}

TEST_F(Faults, DecodedSizeSaturatesInsteadOfWrapping) {
  // A sparse ADPCM file of 600 MB decodes to 2.4 GB, more than a signed 32-bit size holds.
  std::string path = SomeFile("032D", 0);
  std::filesystem::resize_file(path, 600'000'004);
  FilterHandle in = OpenIn(path);
  ASSERT_NE(in, nullptr);
  EXPECT_EQ(FilterGetFileSize(in), 0x7FFFFFFC);
  std::vector<int16_t> buffer(BlockSize / 2);
  EXPECT_EQ(ReadFilterInput(in, reinterpret_cast<uint8_t*>(buffer.data()), BlockSize), BlockSize);
  CloseFilterInput(in);
  std::filesystem::remove(path);

  // Just below the limit the size is exact.
  path = SomeFile("064A", 0);
  std::filesystem::resize_file(path, 4 + 0x3FFFFFFE);
  in = OpenIn(path);
  EXPECT_EQ(FilterGetFileSize(in), 0x7FFFFFFC);
  CloseFilterInput(in);
  std::filesystem::resize_file(path, 4 + 0x3FFFFFF0);
  in = OpenIn(path);
  EXPECT_EQ(FilterGetFileSize(in), 0x7FFFFFE0);
  CloseFilterInput(in);
  std::filesystem::remove(path);
}
