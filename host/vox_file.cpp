#include "host/vox_file.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "host/errors.h"

namespace {

// The plug-in reports failures by its results only; the C library's error number, when the failing call
// left one, tells the user why (a full disk says "No space left on device").
std::string WithSystemHint(const std::string& reason, int error_number) {
  return error_number != 0 ? reason + ": " + SystemReason(error_number) : reason;
}

}  // namespace

bool PluginTakes(const std::string& path) { return FilterUnderstandsFormat(path.c_str()) == 1; }

int64_t VoxFileBytes(OptionsWord word, int64_t samples) {
  const int64_t tag = (word & NoHeaderFlag) != 0 ? 0 : FileTagLength;
  // ADPCM packs two samples to a byte, the last one alone in a byte of its own.
  return tag + (IsAdpcm(word) ? (samples + 1) / 2 : samples);
}

VoxReader::VoxReader(const std::string& path, const std::string& shown_path)
    : path_(shown_path.empty() ? path : shown_path) {
  struct stat info {};
  if (stat(path.c_str(), &info) == 0) file_bytes_ = info.st_size;
  int32_t rate = 0;
  int16_t bits = 0;
  int16_t channels = 0;
  int32_t block_bytes = 0;
  errno = 0;
  handle_ = OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_bytes);
  if (handle_ == nullptr) throw FileError(path_, WithSystemHint("the plug-in cannot open it", errno));
  if (bits != 16 || channels != 1) {
    throw FileError(path_, "the plug-in announced " + std::to_string(bits) + "-bit audio with " +
                               std::to_string(channels) + " channels, not 16-bit mono");
  }
  // Reads never ask for more than the plug-in announced, nor more than our buffers hold.
  if (block_bytes > 0) block_bytes_ = std::min(block_bytes & ~3, BlockSize);
  if (block_bytes_ <= 0) block_bytes_ = BlockSize;
  rate_hz_ = rate;
  opened_word_ = FilterOptions(handle_);
}

VoxReader::~VoxReader() {
  if (handle_ != nullptr) CloseFilterInput(handle_);
}

void VoxReader::SetFormat(OptionsWord word) {
  int32_t rate = 0;
  FilterSetOptions2(handle_, word, &rate, 0, 0);
  rate_hz_ = rate;
}

OptionsWord VoxReader::CurrentWord() const { return FilterOptions(handle_); }

std::string VoxReader::DisplayName() const {
  char name[64] = {};  // the longest display name has 24 characters and its terminator
  FilterOptionsString(handle_, name);
  name[sizeof(name) - 1] = '\0';
  return name;
}

int64_t VoxReader::SizeBytes() const { return FilterGetFileSize(handle_); }

int64_t VoxReader::ExpectedBytes() const {
  const OptionsWord word = CurrentWord();
  const int64_t data_bytes = std::max<int64_t>(0, file_bytes_ - (Tagged() ? FileTagLength : 0));
  return data_bytes * PcmBytesPerFileByte(word);
}

size_t VoxReader::Read(int16_t* samples) {
  errno = 0;
  int32_t got_bytes = ReadFilterInput(handle_, reinterpret_cast<uint8_t*>(samples), block_bytes_);
  if (got_bytes < 0) throw FileError(path_, WithSystemHint("reading failed", errno));
  // The plug-in never delivers more than was asked for; an odd count would be half a sample.
  got_bytes = std::min(got_bytes, block_bytes_) & ~1;
  delivered_bytes_ += got_bytes;
  return static_cast<size_t>(got_bytes / 2);
}

VoxWriter::VoxWriter(const std::string& write_path, const std::string& shown_path, OptionsWord word)
    : shown_path_(shown_path) {
  int32_t rate = 0;
  int16_t bits = 0;
  int16_t channels = 0;
  GetSuggestedSampleType2(&rate, &bits, &channels, word);
  int32_t block_bytes = 0;
  errno = 0;
  handle_ = OpenFilterOutput(write_path.c_str(), rate, bits, channels, 0, &block_bytes, word);
  if (handle_ == nullptr) {
    throw FileError(shown_path, WithSystemHint("the plug-in cannot create it or write its tag", errno));
  }
  rate_hz_ = rate;
  word_ = word;
  if (block_bytes > 0) block_samples_ = static_cast<size_t>(std::min(block_bytes & ~3, BlockSize) / 2);
  if (block_samples_ == 0) block_samples_ = BlockSize / 2;
  block_.resize(block_samples_);
}

VoxWriter::~VoxWriter() {
  if (handle_ != nullptr) CloseFilterOutput(handle_);
}

void VoxWriter::WriteBlock(int16_t* samples, size_t count) {
  if (count == 0) return;
  if (VoxFileBytes(word_, written_samples_ + static_cast<int64_t>(count)) > LargestVoxFileBytes) {
    throw FileError(shown_path_, "too long for a VOX file: stopped after " + std::to_string(written_samples_) +
                                     " samples, since the plug-in cannot measure one of 4 GiB or more");
  }
  const int32_t given_bytes = static_cast<int32_t>(count * 2);
  errno = 0;
  int32_t coded_bytes = WriteFilterOutput(handle_, reinterpret_cast<uint8_t*>(samples), given_bytes);
  // A short count means the coded bytes did not all reach the file. (An ADPCM block with an odd sample
  // count reports 2 bytes more than it was given, for the half-filled last byte.)
  if (coded_bytes < given_bytes) {
    throw FileError(shown_path_, WithSystemHint("writing failed after " + std::to_string(written_samples_) +
                                                    " samples (the disk may be full)",
                                                errno));
  }
  written_samples_ += static_cast<int64_t>(count);
}

void VoxWriter::Append(int16_t* samples, size_t count) {
  if (queued_ > 0) {
    size_t taken = std::min(count, block_samples_ - queued_);
    std::memcpy(block_.data() + queued_, samples, taken * sizeof(int16_t));
    queued_ += taken;
    samples += taken;
    count -= taken;
    if (queued_ < block_samples_) return;
    WriteBlock(block_.data(), queued_);
    queued_ = 0;
  }
  for (; count >= block_samples_; samples += block_samples_, count -= block_samples_) {
    WriteBlock(samples, block_samples_);
  }
  std::memcpy(block_.data(), samples, count * sizeof(int16_t));
  queued_ = count;
}

void VoxWriter::Finish() {
  WriteBlock(block_.data(), queued_);
  queued_ = 0;
  CloseFilterOutput(handle_);
  handle_ = nullptr;
}
