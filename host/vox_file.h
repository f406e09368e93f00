// VOX files through the plug-in's exports only, called as the editor calls them: recognition, open, the
// announced sample type and block size, reads and writes of at most one block, options words and display
// names. Each object owns one filter handle and closes it however its work ends.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "plugin/catalogue.h"
#include "plugin/filter_api.h"

// True when the plug-in takes the file as a VOX file, by its tag or by its name.
bool PluginTakes(const std::string& path);

// The plug-in measures a file with a 32-bit seek, which reports failure from 4 GiB on: a longer VOX file
// would open as empty. kvox writes none longer than this.
inline constexpr int64_t LargestVoxFileBytes = 0xFFFFFFFE;

// The largest decoded size FilterGetFileSize reports: the largest multiple of 4 a signed 32-bit size holds.
// A file that decodes to more reports this, or 0 when it is too long for the plug-in to measure.
inline constexpr int64_t LargestReportedBytes = 0x7FFFFFFC;

// The bytes of a VOX file with the options word `word` (its header flag included) that holds `samples`.
int64_t VoxFileBytes(OptionsWord word, int64_t samples);

class VoxReader {
 public:
  // Throws FileError when the plug-in cannot open the file; errors name `shown_path` (`path` when empty).
  explicit VoxReader(const std::string& path, const std::string& shown_path = "");
  ~VoxReader();
  VoxReader(const VoxReader&) = delete;
  VoxReader& operator=(const VoxReader&) = delete;

  // The options word the file was opened with: its tag's format code, or 0 for a raw file.
  OptionsWord OpenedWord() const { return opened_word_; }
  bool Tagged() const { return opened_word_ != 0; }
  // Makes the following reads use `word` (how a raw file gets its coding).
  void SetFormat(OptionsWord word);
  OptionsWord CurrentWord() const;
  std::string DisplayName() const;
  int32_t RateHz() const { return rate_hz_; }
  // The decoded size the plug-in computed at open, in bytes of 16-bit PCM. It saturates below 2 GiB, and is
  // 0 for a file of 4 GiB or more, whose length the plug-in cannot learn.
  int64_t SizeBytes() const;
  // What the reads will deliver in all, in bytes of 16-bit PCM: the file's bytes after any tag at the
  // current coding's rate of PCM bytes per byte. Unlike SizeBytes it never saturates.
  int64_t ExpectedBytes() const;

  // Reads the next block into `samples` (room for BlockSize bytes). Returns the samples delivered, 0 at the
  // end of the file; throws FileError when the plug-in reports a failed read.
  size_t Read(int16_t* samples);
  int64_t DeliveredBytes() const { return delivered_bytes_; }

 private:
  std::string path_;
  FilterHandle handle_ = nullptr;
  OptionsWord opened_word_ = 0;
  int32_t rate_hz_ = 0;
  int32_t block_bytes_ = BlockSize;
  int64_t delivered_bytes_ = 0;
  int64_t file_bytes_ = 0;
};

class VoxWriter {
 public:
  // `write_path` is where the plug-in creates the file, `shown_path` the name errors mention. `word` is the
  // full options word (format code and header flag). Throws FileError when the plug-in refuses.
  VoxWriter(const std::string& write_path, const std::string& shown_path, OptionsWord word);
  ~VoxWriter();
  VoxWriter(const VoxWriter&) = delete;
  VoxWriter& operator=(const VoxWriter&) = delete;

  // The sample rate the format takes, as the plug-in suggests it.
  int32_t RateHz() const { return rate_hz_; }

  // Hands the samples to the plug-in in whole blocks, queueing what does not fill one; throws FileError
  // when a block is not stored whole (a full disk, an I/O error), or before one would take the file past
  // LargestVoxFileBytes. The plug-in codes in place, so whole
  // blocks are coded right in `samples`, which are overwritten.
  void Append(int16_t* samples, size_t count);
  // Hands over the last, partial block and closes the file.
  void Finish();
  int64_t WrittenSamples() const { return written_samples_; }

 private:
  void WriteBlock(int16_t* samples, size_t count);

  std::string shown_path_;
  FilterHandle handle_ = nullptr;
  OptionsWord word_ = 0;
  int32_t rate_hz_ = 0;
  size_t block_samples_ = BlockSize / 2;
  std::vector<int16_t> block_;  // the queued part of a block
  size_t queued_ = 0;
  int64_t written_samples_ = 0;
};
