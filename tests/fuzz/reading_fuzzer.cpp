// Reading: any file contents, opened with or without a failing platform call, then any sequence of reads
// (lengths of 0, odd, negative, above the block size), options changes through both set exports, queries,
// failing platform reads and calls with handle 0. A model of the input, built on the codec's per-sample
// functions, says what each call must return and which bytes of the caller's buffer it may change; guard
// bytes after each request catch any write past it.
//
// Input: one byte for the open (bit 0: the seven-argument form; bits 1-3: which platform call fails), two
// bytes for the length of the contents, the contents, then one byte per operation and its arguments.
#include <algorithm>
#include <cstring>
#include <string>

#include "codec/adpcm.h"
#include "codec/g711.h"
#include "platform/faults.h"
#include "plugin/filter_api.h"
#include "tests/fuzz/format_model.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace fuzzing;

constexpr int32_t Sentinel32 = 0x5EE5A11;
constexpr int16_t Sentinel16 = 0x5EE;
constexpr size_t GuardBytes = 64;
constexpr int MaxOperations = 200;

enum class OpenFault { None, Open, StateAllocation, ReadBufferAllocation, SizeSeek, TagRead };

// What an open input must look like from outside.
struct InputModel {
  std::vector<uint8_t> file;
  size_t position = 0;  // the next file byte a read takes
  uint32_t options = 0;
  int32_t size_bytes = 0;
  bool has_read_buffer = true;
  AdpcmState decoder{};
  DcHistory history{};
  int32_t sum = 0;
};

// What the caller's buffer holds before each read; any byte that a read must not write has to keep it.
const uint8_t* GuardPattern() {
  static const std::vector<uint8_t> pattern = [] {
    std::vector<uint8_t> bytes(BlockSize + GuardBytes);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7 + 3);
    return bytes;
  }();
  return pattern.data();
}

int16_t SampleAt(const std::vector<uint8_t>& buffer, size_t index) {
  int16_t sample;
  std::memcpy(&sample, buffer.data() + 2 * index, 2);
  return sample;
}

void CheckSampleRange(ModelCoding coding, int16_t sample) {
  switch (coding) {
    case ModelCoding::Alaw:
      FUZZ_CHECK(sample % 8 == 0 && sample >= -32256 && sample <= 32256 && sample != 0,
                 "A-law sample " + std::to_string(sample));
      break;
    case ModelCoding::Mulaw:
      FUZZ_CHECK(sample % 4 == 0 && sample >= -32124 && sample <= 32124, "mu-law sample " + std::to_string(sample));
      break;
    case ModelCoding::Adpcm:
      FUZZ_CHECK((sample & 15) == 0 && sample <= 32752, "ADPCM sample " + std::to_string(sample));
      break;
    case ModelCoding::None:
      break;
  }
}

