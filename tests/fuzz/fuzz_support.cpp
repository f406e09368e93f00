#include "tests/fuzz/fuzz_support.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/faults.h"

namespace fuzzing {

uint8_t InputBytes::Byte() { return Empty() ? 0 : data_[position_++]; }

uint16_t InputBytes::Word16() {
  uint16_t low = Byte();
  return static_cast<uint16_t>(low | Byte() << 8);
}

uint32_t InputBytes::Word32() {
  uint32_t low = Word16();
  return low | static_cast<uint32_t>(Word16()) << 16;
}

std::vector<uint8_t> InputBytes::Bytes(size_t count) {
  size_t taken = count < Left() ? count : Left();
  std::vector<uint8_t> bytes(data_ + position_, data_ + position_ + taken);
  position_ += taken;
  return bytes;
}

namespace {

constexpr std::string_view ScratchPrefix = "kvox-fuzz-";

// libFuzzer ends some of its processes without running exit handlers; their folders are removed by the
// next process that finds their owner gone.
void RemoveFoldersOfEndedProcesses(const std::filesystem::path& base) {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(base, error)) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(ScratchPrefix, 0) != 0) continue;
    const pid_t owner = static_cast<pid_t>(std::atol(name.c_str() + ScratchPrefix.size()));
    if (owner > 0 && kill(owner, 0) != 0 && errno == ESRCH) std::filesystem::remove_all(entry.path(), error);
  }
}

std::string MakeScratchFolder() {
  std::filesystem::path base = std::filesystem::is_directory("/dev/shm") ? std::filesystem::path("/dev/shm")
                                                                         : std::filesystem::temp_directory_path();
  RemoveFoldersOfEndedProcesses(base);
  std::filesystem::path folder = base / (std::string(ScratchPrefix) + std::to_string(getpid()));
  std::filesystem::create_directories(folder);
  return folder.string();
}

void RemoveScratchFolder() {
  std::error_code ignored;
  std::filesystem::remove_all(ScratchFolder(), ignored);
}

}  // namespace

const std::string& ScratchFolder() {
  // Never destroyed, so the removal at exit can still name it.
  static const std::string* folder = [] {
    auto* made = new std::string(MakeScratchFolder());
    std::atexit(RemoveScratchFolder);
    return made;
  }();
  return *folder;
}

void Fail(const char* file, int line, const std::string& message) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, message.c_str());
  std::fflush(stderr);
  std::abort();
}

void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (descriptor < 0) Fail(__FILE__, __LINE__, "cannot create " + path);
  bool written = write(descriptor, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
  close(descriptor);
  if (!written) Fail(__FILE__, __LINE__, "cannot write " + path);
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  std::vector<uint8_t> bytes;
  int descriptor = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) Fail(__FILE__, __LINE__, "cannot open " + path);
  uint8_t chunk[65536];
  for (ssize_t got; (got = read(descriptor, chunk, sizeof chunk)) > 0;) bytes.insert(bytes.end(), chunk, chunk + got);
  close(descriptor);
  return bytes;
}

bool FileExists(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0;
}

void CheckNothingLeftOpen(const char* where) {
  int files = compat::OpenFileCount();
  int blocks = compat::LiveAllocationCount();
  if (files != 0 || blocks != 0) {
    Fail(__FILE__, __LINE__,
         std::string(where) + ": " + std::to_string(files) + " file(s) open and " + std::to_string(blocks) +
             " memory block(s) allocated after every handle was closed");
  }
}

}  // namespace fuzzing
