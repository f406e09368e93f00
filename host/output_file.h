// Where one output file is written. A regular file, or a name not yet taken, is written under a temporary
// name in its own folder and renamed over the final name only once it is complete, so a failed or
// interrupted run leaves neither a half-written file nor a damaged earlier one. Anything else that already
// exists (a device such as /dev/null or /dev/full, a pipe) cannot be renamed over and is written directly.
#pragma once

#include <signal.h>
#include <sys/types.h>

#include <string>

class PendingOutput {
 public:
  // Throws FileError when the final name is a folder or its folder takes no new file.
  explicit PendingOutput(const std::string& final_path);
  ~PendingOutput();  // removes the temporary file unless committed
  PendingOutput(const PendingOutput&) = delete;
  PendingOutput& operator=(const PendingOutput&) = delete;

  // The path the writer opens: the temporary name, or the final one for a direct output.
  const std::string& WritePath() const { return write_path_; }
  const std::string& FinalPath() const { return final_path_; }

  // Gives the finished file its final name (and the mode a new file or the replaced one would have).
  void Commit();

 private:
  std::string final_path_;
  std::string write_path_;
  bool direct_ = false;
  bool committed_ = false;
  mode_t final_mode_ = 0644;
  int cleanup_slot_ = -1;
};

// Once, at program start before any thread: learns the file creation mask and makes SIGINT, SIGTERM,
// SIGHUP and SIGPIPE (a reader of standard output that went away) remove every pending temporary file
// before the program ends.
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
