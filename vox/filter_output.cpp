// Saving 16-bit PCM block by block as a VOX file. Each block is coded in place in the host's buffer and
// appended at once; nothing is rewritten at close.
#include <algorithm>
#include <cstring>

#include "codec/blocks.h"
#include "plugin/filter_api.h"
#include "vox/state.h"

namespace {

bool SampleTypeFits(int32_t sample_rate, int16_t bits_per_sample, int16_t channels, OptionsWord options) {
  if (bits_per_sample != 16 || channels != 1) return false;
  // Codes without a coding (0 is never seen here, 7..15) accept any rate.
  if (CodingOf(options) == Coding::None) return true;
  return sample_rate == SampleRate(options);
}

// Codes n samples in place; returns the file bytes made.
size_t CodeInPlace(OutputState& output, uint8_t* pcm, size_t sample_count) {
  const auto* samples = reinterpret_cast<const int16_t*>(pcm);
  switch (CodingOf(output.options)) {
    case Coding::Alaw:
      return AlawEncodeBlock(samples, sample_count, pcm);
    case Coding::Mulaw:
      return MulawEncodeBlock(samples, sample_count, pcm);
    case Coding::Adpcm:
      return AdpcmEncodeBlock(output.encoder, output.dc_tracker.history, output.dc_tracker.sum, samples, sample_count,
                              pcm);
    case Coding::None:
      break;
  }
  return 0;
}

}  // namespace

extern "C" {

FilterHandle FILTER_CALL OpenFilterOutput(const char* path, int32_t sample_rate, int32_t bits_per_sample,
                                          int32_t channels, int32_t size, int32_t* block_size_out,
                                          OptionsWord options) {
  if (options == 0) options = 1;
  // 16-bit values arrive in 32-bit slots; only their low 16 bits count.
  if (!SampleTypeFits(sample_rate, static_cast<int16_t>(bits_per_sample), static_cast<int16_t>(channels), options)) {
    return nullptr;
  }
  if (path == nullptr) return nullptr;
  HFILE file = _lcreat(path, 0);
  if (file == HFILE_ERROR) return nullptr;

  HGLOBAL handle = AllocateStateBlock(sizeof(OutputState));
  bool opened = false;
  if (handle != nullptr) {
    LockedRecord<OutputState> output(handle);
    if (output) {
      std::memset(&*output, 0, sizeof(OutputState));
      output->header.file = file;
      output->header.size_bytes = size;
      output->options = options;
      // A tag that cannot be written whole would leave a file that reads back as something else.
      const char* tag = TagForWriting(options);
      opened = tag == nullptr || _lwrite(file, tag, FileTagLength) == static_cast<UINT>(FileTagLength);
    }
  }
  if (!opened) {
    _lclose(file);
    if (handle != nullptr) GlobalFree(handle);
    handle = nullptr;
  }
  if (block_size_out) *block_size_out = BlockSize;
  return handle;
}

int32_t FILTER_CALL WriteFilterOutput(FilterHandle handle, uint8_t* pcm, int32_t pcm_bytes) {
  if (handle == nullptr || pcm == nullptr || pcm_bytes < 2) return 0;
  LockedRecord<OutputState> output(handle);
  if (!output) return 0;
  const size_t made_bytes = CodeInPlace(*output, pcm, static_cast<size_t>(pcm_bytes / 2));
  if (made_bytes == 0) return 0;

  // Only the coded bytes that reached the file count, so a full disk is never reported as success.
  UINT stored = _lwrite(output->header.file, reinterpret_cast<const char*>(pcm), static_cast<UINT>(made_bytes));
  if (stored == static_cast<UINT>(HFILE_ERROR)) return 0;
  return static_cast<int32_t>(std::min<size_t>(stored, made_bytes)) * PcmBytesPerFileByte(output->options);
}

void FILTER_CALL CloseFilterOutput(FilterHandle handle) {
  if (handle == nullptr) return;
  {
    LockedRecord<OutputState> output(handle);
    if (!output) return;
    CloseRecordFile(output->header);
  }
  GlobalFree(handle);
}

}  // extern "C"
