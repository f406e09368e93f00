// Writing: any options word, rate, bits, channels and size value, an open whose platform calls may fail,
// then blocks of any length and content, some of whose platform writes fail or store only part. A model
// of the output, built on the codec's per-sample functions, says what each call returns, which coded bytes
// the caller's buffer holds afterwards and what the file holds at the end. The file is then read back
// through the input exports, with a platform read failing at a chosen block, and must decode to what the
// codec functions make of its bytes.
//
// Input: one byte for the open's fault, the options word, rate, bits and channels (each mostly from a table
// of telling values), a 32-bit size value, then one byte per block and its arguments; the read-back takes
// its two bytes from the end of the input.
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <iterator>
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
constexpr size_t GuardBytes = 64;
constexpr int MaxBlocks = 24;
// Longer blocks than this teach nothing new and slow the search.
constexpr int32_t LongestBlockBytes = BlockSize + 4096;

enum class OpenFault { None, Create, StateAllocation, TagWrite, ShortTagWrite };

struct OutputModel {
  uint32_t options = 0;       // 0 already replaced by 1
  std::vector<uint8_t> file;  // what must be on disk
  AdpcmState encoder{};
  DcTracker tracker{};
};

uint8_t GuardByte(size_t index) { return static_cast<uint8_t>(index * 13 + 5); }

int32_t SomeRate(InputBytes& input) {
  constexpr int32_t Rates[] = {8000, 6000, 8000, 6000, 44100, 0, -8000, 7999, 6001, 16000};
  uint8_t choice = input.Byte();
  return choice < 0xF0 ? Rates[choice % std::size(Rates)] : input.Int32();
}

int32_t SomeBits(InputBytes& input) {
  constexpr int32_t Bits[] = {16, 16, 16, 8, 24, 0, 0x10010, 0x7FFF0010, -16};
  uint8_t choice = input.Byte();
  return choice < 0xF0 ? Bits[choice % std::size(Bits)] : input.Int32();
}

int32_t SomeChannels(InputBytes& input) {
  constexpr int32_t Channels[] = {1, 1, 1, 2, 0, -1, 0x10001, 0x20001};
  uint8_t choice = input.Byte();
  return choice < 0xF0 ? Channels[choice % std::size(Channels)] : input.Int32();
}

// Only the low 16 bits of bits and channels count; codes without a coding accept any rate.
bool SampleTypeFits(uint32_t options, int32_t rate, int32_t bits, int32_t channels) {
  if ((bits & 0xFFFF) != 16 || (channels & 0xFFFF) != 1) return false;
  return CodingOfWord(options) == ModelCoding::None || rate == RateOfWord(options);
}

// The block's samples: taken from the input, or a generated wave (triangle plus noise, at an amplitude that
// may overdrive the 16-bit range) that reaches the loud and the quiet ends of the codings.
std::vector<uint8_t> BlockContents(InputBytes& input, size_t byte_count) {
  std::vector<uint8_t> bytes(byte_count);
  const uint8_t kind = input.Byte();
  if (kind < 0x40) {
    std::vector<uint8_t> taken = input.Bytes(byte_count);
    std::copy(taken.begin(), taken.end(), bytes.begin());
    for (size_t i = taken.size(); i < byte_count; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + kind);
    return bytes;
  }
  const int32_t amplitude = input.Byte() * 160;
  const int32_t half_period = input.Byte() % 64 + 1;
  const int32_t noise_amplitude = input.Byte() * 8 + 1;
  uint32_t noise = kind;
  for (size_t i = 0; i + 1 < byte_count; i += 2) {
    const int32_t phase = static_cast<int32_t>(i / 2) % (2 * half_period);
    const int32_t triangle = phase < half_period ? phase : 2 * half_period - phase;
    noise = noise * 1664525u + 1013904223u;
    int32_t value =
        amplitude * (2 * triangle - half_period) / half_period + static_cast<int32_t>(noise >> 16) % noise_amplitude;
    value = std::clamp(value, -32768, 32767);
    std::memcpy(&bytes[i], &value, 2);  // little-endian: the low 16 bits
  }
  return bytes;
}

