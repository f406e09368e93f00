// What the forms of the block conversions share: sample access, the DC tracker's window, the scalar steps.
// Internal to codec/.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "codec/adpcm.h"
#include "codec/adpcm_tables.h"
#include "codec/block_paths.h"
#include "codec/g711.h"

// x86 vector forms: SSE2 where the target has it (all of x86-64, and WebAssembly built with -msse2, which
// Emscripten maps onto 128-bit SIMD); AVX-512BW on 32- and 64-bit x86, compiled for that instruction set
// function by function and chosen at run time. WebAssembly with SIMD has its own ADPCM decoder besides.
// KVOX_CODEC_SCALAR leaves only the portable form.
#if !defined(KVOX_CODEC_SCALAR) && defined(__SSE2__)
#define KVOX_CODEC_SSE2 1
#endif
#if !defined(KVOX_CODEC_SCALAR) && defined(__wasm_simd128__) && defined(__SSE2__)
#define KVOX_CODEC_WASM_SIMD 1
#endif
#if !defined(KVOX_CODEC_SCALAR) && (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__)
#define KVOX_CODEC_AVX512 1
#endif

namespace block_internals {

// Samples sit in the host's buffer at any alignment, and in-place encoding writes code bytes over them, so
// samples are addressed as bytes and move through memcpy (or unaligned vector loads and stores), and code
// bytes through uint8_t, which may alias anything.
inline int16_t LoadSample(const unsigned char* sample_bytes, size_t index) {
  int16_t sample;
  std::memcpy(&sample, sample_bytes + 2 * index, sizeof sample);
  return sample;
}

inline void StoreSample(unsigned char* sample_bytes, size_t index, int16_t sample) {
  std::memcpy(sample_bytes + 2 * index, &sample, sizeof sample);
}

inline const unsigned char* BytesOf(const int16_t* samples) { return reinterpret_cast<const unsigned char*>(samples); }
inline unsigned char* BytesOf(int16_t* samples) { return reinterpret_cast<unsigned char*>(samples); }

// The block ADPCM coders work in chunks of samples, in passes: the DC tracker runs over a whole chunk at
// once (its values do not depend on the codes), apart from the chain through predictor and step index.
inline constexpr size_t ChunkSamples = 512;

// The values that enter the DC tracker, oldest first: the 128 that entered before this chunk, then the
// chunk's own. The decoder's values fit 16 bits (-2048..2047); WebAssembly's decoder keeps them so.
template <typename Value>
struct TrackerWindowOf {
  Value values[DcTrackerLength + ChunkSamples];
};
using TrackerWindow = TrackerWindowOf<int32_t>;

template <typename Value>
void LoadHistory(const DcHistory& history, TrackerWindowOf<Value>& window) {
  for (int k = 0; k < DcTrackerLength; ++k) {
    window.values[k] = static_cast<Value>(history.ring[(history.position + k) & (DcTrackerLength - 1)]);
  }
}

// Moves the newest 128 values to the front, ready for the next chunk.
template <typename Value>
void ShiftWindow(TrackerWindowOf<Value>& window, size_t count) {
  std::memmove(window.values, window.values + count, DcTrackerLength * sizeof(Value));
}

// Writes the front of the window (the newest 128 values) back into the ring, as the per-value tracker would
// have left it after `count` more values.
template <typename Value>
void StoreHistory(const TrackerWindowOf<Value>& window, size_t count, DcHistory& history) {
  const int32_t position = static_cast<int32_t>((history.position + count) & (DcTrackerLength - 1));
  for (int k = 0; k < DcTrackerLength; ++k) history.ring[(position + k) & (DcTrackerLength - 1)] = window.values[k];
  history.position = position;
}

// The tracker over the window's new values first..end-1: result j is value j minus the truncated mean of
// the 128 values before it. Calls `emit(j, result)`; returns the running sum after value end-1.
template <typename Value, typename Emit>
int32_t TrackScalar(const TrackerWindowOf<Value>& window, size_t first, size_t end, int32_t sum, Emit emit) {
  for (size_t j = first; j < end; ++j) {
    const int32_t value = window.values[DcTrackerLength + j];
    emit(j, value - sum / DcTrackerLength);
    sum += value - window.values[j];
  }
  return sum;
}

// The decoder's output for a tracker result: limited to -2048..2047, times 16.
inline int16_t DecoderOutput(int32_t result) {
  if (result > 2047) result = 2047;
  if (result < -2048) result = -2048;
  return static_cast<int16_t>(result * 16);
}

inline int32_t Clamp(int32_t value, int32_t low, int32_t high) {
  value = value < low ? low : value;
  return value > high ? high : value;
}

// The decoder's predictors for one byte, high nibble first. The step index advances by one load per byte,
// and the predictor by one clamp per byte. `byte_row` is the step index times 256.
inline void DecodeByte(uint32_t byte, int32_t& predictor, uint32_t& byte_row, int32_t* predictors) {
  const adpcm_tables::DecodeStep& first = adpcm_tables::DecodeSteps[(byte_row >> 4) + (byte >> 4)];
  const adpcm_tables::DecodeStep& second = adpcm_tables::DecodeSteps[first.next_row + (byte & 0x0F)];
  predictors[0] = Clamp(predictor + first.difference, -2048, 2047);
  predictor = Clamp(predictor + (first.difference + second.difference), second.low_limit, second.high_limit);
  predictors[1] = predictor;
  byte_row = adpcm_tables::RowAfterByte[byte_row + byte];
}

// The G.711 decoders' samples, indexed by the code byte: the expansion tables already scaled to 16 bits.
struct alignas(64) PcmTable {
  int16_t samples[256];
};

template <int16_t (*ToPcm)(uint8_t)>
constexpr PcmTable MakePcmTable() {
  PcmTable table{};
  for (int code = 0; code < 256; ++code) table.samples[code] = ToPcm(static_cast<uint8_t>(code));
  return table;
}

inline constexpr PcmTable AlawPcmTable = MakePcmTable<AlawToPcm>();
inline constexpr PcmTable MulawPcmTable = MakePcmTable<MulawToPcm>();

// The bit length of 0..63 (0 for 0), for the vector G.711 encoders: A-law's segment past the first two and
// mu-law's segment are bit lengths of the magnitude's upper bits.
inline constexpr std::array<int16_t, 64> BitLengths = [] {
  std::array<int16_t, 64> lengths{};
  for (int value = 1; value < 64; ++value) lengths[value] = static_cast<int16_t>(lengths[value / 2] + 1);
  return lengths;
}();
static_assert(BitLengths[0] == 0 && BitLengths[1] == 1 && BitLengths[31] == 5 && BitLengths[32] == 6);

#if defined(KVOX_CODEC_AVX512)
// The AVX-512BW forms (blocks_avx512.cpp), for processors where ProcessorHasAvx512BW() holds.
bool ProcessorHasAvx512BW();
void AlawDecodeBlockAvx512(const uint8_t* codes, size_t code_count, int16_t* samples);
void MulawDecodeBlockAvx512(const uint8_t* codes, size_t code_count, int16_t* samples);
size_t AlawEncodeBlockAvx512(const int16_t* samples, size_t sample_count, uint8_t* codes);
size_t MulawEncodeBlockAvx512(const int16_t* samples, size_t sample_count, uint8_t* codes);
void AdpcmDecodeBlockAvx512(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes,
                            size_t byte_count, int16_t* samples);
#endif

#if defined(KVOX_CODEC_WASM_SIMD)
// The WebAssembly SIMD decoders (blocks_wasm.cpp).
void AlawDecodeBlockWasmSimd(const uint8_t* codes, size_t code_count, int16_t* samples);
void MulawDecodeBlockWasmSimd(const uint8_t* codes, size_t code_count, int16_t* samples);
void AdpcmDecodeBlockWasmSimd(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes,
                              size_t byte_count, int16_t* samples);
#endif

}  // namespace block_internals
