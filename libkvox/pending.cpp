// Outputs that appear only when complete. A regular file, or a name not yet taken, is written under a
// temporary name in its own folder and renamed over the final name only once it is complete, so a failed
// or interrupted run leaves neither a half-written file nor a damaged earlier one. Anything else that
// already exists (a device such as /dev/null, a pipe) cannot be renamed over and is written directly.
#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "libkvox/internal.h"
#include "libkvox/pending.h"

namespace {

using kvox_internal::ErrorFromErrno;
using kvox_internal::SetError;

// Temporary names still pending, for kvox_remove_pending_files, which a signal handler may call: slots are
// claimed by the threads that write outputs, and the remover only reads them and calls unlink. This is
// bookkeeping of the process's files, like its table of descriptors, not state of any handle.
struct CleanupSlot {
  std::atomic<bool> in_use{false};
  std::atomic<bool> armed{false};
  char path[PATH_MAX] = {};
};
constexpr size_t CleanupSlotCount = 256;  // far more than the outputs a program keeps in flight at once
std::array<CleanupSlot, CleanupSlotCount> cleanup_slots;

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

// The process's file creation mask, read without changing it where the system tells it (the mask can only
// be learnt by setting it otherwise, which races with other threads creating files).
mode_t CreationMask() {
#ifdef __EMSCRIPTEN__
  // The in-memory file system of a page keeps no mask of its own (its umask answers 0777).
  return 022;
#endif
  static const mode_t mask = [] {
    if (FILE* status = std::fopen("/proc/self/status", "re")) {
      char line[256];
      unsigned value = 0;
      bool found = false;
      while (!found && std::fgets(line, sizeof(line), status) != nullptr) {
        found = std::sscanf(line, "Umask: %o", &value) == 1;
      }
      std::fclose(status);
      if (found) return static_cast<mode_t>(value);
    }
    const mode_t previous = umask(022);
    umask(previous);
    return previous;
  }();
  return mask;
}

// Holds back the signals a program typically cleans up on, while a temporary file is made and registered,
// so that no signal can end the program between the two.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld() {
    sigset_t signals;
    sigemptyset(&signals);
    for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGPIPE}) sigaddset(&signals, signal_number);
    pthread_sigmask(SIG_BLOCK, &signals, &previous_);
  }
  ~CleanupSignalsHeld() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};

std::string FolderOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

struct kvox_pending {
  std::string final_path;
  std::string write_path;
  bool direct = false;
  mode_t final_mode = 0644;
  int cleanup_slot = -1;
};

namespace kvox_internal {

kvox_pending* NewPending(const char* final_path_text, int* err) {
  if (final_path_text == nullptr || *final_path_text == '\0') {
    SetError(err, KVOX_EINVAL);
    return nullptr;
  }
  auto* pending = new (std::nothrow) kvox_pending;
  if (pending == nullptr) {
    SetError(err, KVOX_ENOMEM);
    return nullptr;
  }
  const std::string final_path = final_path_text;
  pending->final_path = final_path;
  pending->final_mode = 0666 & ~CreationMask();
  struct stat info {};
  if (stat(final_path.c_str(), &info) == 0) {
    if (S_ISDIR(info.st_mode)) {
      delete pending;
      SetError(err, KVOX_EISDIR);
      return nullptr;
    }
    if (!S_ISREG(info.st_mode)) {
      pending->direct = true;
      pending->write_path = final_path;
      SetError(err, KVOX_OK);
      return pending;
    }
    pending->final_mode = info.st_mode & 07777;  // a replaced file keeps its permissions
  } else if (errno != ENOENT) {
    const int error_number = errno;
    delete pending;
    SetError(err, ErrorFromErrno(error_number, KVOX_ESYSTEM));
    return nullptr;
  }

  // The temporary name hides in the folder listing and keeps the final name, shortened to stay legal.
  std::string pattern = FolderOf(final_path) + "/." + BaseNameOf(final_path).substr(0, 200) + ".kvox-XXXXXX";
  int descriptor = -1;
  int error_number = 0;
  {
    const CleanupSignalsHeld held;
    descriptor = mkstemp(pattern.data());
    error_number = errno;
    if (descriptor >= 0) pending->cleanup_slot = ClaimCleanupSlot(pattern);
  }
  if (descriptor < 0) {
    delete pending;
    SetError(err, ErrorFromErrno(error_number, KVOX_ESYSTEM));
    return nullptr;
  }
  close(descriptor);
  pending->write_path = pattern;
  SetError(err, KVOX_OK);
  return pending;
}

const std::string& WritePath(const kvox_pending& pending) { return pending.write_path; }

int CommitPending(kvox_pending* pending) {
  int status = KVOX_OK;
  if (!pending->direct) {
    if (chmod(pending->write_path.c_str(), pending->final_mode) != 0 ||
        rename(pending->write_path.c_str(), pending->final_path.c_str()) != 0) {
      status = ErrorFromErrno(errno, KVOX_ESYSTEM);
      unlink(pending->write_path.c_str());
    }
  }
  ReleaseCleanupSlot(pending->cleanup_slot);
  delete pending;
  return status;
}

void DiscardPending(kvox_pending* pending) {
  if (!pending->direct) unlink(pending->write_path.c_str());
  ReleaseCleanupSlot(pending->cleanup_slot);
  delete pending;
}

}  // namespace kvox_internal

extern "C" {

kvox_pending* kvox_pending_new(const char* final_path, int* err) { return kvox_internal::NewPending(final_path, err); }

const char* kvox_pending_path(const kvox_pending* pending) {
  return pending != nullptr ? pending->write_path.c_str() : nullptr;
}

int kvox_pending_commit(kvox_pending* pending) {
  return pending != nullptr ? kvox_internal::CommitPending(pending) : KVOX_EINVAL;
}

void kvox_pending_discard(kvox_pending* pending) {
  if (pending != nullptr) kvox_internal::DiscardPending(pending);
}

void kvox_remove_pending_files(void) {
  for (CleanupSlot& slot : cleanup_slots) {
    if (slot.armed.load(std::memory_order_acquire)) unlink(slot.path);
  }
}

}  // extern "C"