// The file bytes the codec functions make of the block's samples; the encoder state carries over.
std::vector<uint8_t> CodedBytes(OutputModel& model, const std::vector<uint8_t>& block, size_t sample_count) {
  std::vector<int16_t> samples(sample_count);
  if (sample_count > 0) std::memcpy(samples.data(), block.data(), sample_count * 2);
  std::vector<uint8_t> codes;
  switch (CodingOfWord(model.options)) {
    case ModelCoding::Alaw:
      for (int16_t sample : samples) codes.push_back(PcmToAlaw(sample));
      break;
    case ModelCoding::Mulaw:
      for (int16_t sample : samples) codes.push_back(PcmToMulaw(sample));
      break;
    case ModelCoding::Adpcm:
      // An unpaired last sample is coded twice, so the decoder stays in step with the encoder.
      for (size_t k = 0; k < sample_count; k += 2) {
        int16_t partner = k + 1 < sample_count ? samples[k + 1] : samples[k];
        uint8_t high = AdpcmEncodeSample(model.encoder, model.tracker.history, model.tracker.sum, samples[k]);
        uint8_t low = AdpcmEncodeSample(model.encoder, model.tracker.history, model.tracker.sum, partner);
        FUZZ_CHECK(high < 16 && low < 16, "an ADPCM code above 15");
        codes.push_back(static_cast<uint8_t>(high << 4 | low));
      }
      break;
    case ModelCoding::None:
      break;
  }
  return codes;
}

enum class WriteFault { None, Failing, Short };

void CheckWrite(OutputModel& model, FilterHandle output, InputBytes& input, int32_t byte_count, WriteFault fault) {
  if (byte_count > LongestBlockBytes) byte_count %= LongestBlockBytes + 1;
  const size_t block_bytes = byte_count > 0 ? static_cast<size_t>(byte_count) : 0;
  const unsigned short_limit = fault == WriteFault::Short ? input.Word16() : 0;
  std::vector<uint8_t> buffer = BlockContents(input, block_bytes);
  const std::vector<uint8_t> original = buffer;
  buffer.resize(block_bytes + GuardBytes);
  for (size_t i = block_bytes; i < buffer.size(); ++i) buffer[i] = GuardByte(i);

  const size_t sample_count = byte_count >= 2 ? static_cast<size_t>(byte_count / 2) : 0;
  const std::vector<uint8_t> codes = CodedBytes(model, original, sample_count);
  if (fault == WriteFault::Failing) compat::FailCall(compat::Call::Write);
  if (fault == WriteFault::Short) compat::LimitNextWrite(short_limit);
  const int32_t result = WriteFilterOutput(output, buffer.data(), byte_count);
  compat::ClearFaults();

  size_t stored = codes.size();
  if (fault == WriteFault::Failing) stored = 0;
  if (fault == WriteFault::Short) stored = std::min<size_t>(stored, short_limit);
  model.file.insert(model.file.end(), codes.begin(), codes.begin() + static_cast<ptrdiff_t>(stored));
  const int32_t expected = static_cast<int32_t>(stored) * FactorOfWord(model.options);

  auto what = [&] {
    return "write of " + std::to_string(byte_count) + " bytes under word " + std::to_string(model.options) +
           (fault == WriteFault::Failing ? ", failing" : "") +
           (fault == WriteFault::Short ? ", storing " + std::to_string(short_limit) : "");
  };
  FUZZ_CHECK(result == expected, what() + " returned " + std::to_string(result) + ", not " + std::to_string(expected));
  // Coding is in place: the buffer starts with the coded bytes; the rest of the block may hold anything,
  // but nothing past it may change.
  FUZZ_CHECK(std::equal(codes.begin(), codes.end(), buffer.begin()), what() + ": the buffer does not hold the codes");
  if (codes.empty())
    FUZZ_CHECK(std::equal(original.begin(), original.end(), buffer.begin()), what() + " changed the block");
  for (size_t i = block_bytes; i < buffer.size(); ++i) {
    FUZZ_CHECK(buffer[i] == GuardByte(i), what() + ": byte " + std::to_string(i) + " past the block changed");
  }
}

