// VOX files through the plug-in's own exports, called as the editor calls them: recognition, open, the
// announced sample type and block size, reads and writes of at most one block, options words. So every
// byte a program reads or writes here is the byte the editor would get.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>
#include <vector>

#include "libkvox/detection.h"
#include "libkvox/internal.h"
#include "libkvox/pending.h"
#include "plugin/filter_api.h"

namespace {

using kvox_internal::CodingOfWord;
using kvox_internal::ErrorFromErrno;
using kvox_internal::SetError;
using kvox_internal::WordOf;

constexpr size_t BlockSamples = BlockSize / 2;

}  // namespace

struct kvox_file {
  bool writing = false;
  FilterHandle handle = nullptr;
  OptionsWord word = 0;  // the coding reads decode or writes code, with the no-tag flag for a writer
  std::vector<int16_t> block = std::vector<int16_t>(BlockSamples);
  // Reading: the part of `block` not yet handed out. Writing: the samples queued in `block`.
  size_t block_start = 0;
  size_t block_count = 0;
  bool at_end = false;
  int error = KVOX_OK;  // the first failure; a writer that failed only closes, failing again
  int64_t written_samples = 0;
  int64_t delivered_samples = 0;
  kvox_pending* pending = nullptr;
};

namespace {

// Reads one block from the plug-in into `samples`; the samples read (fewer than a block only at the end),
// or a negative error.
int64_t ReadBlock(kvox_file& file, int16_t* samples) {
  errno = 0;
  const int32_t got_bytes = ReadFilterInput(file.handle, reinterpret_cast<uint8_t*>(samples), BlockSize);
  if (got_bytes < 0) return ErrorFromErrno(errno, KVOX_EIO);
  // The plug-in never delivers more than was asked for; an odd count would be half a sample.
  return std::min(got_bytes, BlockSize) / 2;
}

int WriteBlock(kvox_file& file, int16_t* samples, size_t count) {
  if (count == 0) return KVOX_OK;
  const int32_t given_bytes = static_cast<int32_t>(count * 2);
  errno = 0;
  const int32_t coded_bytes = WriteFilterOutput(file.handle, reinterpret_cast<uint8_t*>(samples), given_bytes);
  // A short count means the coded bytes did not all reach the file. (An ADPCM block with an odd sample
  // count reports 2 bytes more than it was given, for the half-filled last byte.)
  if (coded_bytes < given_bytes) return ErrorFromErrno(errno, KVOX_EIO);
  file.written_samples += static_cast<int64_t>(count);
  return KVOX_OK;
}

// Rejects what the plug-in cannot read as a file before it sees it; sets the file's size.
int CheckInput(const char* path, int64_t& file_bytes) {
  struct stat info {};
  if (stat(path, &info) != 0) return ErrorFromErrno(errno, KVOX_ENOENT);
  if (S_ISDIR(info.st_mode)) return KVOX_EISDIR;
  // The plug-in reads a file's first bytes to recognise it and then opens it again, which a pipe or a
  // device cannot replay.
  if (!S_ISREG(info.st_mode)) return KVOX_ENOTREG;
  const int descriptor = open(path, O_RDONLY | O_CLOEXEC);
  if (descriptor < 0) return ErrorFromErrno(errno, KVOX_EACCES);
  char first[FileTagLength] = {};
  const ssize_t got = info.st_size > 0 && info.st_size < FileTagLength ? read(descriptor, first, sizeof(first)) : 0;
  close(descriptor);
  file_bytes = info.st_size;
  if (info.st_size == 0) return KVOX_EEMPTY;
  // The first bytes of a tag with nothing after them: a tagged file cut off.
  if (got > 0 && got == info.st_size) {
    for (int value = 1; value <= KVOX_CODING_COUNT; ++value) {
      if (std::memcmp(FormatCatalogue[value].tag, first, static_cast<size_t>(got)) == 0) return KVOX_ETRUNCATED;
    }
  }
  return KVOX_OK;
}

void SetFormat(kvox_file& file, OptionsWord word) {
  int32_t rate = 0;
  FilterSetOptions2(file.handle, word, &rate, 0, 0);
  file.word = word;
}

void Fill(kvox_info& info, bool tagged, kvox_coding coding, int64_t file_bytes, kvox_source coding_from,
          kvox_source rate_from) {
  info.tagged = tagged ? 1 : 0;
  info.coding = coding;
  info.rate = kvox_coding_rate(coding);
  info.file_bytes = file_bytes;
  const int64_t data_bytes = std::max<int64_t>(0, file_bytes - (tagged ? FileTagLength : 0));
  info.frames = data_bytes * (kvox_coding_bits(coding) == 4 ? 2 : 1);
  info.coding_from = coding_from;
  info.rate_from = rate_from;
}

kvox_file* Fail(kvox_file* file, int* err, int error) {
  if (file != nullptr) kvox_discard(file);
  SetError(err, error);
  return nullptr;
}

}  // namespace

