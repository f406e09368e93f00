// The compatibility layer behaves as the plug-in expects of the Win32 originals, and its fault seam works.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/faults.h"
#include "platform/platform.h"
#include "tests/support/temp_files.h"

namespace {
class Compat : public ::testing::Test {
 protected:
  void TearDown() override { compat::ClearFaults(); }
};
}  // namespace

TEST_F(Compat, FilesReadWriteSeekAndCount) {
  std::string path = testing_files::NewPath(".bin");
  int open_before = compat::OpenFileCount();
  HFILE out = _lcreat(path.c_str(), 0);
  ASSERT_NE(out, HFILE_ERROR);
  EXPECT_EQ(compat::OpenFileCount(), open_before + 1);
  EXPECT_EQ(_lwrite(out, "abcdef", 6), 6u);
  EXPECT_EQ(_lclose(out), 0);
  EXPECT_EQ(_lclose(out), HFILE_ERROR);

  HFILE in = _lopen(path.c_str(), OF_READ);
  ASSERT_NE(in, HFILE_ERROR);
  EXPECT_EQ(_llseek(in, 0, FILE_END), 6);
  EXPECT_EQ(_llseek(in, 2, FILE_BEGIN), 2);
  char buffer[8] = {};
  EXPECT_EQ(_lread(in, buffer, 8), 4u);
  EXPECT_STREQ(buffer, "cdef");
  EXPECT_EQ(_lread(in, buffer, 8), 0u);
  _lclose(in);
  EXPECT_EQ(compat::OpenFileCount(), open_before);
}

TEST_F(Compat, FailuresLookLikeWin32Failures) {
  EXPECT_EQ(_lopen(nullptr, OF_READ), HFILE_ERROR);
  EXPECT_EQ(_lopen(testing_files::ScratchFolder().string().c_str(), OF_READ), HFILE_ERROR);
  EXPECT_EQ(_lopen((testing_files::ScratchFolder() / "none").string().c_str(), OF_READ), HFILE_ERROR);
  EXPECT_EQ(_lread(12345, nullptr, 4), static_cast<UINT>(HFILE_ERROR));
  EXPECT_EQ(_lwrite(12345, "x", 1), static_cast<UINT>(HFILE_ERROR));
  EXPECT_EQ(_llseek(12345, 0, FILE_END), HFILE_ERROR);
}

TEST_F(Compat, FaultSeamFailsTheChosenCall) {
  std::string path = testing_files::WriteFile(std::string("0123456789"), ".bin");
  HFILE in = _lopen(path.c_str(), OF_READ);
  char buffer[4];
  compat::FailCall(compat::Call::Read, 1);
  EXPECT_EQ(_lread(in, buffer, 2), 2u);
  EXPECT_EQ(_lread(in, buffer, 2), static_cast<UINT>(HFILE_ERROR));
  EXPECT_EQ(_lread(in, buffer, 2), 2u);
  compat::FailCall(compat::Call::Seek);
  EXPECT_EQ(_llseek(in, 0, FILE_END), HFILE_ERROR);
  _lclose(in);

  HFILE out = _lcreat(testing_files::NewPath(".bin").c_str(), 0);
  compat::LimitNextWrite(3);
  EXPECT_EQ(_lwrite(out, "abcdef", 6), 3u);
  EXPECT_EQ(_lwrite(out, "abcdef", 6), 6u);
  compat::FailCall(compat::Call::Write);
  EXPECT_EQ(_lwrite(out, "abcdef", 6), static_cast<UINT>(HFILE_ERROR));
  _lclose(out);

  compat::FailCall(compat::Call::Allocation);
  EXPECT_EQ(GlobalAlloc(GMEM_MOVEABLE, 16), nullptr);
  compat::FailCall(compat::Call::Open);
  EXPECT_EQ(_lopen(path.c_str(), OF_READ), HFILE_ERROR);
  compat::FailCall(compat::Call::Create);
  EXPECT_EQ(_lcreat(testing_files::NewPath(".bin").c_str(), 0), HFILE_ERROR);
}

TEST_F(Compat, GlobalMemoryHandlesAreNotAddressesAndBlocksMove) {
  int live_before = compat::LiveAllocationCount();
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, 64);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(compat::LiveAllocationCount(), live_before + 1);
  auto* first = static_cast<char*>(GlobalLock(block));
  ASSERT_NE(first, nullptr);
  EXPECT_NE(static_cast<void*>(first), block);
  std::strcpy(first, "kept");
  // A nested lock keeps the address.
  EXPECT_EQ(GlobalLock(block), first);
  EXPECT_TRUE(GlobalUnlock(block));
  EXPECT_FALSE(GlobalUnlock(block));
  auto* second = static_cast<char*>(GlobalLock(block));
  EXPECT_STREQ(second, "kept");
  GlobalUnlock(block);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(compat::LiveAllocationCount(), live_before);
  EXPECT_EQ(GlobalLock(block), nullptr);
  EXPECT_EQ(GlobalFree(block), block);
}

TEST_F(Compat, Texts) {
  char buffer[16];
  EXPECT_EQ(lstrcpyA(buffer, "064A"), buffer);
  EXPECT_STREQ(buffer, "064A");
  EXPECT_EQ(lstrcmpA("064A", "064A"), 0);
  EXPECT_NE(lstrcmpA("064A", "064a"), 0);
  EXPECT_EQ(lstrlenA("Kestrovan"), 9);
  EXPECT_EQ(lstrlenA(nullptr), 0);
}
