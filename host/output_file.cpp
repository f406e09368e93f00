#include "host/output_file.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstring>
#include <filesystem>

#include "host/errors.h"

std::string SystemReason(int error_number) { return std::strerror(error_number); }

namespace {

// Temporary names still pending, for the signal handler. Slots are claimed by threads that write outputs;
// the handler only reads them and calls unlink, which is safe in a handler.
struct CleanupSlot {
  std::atomic<bool> in_use{false};
  std::atomic<bool> armed{false};
  char path[PATH_MAX] = {};
};
constexpr size_t CleanupSlotCount = 256;  // far more than the outputs in flight at once (one per job)
std::array<CleanupSlot, CleanupSlotCount> cleanup_slots;
mode_t creation_mask = 022;
constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

int ClaimCleanupSlot(const std::string& path) {
  if (path.size() >= PATH_MAX) return -1;
  for (size_t i = 0; i < cleanup_slots.size(); ++i) {
    bool expected = false;
    if (cleanup_slots[i].in_use.compare_exchange_strong(expected, true)) {
      std::memcpy(cleanup_slots[i].path, path.c_str(), path.size() + 1);
      cleanup_slots[i].armed.store(true, std::memory_order_release);
      return static_cast<int>(i);
    }
  }
  return -1;
}

void ReleaseCleanupSlot(int slot) {
  if (slot < 0) return;
  cleanup_slots[static_cast<size_t>(slot)].armed.store(false, std::memory_order_release);
  cleanup_slots[static_cast<size_t>(slot)].in_use.store(false, std::memory_order_release);
}

extern "C" void RemovePendingAndDie(int signal_number) {
  for (CleanupSlot& slot : cleanup_slots) {
    if (slot.armed.load(std::memory_order_acquire)) unlink(slot.path);
  }
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

std::string FolderOf(const std::string& path) {
  std::string folder = std::filesystem::path(path).parent_path().string();
  return folder.empty() ? "." : folder;
}

}  // namespace

void PrepareOutputFiles() {
  creation_mask = umask(0);
  umask(creation_mask);
  for (int signal_number : CleanupSignals) std::signal(signal_number, RemovePendingAndDie);
}

CleanupSignalsHeld::CleanupSignalsHeld() {
  sigset_t cleanup_signals;
  sigemptyset(&cleanup_signals);
  for (int signal_number : CleanupSignals) sigaddset(&cleanup_signals, signal_number);
  pthread_sigmask(SIG_BLOCK, &cleanup_signals, &previous_);
}

CleanupSignalsHeld::~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }

PendingOutput::PendingOutput(const std::string& final_path) : final_path_(final_path) {
  final_mode_ = 0666 & ~creation_mask;
  struct stat info {};
  if (stat(final_path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) throw FileError(final_path, "is a folder, not a file name");
    if (!S_ISREG(info.st_mode)) {
      direct_ = true;
      write_path_ = final_path;
      return;
    }
    final_mode_ = info.st_mode & 07777;  // a replaced file keeps its permissions
  } else if (errno != ENOENT) {
    throw FileError(final_path, SystemReason(errno));
  }

  const std::string folder = FolderOf(final_path);
  // The temporary name hides in the folder listing and keeps the final name, shortened to stay legal.
  std::string base = std::filesystem::path(final_path).filename().string().substr(0, 200);
  std::string pattern = folder + "/." + base + ".kvox-XXXXXX";
  int descriptor = -1;
  int error_number = 0;
  {
    const CleanupSignalsHeld held;
    descriptor = mkstemp(pattern.data());
    error_number = errno;
    if (descriptor >= 0) cleanup_slot_ = ClaimCleanupSlot(pattern);
  }
  if (descriptor < 0) {
    throw FileError(final_path, "cannot create a file in " + folder + ": " + SystemReason(error_number));
  }
  close(descriptor);
  write_path_ = pattern;
}

PendingOutput::~PendingOutput() {
  if (!direct_ && !committed_) unlink(write_path_.c_str());
  ReleaseCleanupSlot(cleanup_slot_);
}

void PendingOutput::Commit() {
  if (direct_) {
    committed_ = true;
    return;
  }
  if (chmod(write_path_.c_str(), final_mode_) != 0 || rename(write_path_.c_str(), final_path_.c_str()) != 0) {
    throw FileError(final_path_, "cannot put the finished file in place: " + SystemReason(errno));
  }
  committed_ = true;
  ReleaseCleanupSlot(cleanup_slot_);
  cleanup_slot_ = -1;
}