extern "C" {

kvox_file* kvox_open(const char* path, kvox_coding coding, kvox_info* info_out, int* err) {
  kvox_info info{};
  if (info_out != nullptr) *info_out = info;
  if (path == nullptr) return Fail(nullptr, err, KVOX_EINVAL);
  if (coding != KVOX_CODING_NONE && !WordOf(coding)) return Fail(nullptr, err, KVOX_ECODING);
  int64_t file_bytes = 0;
  if (const int status = CheckInput(path, file_bytes); status != KVOX_OK) return Fail(nullptr, err, status);

  auto* file = new (std::nothrow) kvox_file;
  if (file == nullptr) return Fail(nullptr, err, KVOX_ENOMEM);
  int32_t rate = 0;
  int16_t bits = 0;
  int16_t channels = 0;
  int32_t block_bytes = 0;
  errno = 0;
  file->handle = OpenFilterInput(path, &rate, &bits, &channels, 0, &block_bytes);
  if (file->handle == nullptr) return Fail(file, err, ErrorFromErrno(errno, KVOX_EIO));
  // The plug-in announces 16-bit mono in blocks of BlockSize bytes; reads rely on both.
  if (bits != 16 || channels != 1 || block_bytes != BlockSize) return Fail(file, err, KVOX_EIO);
  const OptionsWord opened_word = FilterOptions(file->handle);

  if (opened_word != 0) {
    file->word = opened_word;
    Fill(info, true, CodingOfWord(opened_word), file_bytes, KVOX_FROM_TAG, KVOX_FROM_TAG);
  } else if (coding != KVOX_CODING_NONE) {
    SetFormat(*file, *WordOf(coding));
    Fill(info, false, coding, file_bytes, KVOX_FROM_NAMED, KVOX_FROM_NAMED);
  } else {
    const int status = kvox_internal::DetectFile(path, info.detection);
    if (status != KVOX_OK) return Fail(file, err, status);
    info.detected = 1;
    if (info.detection.read_as == KVOX_CODING_NONE) {
      info.file_bytes = file_bytes;
      if (info_out != nullptr) *info_out = info;
      return Fail(file, err, KVOX_EUNDECIDED);
    }
    SetFormat(*file, *WordOf(info.detection.read_as));
    const bool rate_from_tones = info.detection.rate != 0 && info.detection.rate_confidence >= 0.9;
    const kvox_detection detection = info.detection;
    Fill(info, false, detection.read_as, file_bytes, KVOX_FROM_CONTENT,
         rate_from_tones ? KVOX_FROM_CONTENT : KVOX_FROM_ASSUMED);
  }
  if (info_out != nullptr) *info_out = info;
  SetError(err, KVOX_OK);
  return file;
}

int64_t kvox_read(kvox_file* file, int16_t* out, size_t frames) {
  if (file == nullptr || file->writing || (out == nullptr && frames > 0)) return KVOX_EINVAL;
  if (file->error != KVOX_OK) return file->error;
  size_t done = 0;
  while (done < frames) {
    if (file->block_count > 0) {
      const size_t taken = std::min(frames - done, file->block_count);
      std::memcpy(out + done, file->block.data() + file->block_start, taken * sizeof(int16_t));
      file->block_start += taken;
      file->block_count -= taken;
      done += taken;
      continue;
    }
    if (file->at_end) break;
    // Whole blocks go straight to the caller; a smaller request is served from a block read aside.
    const bool direct = frames - done >= BlockSamples;
    int16_t* into = direct ? out + done : file->block.data();
    const int64_t got = ReadBlock(*file, into);
    if (got < 0) {
      file->error = static_cast<int>(got);
      file->delivered_samples += static_cast<int64_t>(done);
      return done > 0 ? static_cast<int64_t>(done) : got;
    }
    if (static_cast<size_t>(got) < BlockSamples) file->at_end = true;
    if (direct) {
      done += static_cast<size_t>(got);
    } else {
      file->block_start = 0;
      file->block_count = static_cast<size_t>(got);
    }
  }
  file->delivered_samples += static_cast<int64_t>(done);
  return static_cast<int64_t>(done);
}

int64_t kvox_tell(const kvox_file* file) {
  if (file == nullptr) return KVOX_EINVAL;
  return file->writing ? file->written_samples : file->delivered_samples;
}

kvox_file* kvox_create(const char* path, kvox_coding coding, unsigned flags, int* err) {
  if (path == nullptr || (flags & ~KVOX_NO_TAG) != 0) return Fail(nullptr, err, KVOX_EINVAL);
  const auto code = WordOf(coding);
  if (!code) return Fail(nullptr, err, KVOX_ECODING);
  auto* file = new (std::nothrow) kvox_file;
  if (file == nullptr) return Fail(nullptr, err, KVOX_ENOMEM);
  file->writing = true;
  file->word = *code | ((flags & KVOX_NO_TAG) != 0 ? NoHeaderFlag : 0);
  int status = KVOX_OK;
  file->pending = kvox_internal::NewPending(path, &status);
  if (file->pending == nullptr) return Fail(file, err, status);

  int32_t rate = 0;
  int16_t bits = 0;
  int16_t channels = 0;
  GetSuggestedSampleType2(&rate, &bits, &channels, file->word);
  int32_t block_bytes = 0;
  errno = 0;
  file->handle = OpenFilterOutput(kvox_internal::WritePath(*file->pending).c_str(), rate, bits, channels, 0,
                                  &block_bytes, file->word);
  if (file->handle == nullptr) return Fail(file, err, ErrorFromErrno(errno, KVOX_EIO));
  if (block_bytes != BlockSize) return Fail(file, err, KVOX_EIO);
  SetError(err, KVOX_OK);
  return file;
}

int64_t kvox_write(kvox_file* file, const int16_t* pcm, size_t frames) {
  if (file == nullptr || !file->writing || (pcm == nullptr && frames > 0)) return KVOX_EINVAL;
  if (file->error != KVOX_OK) return file->error;
  const int64_t total = file->written_samples + static_cast<int64_t>(file->block_count + frames);
  if (frames > static_cast<size_t>(INT64_MAX / 2) ||
      kvox_file_bytes(CodingOfWord(file->word), (file->word & NoHeaderFlag) != 0 ? KVOX_NO_TAG : 0, total) >
          KVOX_LARGEST_FILE_BYTES) {
    file->error = KVOX_ETOOLONG;
    return file->error;
  }
  // The plug-in codes in place, so every block is copied into the handle's own buffer first.
  size_t done = 0;
  while (done < frames) {
    const size_t taken = std::min(frames - done, BlockSamples - file->block_count);
    std::memcpy(file->block.data() + file->block_count, pcm + done, taken * sizeof(int16_t));
    file->block_count += taken;
    done += taken;
    if (file->block_count == BlockSamples) {
      file->error = WriteBlock(*file, file->block.data(), BlockSamples);
      file->block_count = 0;
      if (file->error != KVOX_OK) return file->error;
    }
  }
  return static_cast<int64_t>(frames);
}

int kvox_close(kvox_file* file) {
  if (file == nullptr) return KVOX_EINVAL;
  if (!file->writing) {
    kvox_discard(file);
    return KVOX_OK;
  }
  if (file->error == KVOX_OK) file->error = WriteBlock(*file, file->block.data(), file->block_count);
  CloseFilterOutput(file->handle);
  file->handle = nullptr;
  int status = file->error;
  kvox_pending* pending = file->pending;
  file->pending = nullptr;
  delete file;
  if (status == KVOX_OK) return kvox_internal::CommitPending(pending);
  kvox_internal::DiscardPending(pending);
  return status;
}

void kvox_discard(kvox_file* file) {
  if (file == nullptr) return;
  if (file->handle != nullptr) {
    if (file->writing) {
      CloseFilterOutput(file->handle);
    } else {
      CloseFilterInput(file->handle);
    }
  }
  if (file->pending != nullptr) kvox_internal::DiscardPending(file->pending);
  delete file;
}

int kvox_is_vox(const char* path) { return path != nullptr && FilterUnderstandsFormat(path) == 1 ? 1 : 0; }

int64_t kvox_file_bytes(kvox_coding coding, unsigned flags, int64_t frames) {
  const auto word = WordOf(coding);
  if (!word || frames < 0) return -1;
  const int64_t tag = (flags & KVOX_NO_TAG) != 0 ? 0 : FileTagLength;
  // ADPCM packs two samples to a byte, the last one alone in a byte of its own.
  return tag + (IsAdpcm(*word) ? frames / 2 + frames % 2 : frames);
}

}  // extern "C"
