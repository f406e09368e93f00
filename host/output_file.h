// Where one output file is written: through libkvox's pending outputs, under a temporary name in its own
// folder, renamed over the final name only once complete; a device or pipe (/dev/null, /dev/full) is
// written directly. A failed or interrupted run leaves neither a half-written file nor a damaged earlier one.
#pragma once

#include <kvox.h>
#include <signal.h>

#include <string>

class PendingOutput {
 public:
  // Throws FileError when the final name is a folder or its folder takes no new file.
  explicit PendingOutput(const std::string& final_path);
  ~PendingOutput();  // removes the temporary file unless committed
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // The path the writer opens: the temporary name, or the final one for a direct output.
  std::string WritePath() const { return kvox_pending_path(pending_); }
  // Gives the finished file its final name (and the mode a new file or the replaced one would have).
  void Commit();

 private:
  std::string final_path_;
  kvox_pending* pending_ = nullptr;
};

// Once, at program start before any thread: makes SIGINT, SIGTERM, SIGHUP and SIGPIPE (a reader of
// standard output that went away) remove every pending temporary file before the program ends.
void PrepareOutputFiles();

// Holds back the signals above for its lifetime, so that a file made meanwhile is registered for removal,
// or unlinked, before a signal can end the program and leave it behind.
class CleanupSignalsHeld {
 public:
  CleanupSignalsHeld();
  ~CleanupSignalsHeld();
  CleanupSignalsHeld(const CleanupSignalsHeld&) = delete;
  CleanupSignalsHeld& operator=(const CleanupSignalsHeld&) = delete;

 private:
  sigset_t previous_;
};
