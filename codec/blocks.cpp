#include "codec/blocks.h"

#include <cstring>

#include "codec/adpcm_tables.h"
#include "codec/g711.h"

// Vector paths: SSE2 wherever the target has it (all of x86-64), AVX-512BW chosen at run time on x86-64.
// KVOX_CODEC_SCALAR leaves only the scalar code, so that it can be tested on a machine with vectors too.
#if !defined(KVOX_CODEC_SCALAR) && defined(__SSE2__)
#define KVOX_CODEC_SSE2 1
#include <emmintrin.h>
#endif
#if !defined(KVOX_CODEC_SCALAR) && defined(__x86_64__) && defined(__GNUC__)
#define KVOX_CODEC_AVX512 1
#include <immintrin.h>
#endif

namespace {

using adpcm_tables::CodeCount;
using adpcm_tables::DecodeSteps;
using adpcm_tables::EncodeDifferences;
using adpcm_tables::EncodeNextRows;
using adpcm_tables::EncodeNextThresholds;
using adpcm_tables::RowAfterByte;

// Samples sit in the host's buffer at any alignment, and in-place encoding writes code bytes over them,
// so inside this file samples are addressed as bytes and move through memcpy (or unaligned vector loads
// and stores), and code bytes through uint8_t, which may alias anything.
int16_t LoadSample(const unsigned char* sample_bytes, size_t index) {
  int16_t sample;
  std::memcpy(&sample, sample_bytes + 2 * index, sizeof sample);
  return sample;
}

void StoreSample(unsigned char* sample_bytes, size_t index, int16_t sample) {
  std::memcpy(sample_bytes + 2 * index, &sample, sizeof sample);
}

const unsigned char* BytesOf(const int16_t* samples) { return reinterpret_cast<const unsigned char*>(samples); }
unsigned char* BytesOf(int16_t* samples) { return reinterpret_cast<unsigned char*>(samples); }

// The block ADPCM coders work in chunks of samples, in passes: the DC tracker runs over a whole chunk at
// once (its values do not depend on the codes), apart from the chain through predictor and step index.
constexpr size_t ChunkSamples = 512;

// The values that enter the DC tracker, oldest first: the 128 that entered before this chunk, then the
// chunk's own.
struct TrackerWindow {
  int32_t values[DcTrackerLength + ChunkSamples];
};

void LoadHistory(const DcHistory& history, TrackerWindow& window) {
  for (int k = 0; k < DcTrackerLength; ++k) {
    window.values[k] = history.ring[(history.position + k) & (DcTrackerLength - 1)];
  }
}

// Moves the newest 128 values to the front, ready for the next chunk.
void ShiftWindow(TrackerWindow& window, size_t count) {
  std::memmove(window.values, window.values + count, DcTrackerLength * sizeof(int32_t));
}

// Writes the front of the window (the newest 128 values) back into the ring, as the per-value tracker would
// have left it after `count` more values.
void StoreHistory(const TrackerWindow& window, size_t count, DcHistory& history) {
  const int32_t position = static_cast<int32_t>((history.position + count) & (DcTrackerLength - 1));
  for (int k = 0; k < DcTrackerLength; ++k) history.ring[(position + k) & (DcTrackerLength - 1)] = window.values[k];
  history.position = position;
}

// The tracker over the window's new values first..end-1: result j is value j minus the truncated mean of
// the 128 values before it. Calls `emit(j, result)`; returns the running sum after value end-1.
template <typename Emit>
int32_t TrackScalar(const TrackerWindow& window, size_t first, size_t end, int32_t sum, Emit emit) {
  for (size_t j = first; j < end; ++j) {
    const int32_t value = window.values[DcTrackerLength + j];
    emit(j, value - sum / DcTrackerLength);
    sum += value - window.values[j];
  }
  return sum;
}

#if defined(KVOX_CODEC_SSE2)
// Four consecutive tracker results at once. The sums before each value are the running sum plus an
// exclusive prefix sum of (new value - value leaving the window).
struct TrackVector {
  __m128i results;
  __m128i sum;  // all four lanes: the running sum after the four values
};

inline TrackVector Track4(const TrackerWindow& window, size_t j, __m128i sum) {
  const __m128i values = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window.values + DcTrackerLength + j));
  const __m128i leaving = _mm_loadu_si128(reinterpret_cast<const __m128i*>(window.values + j));
  const __m128i change = _mm_sub_epi32(values, leaving);
  __m128i inclusive = _mm_add_epi32(change, _mm_slli_si128(change, 4));
  inclusive = _mm_add_epi32(inclusive, _mm_slli_si128(inclusive, 8));
  const __m128i before = _mm_add_epi32(sum, _mm_sub_epi32(inclusive, change));
  // Division by 128 truncating toward zero: add 127 to negative sums before the arithmetic shift.
  const __m128i bias = _mm_srli_epi32(_mm_srai_epi32(before, 31), 32 - 7);
  const __m128i mean = _mm_srai_epi32(_mm_add_epi32(before, bias), 7);
  return {_mm_sub_epi32(values, mean), _mm_add_epi32(sum, _mm_shuffle_epi32(inclusive, 0xFF))};
}
#endif

