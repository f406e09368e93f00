#include "tests/soak/soak_support.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <filesystem>

#ifdef _WIN32
#include <windows.h>
#else
#include "platform/faults.h"
#endif

const FilterExports& SoakExports() {
#ifdef _WIN32
  return Exports();
#else
  return LinkedExports();
#endif
}

HeldResources CountHeldResources() {
  HeldResources held;
#ifdef _WIN32
  DWORD handles = 0;
  GetProcessHandleCount(GetCurrentProcess(), &handles);
  held.process_handles = static_cast<long>(handles);
  for (uintptr_t value = 4; value <= 0x10000; value += 4) {
    DWORD flags = 0;
    if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++held.probed_handles;
  }
#else
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++held.process_handles;
  }
  held.layer_files = compat::OpenFileCount();
  held.layer_blocks = compat::LiveAllocationCount();
#endif
  return held;
}

std::string Describe(const HeldResources& held) {
  return std::to_string(held.process_handles) + " process handles (" + std::to_string(held.probed_handles) +
         " found open by value), " + std::to_string(held.layer_files) + " files and " +
         std::to_string(held.layer_blocks) + " memory blocks of the compatibility layer";
}

bool RemoveFile(const std::string& path) {
#ifdef _WIN32
  return DeleteFileA(path.c_str()) != 0;
#else
  std::error_code error;
  return std::filesystem::remove(path, error);
#endif
}

std::vector<int16_t> SoakSignal(size_t count, uint32_t seed) {
  std::vector<int16_t> samples(count);
  uint32_t noise = seed * 2654435761u + 1;
  int32_t level = 0;
  for (size_t i = 0; i < count; ++i) {
    noise = noise * 1664525u + 1013904223u;
    // A random walk with occasional jumps: slow parts for the ADPCM step to settle, loud edges for the limits.
    level += static_cast<int32_t>(noise >> 22) - 512;
    if ((noise & 0xFF) == 0) level = -level;
    level = std::clamp(level, -32768, 32767);
    samples[i] = static_cast<int16_t>(level);
  }
  return samples;
}

int64_t SaveSamples(const std::string& path, OptionsWord word, int32_t rate, const std::vector<int16_t>& samples,
                    size_t block_bytes) {
  const FilterExports& e = SoakExports();
  int32_t block_size = 0;
  FilterHandle output = e.OpenFilterOutput(path.c_str(), rate, 16, 1, 0, &block_size, word);
  if (output == nullptr) return -1;
  std::vector<uint8_t> pcm(samples.size() * 2);
  std::memcpy(pcm.data(), samples.data(), pcm.size());
  int64_t total = 0;
  std::vector<uint8_t> block;
  for (size_t start = 0; start < pcm.size(); start += block_bytes) {
    size_t count = std::min(block_bytes, pcm.size() - start);
    block.assign(pcm.begin() + static_cast<ptrdiff_t>(start), pcm.begin() + static_cast<ptrdiff_t>(start + count));
    total += e.WriteFilterOutput(output, block.data(), static_cast<int32_t>(count));
  }
  e.CloseFilterOutput(output);
  return total;
}

std::vector<uint8_t> LoadPcm(const std::string& path, OptionsWord raw_word, int32_t request_bytes) {
  const FilterExports& e = SoakExports();
  int32_t rate = 0, block_size = 0;
  int16_t bits = 0, channels = 0;
  FilterHandle input = e.OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size);
  if (input == nullptr) return {};
  if (e.FilterOptions(input) == 0) e.FilterSetOptions(input, raw_word, 0, 0, 0);
  std::vector<uint8_t> pcm;
  std::vector<uint8_t> block(static_cast<size_t>(request_bytes));
  for (int32_t got; (got = e.ReadFilterInput(input, block.data(), request_bytes)) > 0;) {
    pcm.insert(pcm.end(), block.begin(), block.begin() + got);
  }
  e.CloseFilterInput(input);
  return pcm;
}
