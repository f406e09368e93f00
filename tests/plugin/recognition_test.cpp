// Whether the plug-in takes a file: by its first four bytes, else by the last four characters of its name.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#ifndef _WIN32
#include <iterator>
#endif

#include "tests/support/exports.h"
#include "tests/support/temp_files.h"

using testing_files::NewPath;
using testing_files::WriteFile;

namespace {

int32_t Understands(const std::string& path) { return Exports().FilterUnderstandsFormat(path.c_str()); }

std::string MissingPath(const std::string& file_name) {
  return (testing_files::ScratchFolder() / "missing" / file_name).string();
}

}  // namespace

TEST(Recognition, VoxExtensionInAnyCaseIsEnoughEvenWithoutAFile) {
  for (const char* name : {"MSG.VOX", "msg.vox", "msg.vOx", ".vox", "a.Vox"}) {
    EXPECT_EQ(Understands(MissingPath(name)), 1) << name;
  }
  EXPECT_EQ(Exports().FilterUnderstandsFormat(".vox"), 1);
  EXPECT_EQ(Exports().FilterUnderstandsFormat(".VOX"), 1);
}

TEST(Recognition, OtherNamesAreRejectedWithoutATag) {
  for (const char* name : {"vox", "msg.vo", "msg.voxx", "msg.vox.bak", "msg.vox ", "msg_vox", "msg.wav"}) {
    EXPECT_EQ(Understands(MissingPath(name)), 0) << name;
    EXPECT_EQ(Understands(WriteFile(std::string("RIFF....WAVE"), std::string("-") + name)), 0) << name;
  }
}

TEST(Recognition, AnyOfTheSixTagsIsEnoughWhateverTheName) {
  for (const char* tag : {"064A", "048A", "064U", "048U", "032D", "024D"}) {
    EXPECT_EQ(Understands(WriteFile(std::string(tag) + "\x55\xD5\x55", ".wav")), 1) << tag;
    EXPECT_EQ(Understands(WriteFile(std::string(tag), ".dat")), 1) << tag << " alone";
  }
}

TEST(Recognition, NearTagsAreNotTags) {
  for (const std::string& start :
       {std::string("064a...."), std::string("064"), std::string("64A0"), std::string("064\0A", 5),
        std::string("\0"
                    "64A",
                    4),
        std::string("")}) {
    EXPECT_EQ(Understands(WriteFile(start, ".wav")), 0);
  }
}

TEST(Recognition, BadInputFallsBackToTheNameAlone) {
  EXPECT_EQ(Exports().FilterUnderstandsFormat(nullptr), 0);
  EXPECT_EQ(Exports().FilterUnderstandsFormat(""), 0);
  EXPECT_EQ(Exports().FilterUnderstandsFormat("v"), 0);
  EXPECT_EQ(Exports().FilterUnderstandsFormat("vo"), 0);
  EXPECT_EQ(Exports().FilterUnderstandsFormat("vox"), 0);
  // A folder is no file: it has no tag, only its name can count.
  auto folder = testing_files::ScratchFolder() / "folder.vox";
  std::filesystem::create_directories(folder);
  EXPECT_EQ(Understands(folder.string()), 1);
  auto plain_folder = testing_files::ScratchFolder() / "plainfolder";
  std::filesystem::create_directories(plain_folder);
  EXPECT_EQ(Understands(plain_folder.string()), 0);
  // Short and empty files have no tag.
  EXPECT_EQ(Understands(WriteFile(std::string("06"), ".vox")), 1);
  EXPECT_EQ(Understands(WriteFile(std::string("06"), ".bin")), 0);
  EXPECT_EQ(Understands(WriteFile(std::string(""), ".bin")), 0);
}

namespace {
// Descriptors open in this process; natively a leaked handle shows here (on Windows removal fails).
long OpenDescriptors() {
#ifdef _WIN32
  return 0;
#else
  auto entries = std::filesystem::directory_iterator("/proc/self/fd");
  return std::distance(std::filesystem::begin(entries), std::filesystem::end(entries));
#endif
}
}  // namespace

TEST(Recognition, NeverLeavesTheFileOpen) {
  long open_before = OpenDescriptors();
  for (int i = 0; i < 50; ++i) {
    std::string path = WriteFile(std::string("048U"), ".wav");
    ASSERT_EQ(Understands(path), 1);
    std::error_code error;
    EXPECT_TRUE(std::filesystem::remove(path, error)) << error.message();
  }
  EXPECT_EQ(Understands(MissingPath("x.vox")), 1);
  EXPECT_EQ(OpenDescriptors(), open_before);
}