// Decoder output for the window's new values first..end-1: the tracker result limited to -2048..2047,
// times 16, stored as sample j of `out`.
int32_t TrackDecoderOutput(const TrackerWindow& window, size_t first, size_t end, int32_t sum, unsigned char* out) {
  size_t j = first;
#if defined(KVOX_CODEC_SSE2)
  __m128i vector_sum = _mm_set1_epi32(sum);
  // Times 16 the results lie in -65520..65520; saturating to 16 bits and clearing the low four bits
  // gives exactly the limited result times 16 (32767 becomes 32752).
  const __m128i low_bits_clear = _mm_set1_epi16(static_cast<short>(0xFFF0));
  for (; j + 8 <= end; j += 8) {
    const TrackVector first_four = Track4(window, j, vector_sum);
    const TrackVector second_four = Track4(window, j + 4, first_four.sum);
    vector_sum = second_four.sum;
    const __m128i packed =
        _mm_packs_epi32(_mm_slli_epi32(first_four.results, 4), _mm_slli_epi32(second_four.results, 4));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 2 * j), _mm_and_si128(packed, low_bits_clear));
  }
  sum = _mm_cvtsi128_si32(vector_sum);
#endif
  return TrackScalar(window, j, end, sum, [out](size_t k, int32_t result) {
    if (result > 2047) result = 2047;
    if (result < -2048) result = -2048;
    StoreSample(out, k, static_cast<int16_t>(result * 16));
  });
}

// Encoder targets for the window's new values first..end-1: the tracker results, unlimited (within
// -4094..4094).
int32_t TrackEncoderTargets(const TrackerWindow& window, size_t first, size_t end, int32_t sum, int32_t* targets) {
  size_t j = first;
#if defined(KVOX_CODEC_SSE2)
  __m128i vector_sum = _mm_set1_epi32(sum);
  for (; j + 4 <= end; j += 4) {
    const TrackVector four = Track4(window, j, vector_sum);
    vector_sum = four.sum;
    _mm_storeu_si128(reinterpret_cast<__m128i*>(targets + j), four.results);
  }
  sum = _mm_cvtsi128_si32(vector_sum);
#endif
  return TrackScalar(window, j, end, sum, [targets](size_t k, int32_t result) { targets[k] = result; });
}

// The tracker runs a span behind the predictor chain in the decoder and a span ahead of it in the encoder,
// in the same loop, so that its work fills the time the chain leaves idle.
constexpr size_t TrackerSpan = 8;

// Keeps a value as it is computed here: stops the compiler from turning a tree of additions back into a
// chain, or from moving an addition onto the dependency chain.
template <typename T>
inline T KeepApart(T value) {
#if defined(__GNUC__)
  asm("" : "+r"(value));
#endif
  return value;
}

