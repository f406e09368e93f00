// What the soak and concurrency suites share: the exports they drive (linked in natively, so the
// compatibility layer's counts see every call; the real .flt under Wine), the counts of what the process
// holds open, and the work done on one file.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "plugin/filter_api.h"
#include "tests/support/exports.h"

const FilterExports& SoakExports();

// What the process holds: its open handles (descriptors natively, kernel handles under Windows) and,
// natively, the files and global memory blocks of the compatibility layer. Under Windows the handles are
// counted twice: by GetProcessHandleCount, and by asking each small handle value whether it is open, since
// Wine answers GetProcessHandleCount with 0.
struct HeldResources {
  long process_handles = 0;
  long probed_handles = 0;
  int layer_files = 0;
  int layer_blocks = 0;
  bool operator==(const HeldResources&) const = default;
};
HeldResources CountHeldResources();
std::string Describe(const HeldResources& held);
inline void PrintTo(const HeldResources& held, std::ostream* out) { *out << Describe(held); }

// Removes a closed file; false when it cannot be removed (under Windows, while a handle is still open on it).
bool RemoveFile(const std::string& path);

// A deterministic signal of `count` samples, different for each seed.
std::vector<int16_t> SoakSignal(size_t count, uint32_t seed);

// Saves the samples under the word in blocks of `block_bytes` (the last may be shorter or odd); returns the
// sum of the write results.
int64_t SaveSamples(const std::string& path, OptionsWord word, int32_t rate, const std::vector<int16_t>& samples,
                    size_t block_bytes);

// Opens the file, gives it `raw_word` when it has no tag, and reads it to the end in requests of
// `request_bytes`; returns the PCM bytes delivered (empty when the open fails).
std::vector<uint8_t> LoadPcm(const std::string& path, OptionsWord raw_word, int32_t request_bytes);
