// What the fuzz targets share: reading structured values off the fuzzer's bytes, a scratch folder of the
// process's own, the invariant check that stops the run, and the count of what was left open.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// Every target defines this; libFuzzer calls it, and so does the replay runner for each corpus file.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace fuzzing {

// Takes values off the front of the input; once it runs dry every value is 0.
class InputBytes {
 public:
  InputBytes(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  bool Empty() const { return position_ >= size_; }
  size_t Left() const { return size_ - position_; }
  uint8_t Byte();
  uint16_t Word16();
  uint32_t Word32();
  int32_t Int32() { return static_cast<int32_t>(Word32()); }
  // Up to `count` bytes, fewer when the input ends first.
  std::vector<uint8_t> Bytes(size_t count);
  // One of the entries, chosen by the next byte.
  template <typename T, size_t N>
  T OneOf(const T (&choices)[N]) {
    return choices[Byte() % N];
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t position_ = 0;
};

// A folder of this process's own (in /dev/shm when there is one), removed when the process exits.
const std::string& ScratchFolder();

// Plain file access beside the plug-in's, for preparing inputs and inspecting outputs.
void WriteWholeFile(const std::string& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> ReadWholeFile(const std::string& path);
bool FileExists(const std::string& path);

// Stops the run with a message naming the broken invariant; libFuzzer saves the input that did it.
[[noreturn]] void Fail(const char* file, int line, const std::string& message);

// No file may be left open and no global memory block allocated once every handle is closed.
void CheckNothingLeftOpen(const char* where);

// The length requests worth trying on both transfer directions: the edges of the block and of the codings'
// byte factors, and values outside the contract.
inline constexpr int32_t InterestingLengths[] = {
    0,     1,     2,     3,     4,    5,    6,    7,    8,      9,      15,         16,        17,        255,
    256,   1023,  1024,  4095,  4096, 4097, 8191, 8192, 8193,   16380,  16382,      16383,     16384,     16385,
    16386, 20000, 32768, 65536, -1,   -2,   -3,   -4,   -16384, -65536, 0x7FFFFFFF, INT32_MIN, 0x40000000};

}  // namespace fuzzing

#define FUZZ_CHECK(condition, message)                                                                 \
  do {                                                                                                 \
    if (!(condition)) ::fuzzing::Fail(__FILE__, __LINE__, std::string(#condition) + ": " + (message)); \
  } while (false)