// The encoder's inputs: the samples divided by 16, truncating toward zero, and limited to -2047..2047.
void EncoderInputs(const unsigned char* sample_bytes, size_t count, int32_t* inputs) {
  size_t j = 0;
#if defined(KVOX_CODEC_SSE2)
  const __m128i lowest = _mm_set1_epi16(-2047);
  for (; j + 8 <= count; j += 8) {
    const __m128i eight = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sample_bytes + 2 * j));
    // Adding 15 to negative samples makes the arithmetic shift truncate toward zero.
    const __m128i bias = _mm_srli_epi16(_mm_srai_epi16(eight, 15), 12);
    const __m128i x = _mm_max_epi16(_mm_srai_epi16(_mm_add_epi16(eight, bias), 4), lowest);
    const __m128i sign = _mm_srai_epi16(x, 15);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(inputs + j), _mm_unpacklo_epi16(x, sign));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(inputs + j + 4), _mm_unpackhi_epi16(x, sign));
  }
#endif
  for (; j < count; ++j) {
    const int32_t x = LoadSample(sample_bytes, j) / 16;
    inputs[j] = x < -2047 ? -2047 : x;
  }
}

// The encoder between two samples. The last code's difference is kept apart from the predictor, so that
// the next target minus the predictor can be formed while that difference is still being loaded.
struct EncoderChain {
  int32_t predictor;          // without the last code's difference
  int32_t pending;            // the last code's difference
  const int32_t* thresholds;  // the current step index's thresholds 1..7
  uint32_t row;               // the current step index times 16
};

// The encoder's decision for one target. From one code to the next the chain runs through one load (the
// difference) and the decision; everything else is loaded or formed beside it.
inline uint32_t EncodeNext(int32_t target, EncoderChain& chain) {
  const int32_t ahead = KeepApart(target - chain.predictor);
  const int32_t* differences = KeepApart(EncodeDifferences.data() + chain.row);
  const uint32_t* next_rows = KeepApart(EncodeNextRows.data() + chain.row);
  const adpcm_tables::EncodeThresholds* next_thresholds = KeepApart(EncodeNextThresholds.data() + chain.row);
  chain.predictor += chain.pending;
  const int32_t d = ahead - chain.pending;
  const int32_t magnitude = d < 0 ? -d : d;
  // 1 when the magnitude stays below threshold k: the sign bit of magnitude - threshold.
  const int32_t* thresholds = chain.thresholds;
  const auto below = [magnitude, thresholds](int k) { return static_cast<uint32_t>(magnitude - thresholds[k]) >> 31; };
  // The greedy choice of step, step/2 and step/4 takes every threshold that the magnitude reaches, as the
  // thresholds rise with the code. The count is summed as a tree, not a chain.
  const uint32_t negative = static_cast<uint32_t>(d) >> 31;
  const uint32_t position = KeepApart(KeepApart(below(0) + below(1)) + KeepApart(below(2) + below(3))) +
                            KeepApart(KeepApart(below(4) + below(5)) + KeepApart(below(6) + (negative << 3)));
  chain.pending = differences[position];
  chain.row = next_rows[position];
  chain.thresholds = next_thresholds[position].thresholds;
  return position ^ 7;
}

inline int32_t Clamp(int32_t value, int32_t low, int32_t high) {
  value = value < low ? low : value;
  return value > high ? high : value;
}