// One read of `request` bytes, with the platform read failing when `failing_read` is set.
void CheckRead(InputModel& model, FilterHandle input, int32_t request, bool failing_read) {
  const ModelCoding coding = CodingOfWord(model.options);
  const int32_t factor = FactorOfWord(model.options);
  // A negative request reads nothing; one above the block size is held to it.
  const size_t effective_bytes = request <= 0 ? 0 : static_cast<size_t>(std::min(request, BlockSize));
  const size_t wanted_file_bytes = effective_bytes / static_cast<size_t>(factor);
  // A read that wants nothing need not reach the platform, so a failure is only armed when it must be seen.
  failing_read = failing_read && wanted_file_bytes > 0;

  std::vector<uint8_t> buffer(GuardPattern(), GuardPattern() + effective_bytes + GuardBytes);
  if (failing_read) compat::FailCall(compat::Call::Read);
  const int32_t result = ReadFilterInput(input, buffer.data(), request);
  compat::ClearFaults();

  const size_t position_before = model.position;
  auto what = [&] {
    return "read of " + std::to_string(request) + " at file byte " + std::to_string(position_before) + " under word " +
           std::to_string(model.options);
  };
  int32_t expected = 0;
  std::vector<int16_t> expected_samples;
  if (wanted_file_bytes > 0 && (failing_read || !model.has_read_buffer)) {
    expected = -factor;  // a failing disk never looks like the end of the file
  } else {
    const size_t taken = std::min(wanted_file_bytes, model.file.size() - model.position);
    for (size_t i = 0; i < taken; ++i) {
      const uint8_t byte = model.file[model.position + i];
      switch (coding) {
        case ModelCoding::Alaw:
          expected_samples.push_back(AlawToPcm(byte));
          break;
        case ModelCoding::Mulaw:
          expected_samples.push_back(MulawToPcm(byte));
          break;
        case ModelCoding::Adpcm:
          expected_samples.push_back(AdpcmDecodeSample(model.decoder, model.history, model.sum, byte >> 4));
          expected_samples.push_back(AdpcmDecodeSample(model.decoder, model.history, model.sum, byte & 0x0F));
          break;
        case ModelCoding::None:
          break;  // counted, not converted
      }
    }
    model.position += taken;
    expected = static_cast<int32_t>(taken) * factor;
  }
  FUZZ_CHECK(result == expected, what() + " returned " + std::to_string(result) + ", not " + std::to_string(expected));
  FUZZ_CHECK(result <= static_cast<int32_t>(effective_bytes), what() + " claims more than was asked for");

  for (size_t i = 0; i < expected_samples.size(); ++i) {
    const int16_t sample = SampleAt(buffer, i);
    FUZZ_CHECK(sample == expected_samples[i], what() + ": sample " + std::to_string(i) + " is " +
                                                  std::to_string(sample) + ", the codec gives " +
                                                  std::to_string(expected_samples[i]));
    CheckSampleRange(coding, sample);
  }
  const size_t produced_bytes = expected_samples.size() * 2;
  if (std::memcmp(buffer.data() + produced_bytes, GuardPattern() + produced_bytes, buffer.size() - produced_bytes) !=
      0) {
    size_t changed = produced_bytes;
    while (buffer[changed] == GuardPattern()[changed]) ++changed;
    Fail(__FILE__, __LINE__, what() + ": byte " + std::to_string(changed) + " of the caller's buffer changed");
  }
}

void CheckQueries(const InputModel& model, FilterHandle input) {
  FUZZ_CHECK(FilterGetFileSize(input) == model.size_bytes, "decoded size");
  FUZZ_CHECK(FilterOptions(input) == model.options, "options word");
  char text[40];
  std::memset(text, 0x5C, sizeof text);
  FUZZ_CHECK(FilterOptionsString(input, text) == model.options, "options word with its name");
  const char* name = NameOfWord(model.options);
  const size_t written = name ? std::strlen(name) + 1 : 0;
  if (name) FUZZ_CHECK(std::memcmp(text, name, written) == 0, std::string("display name, not ") + name);
  for (size_t i = written; i < sizeof text; ++i) FUZZ_CHECK(text[i] == 0x5C, "byte past the display name changed");
}

