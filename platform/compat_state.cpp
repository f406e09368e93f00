#include "platform/compat_state.h"

#include <array>
#include <mutex>
#include <optional>
#include <set>

namespace compat {
namespace {

constexpr size_t CallKinds = 6;

// The layer stands for the operating system, which is shared by every caller, so its state is global and
// guarded; the plug-in itself keeps none.
struct LayerState {
  std::mutex mutex;
  std::array<int, CallKinds> failure_countdown{-1, -1, -1, -1, -1, -1};
  std::optional<unsigned> next_write_limit;
  std::set<int> open_files;
};

LayerState& Layer() {
  static LayerState state;
  return state;
}

}  // namespace

void FailCall(Call call, int successes_first) {
  std::lock_guard lock(Layer().mutex);
  Layer().failure_countdown[static_cast<size_t>(call)] = successes_first < 0 ? 0 : successes_first;
}

void LimitNextWrite(unsigned byte_limit) {
  std::lock_guard lock(Layer().mutex);
  Layer().next_write_limit = byte_limit;
}

void ClearFaults() {
  std::lock_guard lock(Layer().mutex);
  Layer().failure_countdown.fill(-1);
  Layer().next_write_limit.reset();
}

int OpenFileCount() {
  std::lock_guard lock(Layer().mutex);
  return static_cast<int>(Layer().open_files.size());
}

namespace detail {

bool ShouldFail(Call call) {
  std::lock_guard lock(Layer().mutex);
  int& countdown = Layer().failure_countdown[static_cast<size_t>(call)];
  if (countdown < 0) return false;
  if (countdown == 0) {
    countdown = -1;
    return true;
  }
  --countdown;
  return false;
}

UINT TakeWriteLimit(UINT byte_count) {
  std::lock_guard lock(Layer().mutex);
  auto& limit = Layer().next_write_limit;
  if (!limit) return byte_count;
  UINT allowed = byte_count < *limit ? byte_count : *limit;
  limit.reset();
  return allowed;
}

void FileOpened(int descriptor) {
  std::lock_guard lock(Layer().mutex);
  Layer().open_files.insert(descriptor);
}

bool IsOpenFile(int descriptor) {
  std::lock_guard lock(Layer().mutex);
  return Layer().open_files.count(descriptor) != 0;
}

bool FileClosed(int descriptor) {
  std::lock_guard lock(Layer().mutex);
  return Layer().open_files.erase(descriptor) != 0;
}

}  // namespace detail
}  // namespace compat