// The decoder's predictors for one byte, high nibble first. The step index advances by one load per byte,
// and the predictor by one clamp per byte.
inline void DecodeByte(uint32_t byte, int32_t& predictor, uint32_t& byte_row, int32_t* predictors) {
  const adpcm_tables::DecodeStep& first = DecodeSteps[(byte_row >> 4) + (byte >> 4)];
  const adpcm_tables::DecodeStep& second = DecodeSteps[first.next_row + (byte & 0x0F)];
  predictors[0] = Clamp(predictor + first.difference, -2048, 2047);
  predictor = Clamp(predictor + (first.difference + second.difference), second.low_limit, second.high_limit);
  predictors[1] = predictor;
  byte_row = RowAfterByte[byte_row + byte];
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

constexpr PcmTable AlawPcmTable = MakePcmTable<AlawToPcm>();
constexpr PcmTable MulawPcmTable = MakePcmTable<MulawToPcm>();

#if defined(KVOX_CODEC_AVX512)
// With AVX-512BW the whole 256-entry table sits in eight registers, and 32 codes are looked up at once: four
// two-register permutes pick by the low six bits of each code, and bits 6 and 7 choose among their results.
__attribute__((target("avx512bw"))) size_t DecodeByTableAvx512(const PcmTable& table, const uint8_t* codes,
                                                               size_t code_count, unsigned char* out) {
  __m512i quarter[8];
  for (int k = 0; k < 8; ++k) quarter[k] = _mm512_load_si512(table.samples + 32 * k);
  const __m512i bit6 = _mm512_set1_epi16(0x40);
  const __m512i bit7 = _mm512_set1_epi16(0x80);
  size_t i = 0;
  for (; i + 32 <= code_count; i += 32) {
    const __m512i index = _mm512_cvtepu8_epi16(_mm256_loadu_si256(reinterpret_cast<const __m256i*>(codes + i)));
    const __m512i from0 = _mm512_permutex2var_epi16(quarter[0], index, quarter[1]);
    const __m512i from64 = _mm512_permutex2var_epi16(quarter[2], index, quarter[3]);
    const __m512i from128 = _mm512_permutex2var_epi16(quarter[4], index, quarter[5]);
    const __m512i from192 = _mm512_permutex2var_epi16(quarter[6], index, quarter[7]);
    const __mmask32 upper_half = _mm512_test_epi16_mask(index, bit6);
    const __mmask32 upper_quarters = _mm512_test_epi16_mask(index, bit7);
    const __m512i low = _mm512_mask_blend_epi16(upper_half, from0, from64);
    const __m512i high = _mm512_mask_blend_epi16(upper_half, from128, from192);
    _mm512_storeu_si512(out + 2 * i, _mm512_mask_blend_epi16(upper_quarters, low, high));
  }
  return i;
}
#endif

void DecodeByTable(const PcmTable& table, const uint8_t* codes, size_t code_count, unsigned char* sample_bytes) {
  size_t i = 0;
#if defined(KVOX_CODEC_AVX512)
  if (__builtin_cpu_supports("avx512bw")) {
    i = DecodeByTableAvx512(table, codes, code_count, sample_bytes);
  }
#endif
  for (; i < code_count; ++i) StoreSample(sample_bytes, i, table.samples[codes[i]]);
}

}  // namespace

void AlawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeByTable(AlawPcmTable, codes, code_count, BytesOf(samples));
}

void MulawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeByTable(MulawPcmTable, codes, code_count, BytesOf(samples));
}

namespace {

// G.711 encoding a chunk at a time: the chunk's samples are copied out before its codes are stored, which
// keeps in-place coding correct (codes k..k+n-1 lie at or before samples k..) and lets the compiler treat
// the per-sample work as independent, with no store that might alias the next load.
template <uint8_t (*Encode)(int16_t)>
size_t EncodeG711Block(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  constexpr size_t Chunk = 256;
  int16_t chunk_samples[Chunk];
  uint8_t chunk_codes[Chunk];
  const unsigned char* sample_bytes = BytesOf(samples);
  for (size_t done = 0; done < sample_count; done += Chunk) {
    const size_t count = sample_count - done < Chunk ? sample_count - done : Chunk;
    std::memcpy(chunk_samples, sample_bytes + 2 * done, 2 * count);
    for (size_t i = 0; i < count; ++i) chunk_codes[i] = Encode(chunk_samples[i]);
    std::memcpy(codes + done, chunk_codes, count);
  }
  return sample_count;
}

}  // namespace

size_t AlawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeG711Block<PcmToAlaw>(samples, sample_count, codes);
}

size_t MulawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeG711Block<PcmToMulaw>(samples, sample_count, codes);
}

void AdpcmDecodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes, size_t byte_count,
                      int16_t* samples) {
  if (byte_count == 0) return;
  TrackerWindow window;
  LoadHistory(history, window);
  int32_t predictor = state.predictor;
  uint32_t byte_row = static_cast<uint32_t>(state.step_index) * 256;  // this step index's row in RowAfterByte
  unsigned char* out = BytesOf(samples);
  size_t done_bytes = 0;
  while (done_bytes < byte_count) {
    const size_t chunk_bytes = byte_count - done_bytes < ChunkSamples / 2 ? byte_count - done_bytes : ChunkSamples / 2;
    int32_t* predictors = window.values + DcTrackerLength;
    unsigned char* chunk_out = out + 4 * done_bytes;
    size_t tracked = 0;  // samples of this chunk already through the tracker
    size_t i = 0;
    // Four bytes make one tracker span; the span decoded before them goes through the tracker meanwhile.
    for (; i + TrackerSpan / 2 <= chunk_bytes; i += TrackerSpan / 2) {
      for (size_t k = i; k < i + TrackerSpan / 2; ++k) {
        DecodeByte(bytes[done_bytes + k], predictor, byte_row, predictors + 2 * k);
      }
      if (i > 0) {
        sum = TrackDecoderOutput(window, tracked, tracked + TrackerSpan, sum, chunk_out);
        tracked += TrackerSpan;
      }
    }
    for (; i < chunk_bytes; ++i) DecodeByte(bytes[done_bytes + i], predictor, byte_row, predictors + 2 * i);
    const size_t chunk_samples = 2 * chunk_bytes;
    sum = TrackDecoderOutput(window, tracked, chunk_samples, sum, chunk_out);
    done_bytes += chunk_bytes;
    ShiftWindow(window, chunk_samples);
  }
  StoreHistory(window, 2 * byte_count, history);
  state.predictor = predictor;
  state.step_index = static_cast<int32_t>(byte_row / 256);
}

size_t AdpcmEncodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const int16_t* samples,
                        size_t sample_count, uint8_t* codes) {
  const size_t byte_count = (sample_count + 1) / 2;
  if (byte_count == 0) return 0;
  const size_t total_samples = 2 * byte_count;  // an odd last sample counts twice
  const unsigned char* sample_bytes = BytesOf(samples);
  TrackerWindow window;
  LoadHistory(history, window);
  int32_t targets[ChunkSamples];
  EncoderChain chain{state.predictor, 0, adpcm_tables::StepThresholds[state.step_index].thresholds,
                     static_cast<uint32_t>(state.step_index * CodeCount)};
  size_t done = 0;
  while (done < total_samples) {
    const size_t chunk = total_samples - done < ChunkSamples ? total_samples - done : ChunkSamples;
    const size_t real = done + chunk <= sample_count ? chunk : chunk - 1;
    EncoderInputs(sample_bytes + 2 * done, real, window.values + DcTrackerLength);
    if (real < chunk) EncoderInputs(sample_bytes + 2 * (sample_count - 1), 1, window.values + DcTrackerLength + real);
    size_t tracked = chunk < TrackerSpan ? chunk : TrackerSpan;  // samples with their target ready
    sum = TrackEncoderTargets(window, 0, tracked, sum, targets);
    // Every sample of the chunk has been read, so its code bytes may now overwrite the chunk's start.
    for (size_t j = 0; j < chunk;) {
      const size_t coded_end = tracked;
      if (tracked < chunk) {
        const size_t next = chunk - tracked < TrackerSpan ? chunk : tracked + TrackerSpan;
        sum = TrackEncoderTargets(window, tracked, next, sum, targets);
        tracked = next;
      }
      for (; j < coded_end; j += 2) {
        const uint32_t high = EncodeNext(targets[j], chain);
        const uint32_t low = EncodeNext(targets[j + 1], chain);
        codes[(done + j) / 2] = static_cast<uint8_t>(high << 4 | low);
      }
    }
    done += chunk;
    ShiftWindow(window, chunk);
  }
  StoreHistory(window, total_samples, history);
  state.predictor = chain.predictor + chain.pending;
  state.step_index = static_cast<int32_t>(chain.row / CodeCount);
  return byte_count;
}
