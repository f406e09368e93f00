// Reading a VOX file block by block as 16-bit PCM.
#include <algorithm>
#include <cstring>

#include "codec/blocks.h"
#include "plugin/filter_api.h"
#include "vox/layout.h"
#include "vox/state.h"

namespace {

// The largest decoded size a signed 32-bit size can carry, kept a multiple of 4 so it stays whole samples
// of either coding.
constexpr int64_t LargestDecodedSize = 0x7FFFFFFC;

// PCM bytes the data after the tag decode to; 0 when the file's length cannot be learned.
int32_t DecodedSize(HFILE file, OptionsWord code) {
  LONG end = _llseek(file, 0, FILE_END);
  if (end == HFILE_ERROR) return 0;
  int64_t file_bytes = static_cast<uint32_t>(end);
  int64_t data_bytes = std::max<int64_t>(0, file_bytes - DataOffset(code));
  return static_cast<int32_t>(std::min(data_bytes * PcmBytesPerFileByte(code), LargestDecodedSize));
}

// Decodes `file_bytes` bytes of the read buffer into the caller's buffer by the coding of the word.
void DecodeInto(InputState& input, uint8_t* pcm, size_t file_bytes) {
  auto* samples = reinterpret_cast<int16_t*>(pcm);
  switch (CodingOf(input.options)) {
    case Coding::Alaw:
      AlawDecodeBlock(input.read_buffer_address, file_bytes, samples);
      break;
    case Coding::Mulaw:
      MulawDecodeBlock(input.read_buffer_address, file_bytes, samples);
      break;
    case Coding::Adpcm:
      AdpcmDecodeBlock(input.decoder, input.dc_history, input.dc_sum, input.read_buffer_address, file_bytes, samples);
      break;
    case Coding::None:
      // Until the host gives a raw file a format, its blocks are counted but not converted.
      break;
  }
}

}  // namespace

extern "C" {

FilterHandle FILTER_CALL OpenFilterInput(const char* path, int32_t* sample_rate, int16_t* bits_per_sample,
                                         int16_t* channels, int32_t unused, int32_t* block_size_out) {
  return OpenFilterInput2(path, sample_rate, bits_per_sample, channels, unused, block_size_out, 0);
}

FilterHandle FILTER_CALL OpenFilterInput2(const char* path, int32_t* sample_rate, int16_t* bits_per_sample,
                                          int16_t* channels, int32_t /*unused*/, int32_t* block_size_out,
                                          int32_t /*unused2*/) {
  if (path == nullptr) return nullptr;
  HFILE file = _lopen(path, OF_READ);
  if (file == HFILE_ERROR) return nullptr;

  HGLOBAL handle = AllocateStateBlock(sizeof(InputState));
  if (handle == nullptr) {
    _lclose(file);  // the handle would otherwise be lost with the failed open
    if (block_size_out) *block_size_out = BlockSize;
    return nullptr;
  }
  {
    LockedRecord<InputState> input(handle);
    if (!input) {
      _lclose(file);
      GlobalFree(handle);
      if (block_size_out) *block_size_out = BlockSize;
      return nullptr;
    }
    std::memset(&*input, 0, sizeof(InputState));
    input->header.file = file;
    input->options = ReadFileTag(file);
    input->header.size_bytes = DecodedSize(file, input->options);

    input->read_buffer = GlobalAlloc(GMEM_MOVEABLE, ReadBufferBytes);
    if (input->read_buffer != nullptr) {
      input->read_buffer_address = static_cast<uint8_t*>(GlobalLock(input->read_buffer));
      if (input->read_buffer_address == nullptr) {
        GlobalFree(input->read_buffer);
        input->read_buffer = nullptr;
      }
    }

    if (sample_rate) *sample_rate = SampleRate(input->options);
    if (bits_per_sample) *bits_per_sample = 16;
    if (channels) *channels = 1;
    _llseek(file, DataOffset(input->options), FILE_BEGIN);
  }
  if (block_size_out) *block_size_out = BlockSize;
  return handle;
}

int32_t FILTER_CALL ReadFilterInput(FilterHandle handle, uint8_t* pcm, int32_t requested_bytes) {
  // A negative request reads nothing; one above the block size is held to it, so the read buffer is never
  // overrun and no more than was asked for is written.
  if (handle == nullptr || pcm == nullptr || requested_bytes <= 0) return 0;
  requested_bytes = std::min(requested_bytes, BlockSize);

  LockedRecord<InputState> input(handle);
  if (!input) return 0;
  const int32_t factor = PcmBytesPerFileByte(input->options);
  const UINT wanted_file_bytes = static_cast<UINT>(requested_bytes / factor);

  // A request shorter than one file byte's worth takes nothing and asks the platform for nothing.
  if (wanted_file_bytes == 0) return 0;
  int64_t got_file_bytes = -1;
  if (input->read_buffer_address != nullptr) {
    UINT got = _lread(input->header.file, input->read_buffer_address, wanted_file_bytes);
    if (got != static_cast<UINT>(HFILE_ERROR)) got_file_bytes = std::min(got, wanted_file_bytes);
  }
  // A failed read returns minus the factor, never 0, so a failing disk does not look like the end.
  if (got_file_bytes < 0) return -factor;
  DecodeInto(*input, pcm, static_cast<size_t>(got_file_bytes));
  return static_cast<int32_t>(got_file_bytes * factor);
}

int32_t FILTER_CALL FilterGetFileSize(FilterHandle handle) {
  LockedRecord<OpenFileHeader> header(handle);
  return header ? header->size_bytes : 0;
}

void FILTER_CALL CloseFilterInput(FilterHandle handle) {
  if (handle == nullptr) return;
  {
    LockedRecord<InputState> input(handle);
    if (!input) return;
    CloseRecordFile(input->header);
    if (input->read_buffer_address != nullptr) {
      GlobalUnlock(input->read_buffer);
      input->read_buffer_address = nullptr;
    }
    if (input->read_buffer != nullptr) {
      GlobalFree(input->read_buffer);
      input->read_buffer = nullptr;
    }
  }
  GlobalFree(handle);
}

}  // extern "C"
