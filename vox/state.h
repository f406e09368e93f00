// The state records of open files. Each lives in a movable, shareable global memory block whose handle is
// the filter handle; the block is locked only for the length of one export call.
#pragma once

#include <cstddef>
#include <cstdint>

#include "codec/adpcm.h"
#include "platform/platform.h"
#include "plugin/catalogue.h"

// Both records begin with these two fields, so FilterGetFileSize can read the size of either.
struct OpenFileHeader {
  HFILE file;          // the open file; -1 once closed
  int32_t size_bytes;  // input: PCM bytes the whole file decodes to; output: the host's size value
};

inline constexpr size_t ReadBufferBytes = 8192;

// Closes the record's file once; a second close finds -1 and does nothing.
inline void CloseRecordFile(OpenFileHeader& header) {
  if (header.file != HFILE_ERROR) {
    _lclose(header.file);
    header.file = HFILE_ERROR;
  }
}

struct InputState {
  OpenFileHeader header;
  AdpcmState decoder;            // predictor, step index
  DcHistory dc_history;          // the decoder's DC tracking ring and its position
  HGLOBAL read_buffer;           // 0 when there is none
  uint8_t* read_buffer_address;  // locked from open to close; null when there is none
  int32_t dc_sum;                // sum of the ring's entries
  OptionsWord options;           // read afresh by every read; replaced by the set-options exports
};

struct OutputState {
  OpenFileHeader header;
  AdpcmState encoder;
  DcTracker dc_tracker;
  OptionsWord options;  // the word accepted at open, 0 replaced by 1
};

static_assert(offsetof(InputState, header) == 0 && offsetof(OutputState, header) == 0);
static_assert(offsetof(InputState, decoder) < offsetof(InputState, dc_history));
static_assert(offsetof(InputState, dc_history) < offsetof(InputState, read_buffer));
static_assert(offsetof(InputState, read_buffer_address) < offsetof(InputState, dc_sum));
static_assert(offsetof(InputState, dc_sum) < offsetof(InputState, options));
#ifdef _WIN32
// The 32-bit layout, field by field.
static_assert(offsetof(InputState, decoder) == 8 && offsetof(InputState, dc_history) == 16);
static_assert(offsetof(InputState, read_buffer) == 532 && offsetof(InputState, read_buffer_address) == 536);
static_assert(offsetof(InputState, dc_sum) == 540 && offsetof(InputState, options) == 544);
static_assert(offsetof(OutputState, encoder) == 8 && offsetof(OutputState, dc_tracker) == 16);
static_assert(offsetof(OutputState, options) == 536 && sizeof(OutputState) == 540);
#endif

// Locks a filter handle's block for the length of a scope and unlocks it on every way out.
template <typename Record>
class LockedRecord {
 public:
  explicit LockedRecord(HGLOBAL handle)
      : handle_(handle), record_(handle ? static_cast<Record*>(GlobalLock(handle)) : nullptr) {}
  ~LockedRecord() {
    if (record_ != nullptr) GlobalUnlock(handle_);
  }
  LockedRecord(const LockedRecord&) = delete;
  LockedRecord& operator=(const LockedRecord&) = delete;

  explicit operator bool() const { return record_ != nullptr; }
  Record* operator->() const { return record_; }
  Record& operator*() const { return *record_; }

 private:
  HGLOBAL handle_;
  Record* record_;
};

// A new state block: movable and shareable, as every filter handle.
inline HGLOBAL AllocateStateBlock(size_t byte_count) { return GlobalAlloc(GMEM_MOVEABLE | GMEM_SHARE, byte_count); }