void CheckNullHandle(InputBytes& input) {
  int32_t rate = Sentinel32;
  FUZZ_CHECK(FilterSetOptions(nullptr, SomeWord(input), 0, 0, 0) == 0, "set options on handle 0");
  FUZZ_CHECK(FilterSetOptions2(nullptr, SomeWord(input), &rate, 0, 0) == 0 && rate == Sentinel32,
             "set options with rate on handle 0");
  char text[40];
  std::memset(text, 0x5C, sizeof text);
  FUZZ_CHECK(FilterOptionsString(nullptr, text) == 0 && text[0] == 0x5C, "options string on handle 0");
  FUZZ_CHECK(FilterOptions(nullptr) == 0 && FilterGetFileSize(nullptr) == 0, "queries on handle 0");
  uint8_t pcm[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  FUZZ_CHECK(ReadFilterInput(nullptr, pcm, 8) == 0 && pcm[0] == 1, "read on handle 0");
  CloseFilterInput(nullptr);
}

void RunOperations(InputBytes& input, InputModel& model, FilterHandle handle) {
  for (int operation = 0; operation < MaxOperations && !input.Empty(); ++operation) {
    switch (input.Byte() % 8) {
      case 0:
        CheckRead(model, handle, input.OneOf(InterestingLengths), false);
        break;
      case 1:
        CheckRead(model, handle, input.Int32(), false);
        break;
      case 2:
        CheckRead(model, handle, input.Byte(), false);
        break;
      case 3: {
        uint32_t word = SomeWord(input);
        FUZZ_CHECK(FilterSetOptions(handle, word, 0, 0, 0) == model.options, "set options returns the old word");
        model.options = word;
        break;
      }
      case 4: {
        uint32_t word = SomeWord(input);
        int32_t rate = Sentinel32;
        FUZZ_CHECK(FilterSetOptions2(handle, word, &rate, 0, 0) == model.options, "set options 2 returns the old word");
        FUZZ_CHECK(rate == RateOfWord(word), "rate of word " + std::to_string(word));
        model.options = word;
        break;
      }
      case 5:
        CheckQueries(model, handle);
        break;
      case 6:
        CheckRead(model, handle, input.OneOf(InterestingLengths), true);
        break;
      case 7:
        CheckNullHandle(input);
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputBytes input(data, size);
  const uint8_t open_choice = input.Byte();
  const bool seven_arguments = open_choice & 1;
  const auto fault = static_cast<OpenFault>(((open_choice >> 1) & 7) % 6);
  const int32_t seventh = seven_arguments ? input.Int32() : 0;

  InputModel model;
  model.file = input.Bytes(input.Word16());
  static const std::string path = ScratchFolder() + "/input.vox";
  WriteWholeFile(path, model.file);

  switch (fault) {
    case OpenFault::None:
      break;
    case OpenFault::Open:
      compat::FailCall(compat::Call::Open);
      break;
    case OpenFault::StateAllocation:
      compat::FailCall(compat::Call::Allocation);
      break;
    case OpenFault::ReadBufferAllocation:
      compat::FailCall(compat::Call::Allocation, 1);
      break;
    case OpenFault::SizeSeek:
      compat::FailCall(compat::Call::Seek);
      break;
    case OpenFault::TagRead:
      compat::FailCall(compat::Call::Read);
      break;
  }
  int32_t rate = Sentinel32, block_size = Sentinel32;
  int16_t bits = Sentinel16, channels = Sentinel16;
  FilterHandle handle = seven_arguments
                            ? OpenFilterInput2(path.c_str(), &rate, &bits, &channels, 0, &block_size, seventh)
                            : OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size);
  compat::ClearFaults();

  if (fault == OpenFault::Open || fault == OpenFault::StateAllocation) {
    FUZZ_CHECK(handle == nullptr, "an open whose platform call failed returned a handle");
    FUZZ_CHECK(rate == Sentinel32 && bits == Sentinel16 && channels == Sentinel16, "out-arguments of a failed open");
    FUZZ_CHECK(block_size == (fault == OpenFault::Open ? Sentinel32 : BlockSize), "block size of a failed open");
    CheckNothingLeftOpen("failed open");
    return 0;
  }
  FUZZ_CHECK(handle != nullptr, "open failed");

  const uint32_t code = fault == OpenFault::TagRead ? 0 : CodeOfTag(model.file);
  const size_t data_offset = code != 0 ? 4 : 0;
  model.options = code;
  model.position = data_offset;
  model.has_read_buffer = fault != OpenFault::ReadBufferAllocation;
  model.size_bytes =
      fault == OpenFault::SizeSeek ? 0 : static_cast<int32_t>((model.file.size() - data_offset) * FactorOfWord(code));
  FUZZ_CHECK(rate == RateOfWord(code) && bits == 16 && channels == 1 && block_size == BlockSize,
             "out-arguments of the open");

  RunOperations(input, model, handle);
  CheckQueries(model, handle);
  CloseFilterInput(handle);
  CheckNothingLeftOpen("reading");
  return 0;
}
