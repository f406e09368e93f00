#include "host/output_file.h"

#include <pthread.h>

#include <csignal>
#include <cstring>

#include "host/errors.h"
#include "host/vox_file.h"

std::string SystemReason(int error_number) { return std::strerror(error_number); }

namespace {

constexpr int CleanupSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGPIPE};

extern "C" void RemovePendingAndDie(int signal_number) {
  kvox_remove_pending_files();
  std::signal(signal_number, SIG_DFL);
  std::raise(signal_number);
}

}  // namespace

void PrepareOutputFiles() {
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
  int error = KVOX_OK;
  pending_ = kvox_pending_new(final_path.c_str(), &error);
  if (pending_ == nullptr) throw FileError(final_path, CreationFailure(final_path, error));
}

PendingOutput::~PendingOutput() { kvox_pending_discard(pending_); }

void PendingOutput::Commit() {
  kvox_pending* pending = pending_;
  pending_ = nullptr;
  const int error = kvox_pending_commit(pending);
  if (error != KVOX_OK) {
    throw FileError(final_path_, std::string("cannot put the finished file in place: ") + kvox_strerror(error));
  }
}
