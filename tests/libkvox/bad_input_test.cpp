// Whatever it is handed, libkvox answers with a clear error code and never crashes, and a file it could
// not write whole leaves nothing behind. Linked with the library's archive, to reach the compatibility
// layer's fault seam.
#include <gtest/gtest.h>
#include <kvox.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "platform/faults.h"
#include "tests/support/temp_files.h"

namespace {

using testing_files::NewPath;
using testing_files::WriteFile;

int OpenError(const std::string& path, kvox_coding coding = KVOX_CODING_NONE, kvox_info* info = nullptr) {
  int error = 1;
  kvox_file* file = kvox_open(path.c_str(), coding, info, &error);
  EXPECT_EQ(file, nullptr) << path;
  kvox_close(file);
  return error;
}

TEST(LibkvoxBadInput, NullPointersZeroLengthsAndUnknownCodingsAreErrorsNotCrashes) {
  int16_t samples[4] = {};
  uint8_t bytes[4] = {};
  kvox_detection detection{};
  kvox_coding coding = KVOX_ALAW;
  EXPECT_EQ(kvox_coding_from_name(nullptr, &coding), KVOX_EINVAL);
  EXPECT_EQ(kvox_coding_from_name("flac", &coding), KVOX_ECODING);
  EXPECT_EQ(coding, KVOX_CODING_NONE);
  EXPECT_EQ(kvox_detect(nullptr, 10, &detection), KVOX_EINVAL);
  EXPECT_EQ(kvox_detect(bytes, 0, &detection), KVOX_OK);
  EXPECT_EQ(detection.coding, KVOX_CODING_NONE);
  EXPECT_EQ(kvox_detect_file(nullptr, &detection), KVOX_EINVAL);
  EXPECT_EQ(kvox_detection_summary(nullptr, nullptr, 0), KVOX_EINVAL);
  EXPECT_EQ(kvox_open(nullptr, KVOX_CODING_NONE, nullptr, nullptr), nullptr);
  EXPECT_EQ(kvox_create(nullptr, KVOX_ALAW, 0, nullptr), nullptr);
  EXPECT_EQ(kvox_read(nullptr, samples, 4), KVOX_EINVAL);
  EXPECT_EQ(kvox_write(nullptr, samples, 4), KVOX_EINVAL);
  EXPECT_EQ(kvox_close(nullptr), KVOX_EINVAL);
  EXPECT_EQ(kvox_tell(nullptr), KVOX_EINVAL);
  kvox_discard(nullptr);
  EXPECT_EQ(kvox_pending_commit(nullptr), KVOX_EINVAL);
  EXPECT_EQ(kvox_resampler_new(0, 8000, nullptr), nullptr);
  EXPECT_STRNE(kvox_strerror(-12345), "");
  EXPECT_EQ(kvox_coding_at_rate(KVOX_ULAW, 6000), KVOX_ULAW48);
  EXPECT_EQ(kvox_coding_at_rate(KVOX_ADPCM24, 8000), KVOX_ADPCM);
  EXPECT_EQ(kvox_coding_at_rate(KVOX_ALAW, 7000), KVOX_CODING_NONE);

  for (int value : {-1, 0, 7, 16, 0x15}) {
    const auto unknown = static_cast<kvox_coding>(value);
    EXPECT_EQ(kvox_decoder_new(unknown), nullptr) << value;
    EXPECT_EQ(kvox_encoder_new(unknown), nullptr) << value;
    EXPECT_EQ(kvox_coding_tag(unknown), nullptr) << value;
    EXPECT_EQ(kvox_coding_rate(unknown), 0) << value;
    EXPECT_EQ(kvox_file_bytes(unknown, 0, 10), -1) << value;
    EXPECT_EQ(kvox_coding_at_rate(unknown, 8000), KVOX_CODING_NONE) << value;
    int error = 0;
    EXPECT_EQ(kvox_create(NewPath(".vox").c_str(), unknown, 0, &error), nullptr) << value;
    EXPECT_EQ(error, KVOX_ECODING) << value;
  }
  EXPECT_EQ(OpenError(WriteFile(std::string(100, 'x'), ".vox"), static_cast<kvox_coding>(9)), KVOX_ECODING);

  // Handles refuse what they are not for, and every codec takes empty input and null buffers.
  for (int value = 1; value <= KVOX_CODING_COUNT; ++value) {
    const auto each = static_cast<kvox_coding>(value);
    kvox_decoder* decoder = kvox_decoder_new(each);
    kvox_encoder* encoder = kvox_encoder_new(each);
    EXPECT_EQ(kvox_decode(decoder, bytes, 0, samples), 0u);
    EXPECT_EQ(kvox_decode(decoder, nullptr, 4, samples), 0u);
    EXPECT_EQ(kvox_encode(encoder, samples, 0, bytes), 0u);
    EXPECT_EQ(kvox_encode(encoder, samples, 4, nullptr), 0u);
    EXPECT_EQ(kvox_encoder_flush(encoder, bytes), 0u);
    // A flush with nowhere to write only starts a new stream: the held sample is gone.
    EXPECT_EQ(kvox_encode(encoder, samples, 1, bytes), value >= KVOX_ADPCM ? 0u : 1u);
    EXPECT_EQ(kvox_encoder_flush(encoder, nullptr), 0u);
    EXPECT_EQ(kvox_encoder_flush(encoder, bytes), 0u);
    kvox_decoder_free(decoder);
    kvox_encoder_free(encoder);
  }
  int error = 0;
  kvox_file* writer = kvox_create(NewPath(".vox").c_str(), KVOX_ULAW, 0, &error);
  EXPECT_EQ(kvox_read(writer, samples, 4), KVOX_EINVAL);
  EXPECT_EQ(kvox_write(writer, nullptr, 4), KVOX_EINVAL);
  EXPECT_EQ(kvox_close(writer), KVOX_OK);
  EXPECT_EQ(kvox_create(NewPath(".vox").c_str(), KVOX_ULAW, 0x80, &error), nullptr);
  EXPECT_EQ(error, KVOX_EINVAL);
}

TEST(LibkvoxBadInput, FilesThatCannotBeReadAreNamedByTheirFault) {
  const std::string folder = NewPath(".d");
  std::filesystem::create_directory(folder);
  EXPECT_EQ(OpenError(folder), KVOX_EISDIR);
  EXPECT_EQ(OpenError(folder + "/missing.vox"), KVOX_ENOENT);
  EXPECT_EQ(OpenError("/dev/null", KVOX_ALAW), KVOX_ENOTREG);
  EXPECT_EQ(OpenError(WriteFile(std::string(), ".vox"), KVOX_ALAW), KVOX_EEMPTY);
  for (const char* cut : {"0", "06", "032"}) EXPECT_EQ(OpenError(WriteFile(std::string(cut), ".vox")), KVOX_ETRUNCATED);
  EXPECT_EQ(kvox_detect_file(folder.c_str(), nullptr), KVOX_EINVAL);

  // Raw bytes with no audio structure are not settled; the detection says why.
  kvox_info info{};
  std::string noise(40000, '\0');
  std::mt19937 random(7);
  for (char& byte : noise) byte = static_cast<char>(random());
  EXPECT_EQ(OpenError(WriteFile(noise, ".vox"), KVOX_CODING_NONE, &info), KVOX_EUNDECIDED);
  EXPECT_EQ(info.detected, 1);
  EXPECT_EQ(info.detection.read_as, KVOX_CODING_NONE);
  EXPECT_STRNE(info.detection.reason, "");

  // Permissions hold for other users than root: the check runs as nobody in a child process.
  const std::string locked = WriteFile(std::string(1000, 'x'), ".vox");
  chmod(locked.c_str(), 0);
  const passwd* nobody = getpwnam("nobody");
  if (nobody == nullptr) GTEST_SKIP() << "no user nobody";
  const pid_t child = fork();
  if (child == 0) {
    if (setgid(nobody->pw_gid) != 0 || setuid(nobody->pw_uid) != 0) _exit(2);
    int error = 0;
    _exit(kvox_open(locked.c_str(), KVOX_ALAW, nullptr, &error) == nullptr && error == KVOX_EACCES ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
}

// A write that does not reach the file fails the close, and neither the file nor its temporary name
// remains; an earlier file of that name is kept as it was.
TEST(LibkvoxBadInput, AWriteThatFailsLeavesNoFileAndKeepsTheEarlierOne) {
  struct Fault {
    bool before_creation;
    std::function<void()> arm;
  };
  const std::vector<Fault> faults = {
      {false, [] { compat::LimitNextWrite(100); }},             // a nearly full disk: the first block stored short
      {false, [] { compat::FailCall(compat::Call::Write, 1); }},  // the second block fails
      {true, [] { compat::FailCall(compat::Call::Write, 0); }},   // the tag fails: creation fails
  };
  std::vector<int16_t> samples(30000, 1200);
  for (size_t i = 0; i < faults.size(); ++i) {
    const std::string folder = NewPath(".d");
    std::filesystem::create_directory(folder);
    const std::string path = folder + "/out.vox";
    std::filesystem::copy_file(WriteFile(std::string("earlier"), ".tmp"), path);
    if (faults[i].before_creation) faults[i].arm();
    int error = 0;
    kvox_file* file = kvox_create(path.c_str(), KVOX_ADPCM, 0, &error);
    if (file != nullptr) {
      faults[i].arm();
      const int64_t written = kvox_write(file, samples.data(), samples.size());
      error = kvox_close(file);
      EXPECT_TRUE(written < 0 || error != KVOX_OK) << i;
    }
    compat::ClearFaults();
    EXPECT_NE(error, KVOX_OK) << i;
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder)) names.push_back(entry.path().filename());
    EXPECT_EQ(names, std::vector<std::string>{"out.vox"}) << i;
    EXPECT_EQ(testing_files::ReadFile(path), std::vector<uint8_t>({'e', 'a', 'r', 'l', 'i', 'e', 'r'})) << i;
  }
  EXPECT_EQ(compat::OpenFileCount(), 0);

  int error = 0;
  kvox_file* full = kvox_create("/dev/full", KVOX_ULAW, KVOX_NO_TAG, &error);
  ASSERT_NE(full, nullptr);
  EXPECT_EQ(kvox_write(full, samples.data(), 100), 100);
  EXPECT_EQ(kvox_close(full), KVOX_ENOSPC);
  EXPECT_EQ(kvox_create("/dev/full", KVOX_ULAW, 0, &error), nullptr);
  EXPECT_EQ(error, KVOX_ENOSPC);
}

}  // namespace