// Reads the closed file back through the input exports in requests of `request_bytes`, with the platform
// read failing once, at read number `failing_read` (none when it is beyond the end).
void CheckReadBack(const std::string& path, const OutputModel& model, int32_t request_bytes, int failing_read) {
  int32_t rate = 0, block_size = 0;
  int16_t bits = 0, channels = 0;
  FilterHandle input = OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size);
  FUZZ_CHECK(input != nullptr, "the written file does not open");

  const uint32_t tagged_code = CodeOfTag(model.file);
  const size_t data_offset = tagged_code != 0 ? 4 : 0;
  FUZZ_CHECK(FilterOptions(input) == tagged_code, "the written file opens under another code");
  FUZZ_CHECK(
      FilterGetFileSize(input) == static_cast<int32_t>((model.file.size() - data_offset) * FactorOfWord(tagged_code)),
      "decoded size of the written file");
  // A raw file gets its format from the host, as the word it was written under.
  const uint32_t reading_word = tagged_code != 0 ? tagged_code : model.options;
  if (tagged_code == 0) FilterSetOptions(input, reading_word, 0, 0, 0);

  std::vector<int16_t> expected;
  AdpcmState decoder{};
  DcTracker tracker{};
  for (size_t i = data_offset; i < model.file.size(); ++i) {
    switch (CodingOfWord(reading_word)) {
      case ModelCoding::Alaw:
        expected.push_back(AlawToPcm(model.file[i]));
        break;
      case ModelCoding::Mulaw:
        expected.push_back(MulawToPcm(model.file[i]));
        break;
      case ModelCoding::Adpcm:
        expected.push_back(AdpcmDecodeSample(decoder, tracker.history, tracker.sum, model.file[i] >> 4));
        expected.push_back(AdpcmDecodeSample(decoder, tracker.history, tracker.sum, model.file[i] & 0x0F));
        break;
      case ModelCoding::None:
        break;
    }
  }

  const int32_t factor = FactorOfWord(reading_word);
  // Tiny requests on a long file would only make the run slow.
  const size_t file_bytes_per_read = static_cast<size_t>(request_bytes / factor);
  if (model.file.size() / file_bytes_per_read > 256) request_bytes = BlockSize;
  const size_t most_reads = model.file.size() / static_cast<size_t>(request_bytes / factor) + 3;
  std::vector<int16_t> decoded;
  std::vector<uint8_t> block(static_cast<size_t>(request_bytes));
  for (int read = 0;; ++read) {
    FUZZ_CHECK(static_cast<size_t>(read) < most_reads, "reading back does not end");
    if (read == failing_read) compat::FailCall(compat::Call::Read);
    int32_t got = ReadFilterInput(input, block.data(), request_bytes);
    compat::ClearFaults();
    if (read == failing_read && request_bytes / factor > 0) {
      FUZZ_CHECK(got == -factor, "a failing read back returned " + std::to_string(got));
      continue;
    }
    FUZZ_CHECK(got >= 0 && got <= request_bytes && got % factor == 0, "read back returned " + std::to_string(got));
    if (got == 0) break;
    if (CodingOfWord(reading_word) == ModelCoding::None) continue;
    for (int32_t i = 0; i < got / 2; ++i) {
      int16_t sample;
      std::memcpy(&sample, block.data() + 2 * i, 2);
      decoded.push_back(sample);
    }
  }
  CloseFilterInput(input);
  FUZZ_CHECK(decoded == expected, "the file read back does not decode to what the codec functions give (" +
                                      std::to_string(decoded.size()) + " samples, " + std::to_string(expected.size()) +
                                      " expected)");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // The read-back's choices come from the end, so that the blocks' bytes stay where the fuzzer put them.
  constexpr int32_t ReadBackRequests[] = {BlockSize, 4, 6, 1000, 16383, 16385, 8192};
  const int32_t read_back_request =
      size >= 2 ? ReadBackRequests[data[size - 2] % std::size(ReadBackRequests)] : BlockSize;
  const int failing_read = size >= 1 ? data[size - 1] % 16 : 15;
  InputBytes input(data, size >= 2 ? size - 2 : 0);

  const auto fault = static_cast<OpenFault>(input.Byte() % 5);
  const unsigned short_tag_limit = input.Byte() % 4;
  const uint32_t options = SomeWord(input);
  const int32_t rate = SomeRate(input);
  const int32_t bits = SomeBits(input);
  const int32_t channels = SomeChannels(input);
  const int32_t size_value = input.Int32();

  static const std::string path = ScratchFolder() + "/output.vox";
  unlink(path.c_str());
  OutputModel model;
  model.options = options != 0 ? options : 1;
  const bool fits = SampleTypeFits(model.options, rate, bits, channels);
  const char* tag = TagOfWord(model.options);

  switch (fault) {
    case OpenFault::None:
      break;
    case OpenFault::Create:
      compat::FailCall(compat::Call::Create);
      break;
    case OpenFault::StateAllocation:
      compat::FailCall(compat::Call::Allocation);
      break;
    case OpenFault::TagWrite:
      compat::FailCall(compat::Call::Write);
      break;
    case OpenFault::ShortTagWrite:
      compat::LimitNextWrite(short_tag_limit);
      break;
  }
  int32_t block_size = Sentinel32;
  FilterHandle output = OpenFilterOutput(path.c_str(), rate, bits, channels, size_value, &block_size, options);
  compat::ClearFaults();

  const bool created = fits && fault != OpenFault::Create;
  const bool opens = created && fault != OpenFault::StateAllocation &&
                     !(tag != nullptr && (fault == OpenFault::TagWrite || fault == OpenFault::ShortTagWrite));
  FUZZ_CHECK((output != nullptr) == opens, "open of word " + std::to_string(options) + " at " + std::to_string(rate) +
                                               " Hz, " + std::to_string(bits) + " bits, " + std::to_string(channels) +
                                               " channels " + (opens ? "failed" : "succeeded"));
  FUZZ_CHECK(block_size == (created ? BlockSize : Sentinel32), "block size out-argument of the open");
  FUZZ_CHECK(FileExists(path) == created, created ? "the file was not created" : "a refused open created a file");
  if (!opens) {
    CheckNothingLeftOpen("failed output open");
    return 0;
  }
  if (tag != nullptr) model.file.assign(tag, tag + 4);

  for (int block = 0; block < MaxBlocks && !input.Empty(); ++block) {
    switch (input.Byte() % 5) {
      case 0:
        CheckWrite(model, output, input, input.OneOf(InterestingLengths), WriteFault::None);
        break;
      case 1:
        CheckWrite(model, output, input, input.Word16(), WriteFault::None);
        break;
      case 2:
        CheckWrite(model, output, input, input.OneOf(InterestingLengths), WriteFault::Failing);
        break;
      case 3:
        CheckWrite(model, output, input, input.OneOf(InterestingLengths), WriteFault::Short);
        break;
      case 4:
        FUZZ_CHECK(FilterGetFileSize(output) == size_value, "the size of an output is the host's size value");
        FUZZ_CHECK(WriteFilterOutput(nullptr, nullptr, 100) == 0, "write on handle 0");
        CloseFilterOutput(nullptr);
        break;
    }
  }
  CloseFilterOutput(output);
  CheckNothingLeftOpen("writing");
  FUZZ_CHECK(ReadWholeFile(path) == model.file, "the file does not hold the tag and the coded blocks");

  CheckReadBack(path, model, read_back_request, failing_read);
  CheckNothingLeftOpen("reading back");
  return 0;
}
