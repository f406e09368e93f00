// The block conversions with AVX-512BW, 32 samples to a vector. Every function here is compiled for that
// instruction set alone (the rest of the program is not), and is called only when the processor has it.
#include "codec/block_internals.h"

#if defined(KVOX_CODEC_AVX512)

// GCC 12's AVX-512 intrinsics pass deliberately undefined vectors as the unused source of their unmasked
// forms, which its own uninitialised-use warning then reports at every call.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <immintrin.h>

// force_align_arg_pointer: a 32-bit Windows caller may leave the stack aligned to 4 bytes only.
#if defined(__i386__)
#define KVOX_AVX512 __attribute__((target("avx512bw,avx512vl"), force_align_arg_pointer))
#else
#define KVOX_AVX512 __attribute__((target("avx512bw,avx512vl")))
#endif
#define KVOX_AVX512_INLINE __attribute__((target("avx512bw,avx512vl"), always_inline)) inline

namespace block_internals {

bool ProcessorHasAvx512BW() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vl");
}

namespace {

// Constants of the vector code, as arrays of 16-bit lanes.
struct alignas(64) Lanes32 {
  int16_t lanes[32];
};

constexpr Lanes32 LanesOf(int16_t (*lane)(int)) {
  Lanes32 v{};
  for (int j = 0; j < 32; ++j) v.lanes[j] = lane(j);
  return v;
}

constexpr Lanes32 BitLengthsLow = LanesOf([](int j) { return BitLengths[j]; });
constexpr Lanes32 BitLengthsHigh = LanesOf([](int j) { return BitLengths[32 + j]; });
constexpr Lanes32 StepsLow = LanesOf([](int j) { return StepTable[j]; });
constexpr Lanes32 StepsHigh = LanesOf([](int j) { return StepTable[32 + j]; });
// The step index's change for each code 0..15.
constexpr Lanes32 IndexChanges = LanesOf([](int j) { return static_cast<int16_t>(j < 16 ? IndexAdjust[j & 7] : 0); });
// Lane j takes lane j - 1 (lane 0 is masked off).
constexpr Lanes32 PreviousLane = LanesOf([](int j) { return static_cast<int16_t>(j > 0 ? j - 1 : 0); });

KVOX_AVX512_INLINE __m512i Load(const Lanes32& v) { return _mm512_load_si512(v.lanes); }

// ---- G.711 decoding ----

// The whole 256-entry table sits in eight registers, and 32 codes are looked up at once: four
// two-register permutes pick by the low six bits of each code, and bits 6 and 7 choose among their results.
KVOX_AVX512 void DecodeByTable(const PcmTable& table, const uint8_t* codes, size_t code_count, unsigned char* out) {
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
  for (; i < code_count; ++i) StoreSample(out, i, table.samples[codes[i]]);
}

// ---- G.711 encoding ----

// A-law: with a = min(|s|, 32767) / 16 and c the bit length of a / 32, the code's magnitude part is
// 16 * c + (a >> c); non-negative samples set bit 7, then the even bits are inverted.
KVOX_AVX512_INLINE __m512i AlawCodes(__m512i s, __m512i lengths_low, __m512i lengths_high) {
  const __m512i a = _mm512_min_epu16(_mm512_srli_epi16(_mm512_abs_epi16(s), 4), _mm512_set1_epi16(2047));
  const __m512i c = _mm512_permutex2var_epi16(lengths_low, _mm512_srli_epi16(a, 5), lengths_high);
  const __m512i bits = _mm512_add_epi16(_mm512_srlv_epi16(a, c), _mm512_slli_epi16(c, 4));
  const __m512i flip =
      _mm512_mask_blend_epi16(_mm512_movepi16_mask(s), _mm512_set1_epi16(0xD5), _mm512_set1_epi16(0x55));
  return _mm512_xor_si512(bits, flip);
}

// mu-law: with b = min(|s| / 8 + 16, 4095), the biased magnitude halved, the segment k is its bit length
// less 5: the bit length of b / 64, plus one where b >= 32. The code is 0xFF (0x7F for samples of -4 and
// below) minus 16 * k minus the four bits below b's leading one, which are (b >> k) - 16.
KVOX_AVX512_INLINE __m512i MulawCodes(__m512i s, __m512i lengths_low, __m512i lengths_high) {
  const __m512i b = _mm512_min_epu16(_mm512_add_epi16(_mm512_srli_epi16(_mm512_abs_epi16(s), 3), _mm512_set1_epi16(16)),
                                     _mm512_set1_epi16(4095));
  const __m512i k = _mm512_add_epi16(_mm512_permutex2var_epi16(lengths_low, _mm512_srli_epi16(b, 6), lengths_high),
                                     _mm512_min_epu16(_mm512_srli_epi16(b, 5), _mm512_set1_epi16(1)));
  const __mmask32 negative = _mm512_cmplt_epi16_mask(s, _mm512_set1_epi16(-3));
  const __m512i top = _mm512_mask_blend_epi16(negative, _mm512_set1_epi16(0xFF + 16), _mm512_set1_epi16(0x7F + 16));
  return _mm512_sub_epi16(_mm512_sub_epi16(top, _mm512_slli_epi16(k, 4)), _mm512_srlv_epi16(b, k));
}

// 32 samples are loaded before their 32 codes are stored, at or before the samples' first byte, so coding
// in place is safe; the last vector is partial, with masked loads and stores.
template <bool Alaw>
KVOX_AVX512 size_t EncodeG711(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  const unsigned char* sample_bytes = BytesOf(samples);
  const __m512i lengths_low = Load(BitLengthsLow);
  const __m512i lengths_high = Load(BitLengthsHigh);
  for (size_t i = 0; i < sample_count; i += 32) {
    const size_t count = sample_count - i < 32 ? sample_count - i : 32;
    const __mmask32 lanes = count == 32 ? ~__mmask32{0} : (__mmask32{1} << count) - 1;
    const __m512i s = _mm512_maskz_loadu_epi16(lanes, sample_bytes + 2 * i);
    const __m512i code = Alaw ? AlawCodes(s, lengths_low, lengths_high) : MulawCodes(s, lengths_low, lengths_high);
    _mm256_mask_storeu_epi8(codes + i, lanes, _mm512_cvtepi16_epi8(code));
  }
  return sample_count;
}

// ---- ADPCM decoding ----
//
// The step index and the predictor each follow x -> limit(x + a) from code to code. The step index's
// additions depend on the codes alone, and the predictor's on the codes and the step indices, so for 32
// codes at once both come from prefix sums: the step index, held at 0 from below, is the prefix sum P minus
// min(-x0, the running minimum of P); the predictor is its start plus the prefix sum of the differences.
// Where a vector would meet the step index's upper limit (48) or either limit of the predictor, which
// these forms leave out, its 32 codes take the scalar chain instead. The DC tracker's window sums are a
// prefix sum too.

// Lanes shifted up by `words` (a power of two), the lanes below filled from `fill`.
template <int Words>
KVOX_AVX512_INLINE __m512i ShiftUp(__m512i v, __m512i fill, __m512i previous_lane) {
  if constexpr (Words == 1) {
    return _mm512_mask_permutexvar_epi16(fill, ~__mmask32{1}, previous_lane, v);
  } else {
    return _mm512_alignr_epi32(v, fill, 16 - Words / 2);
  }
}

KVOX_AVX512_INLINE __m512i PrefixSums(__m512i v, __m512i previous_lane) {
  const __m512i zero = _mm512_setzero_si512();
  v = _mm512_add_epi16(v, ShiftUp<1>(v, zero, previous_lane));
  v = _mm512_add_epi16(v, ShiftUp<2>(v, zero, previous_lane));
  v = _mm512_add_epi16(v, ShiftUp<4>(v, zero, previous_lane));
  v = _mm512_add_epi16(v, ShiftUp<8>(v, zero, previous_lane));
  return _mm512_add_epi16(v, ShiftUp<16>(v, zero, previous_lane));
}

KVOX_AVX512_INLINE __m512i PrefixMinima(__m512i v, __m512i previous_lane) {
  const __m512i top = _mm512_set1_epi16(0x7FFF);
  v = _mm512_min_epi16(v, ShiftUp<1>(v, top, previous_lane));
  v = _mm512_min_epi16(v, ShiftUp<2>(v, top, previous_lane));
  v = _mm512_min_epi16(v, ShiftUp<4>(v, top, previous_lane));
  v = _mm512_min_epi16(v, ShiftUp<8>(v, top, previous_lane));
  return _mm512_min_epi16(v, ShiftUp<16>(v, top, previous_lane));
}

// The lanes whose code has bit `Bit` set: the bit is moved to the sign position and read as a mask, which
// takes no shuffle unit.
template <int Bit>
KVOX_AVX512_INLINE __mmask32 CodeBit(__m512i codes) {
  return _mm512_movepi16_mask(_mm512_slli_epi16(codes, 15 - Bit));
}

KVOX_AVX512_INLINE __m512i LastLaneEverywhere(__m512i v) { return _mm512_permutexvar_epi16(_mm512_set1_epi16(31), v); }

KVOX_AVX512_INLINE int32_t FirstLane16(__m512i v) {
  return static_cast<int16_t>(_mm_cvtsi128_si32(_mm512_castsi512_si128(v)));
}

// 16 tracker results at once, for new values `values` (int32) whose leaving values start at `leaving`.
// `sum` holds the running sum in every lane, before the first value and, on return, after the last.
KVOX_AVX512_INLINE __m512i Track16(__m512i values, const int32_t* leaving, __m512i& sum) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i change = _mm512_sub_epi32(values, _mm512_loadu_si512(leaving));
  __m512i inclusive = _mm512_add_epi32(change, _mm512_alignr_epi32(change, zero, 15));
  inclusive = _mm512_add_epi32(inclusive, _mm512_alignr_epi32(inclusive, zero, 14));
  inclusive = _mm512_add_epi32(inclusive, _mm512_alignr_epi32(inclusive, zero, 12));
  inclusive = _mm512_add_epi32(inclusive, _mm512_alignr_epi32(inclusive, zero, 8));
  const __m512i before = _mm512_add_epi32(sum, _mm512_sub_epi32(inclusive, change));
  // Division by 128 truncating toward zero: add 127 to negative sums before the arithmetic shift.
  const __m512i bias = _mm512_srli_epi32(_mm512_srai_epi32(before, 31), 32 - 7);
  const __m512i mean = _mm512_srai_epi32(_mm512_add_epi32(before, bias), 7);
  sum = _mm512_add_epi32(sum, _mm512_permutexvar_epi32(_mm512_set1_epi32(15), inclusive));
  return _mm512_sub_epi32(values, mean);
}

// The decoder output for the 32 window values starting at new value j: results times 16 saturate to 16
// bits, and clearing the low four bits then gives exactly the limited result times 16.
KVOX_AVX512_INLINE void TrackAndStore32(const TrackerWindow& window, size_t j, __m512i low, __m512i high, __m512i& sum,
                                        unsigned char* out) {
  const __m512i first = Track16(low, window.values + j, sum);
  const __m512i second = Track16(high, window.values + j + 16, sum);
  const __m512i packed = _mm512_packs_epi32(_mm512_slli_epi32(first, 4), _mm512_slli_epi32(second, 4));
  // The pack interleaves the halves by 128-bit lane; put the 64-bit pieces back in order.
  const __m512i ordered = _mm512_permutexvar_epi64(_mm512_setr_epi64(0, 2, 4, 6, 1, 3, 5, 7), packed);
  _mm512_storeu_si512(out + 2 * j, _mm512_and_si512(ordered, _mm512_set1_epi16(static_cast<short>(0xFFF0))));
}

KVOX_AVX512 void DecodeAdpcm(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes,
                             size_t byte_count, int16_t* samples) {
  if (byte_count == 0) return;
  TrackerWindow window;
  LoadHistory(history, window);
  const __m512i previous_lane = Load(PreviousLane);
  const __m512i index_changes = Load(IndexChanges);
  const __m512i steps_low = Load(StepsLow);
  const __m512i steps_high = Load(StepsHigh);
  int32_t index = state.step_index;
  int32_t predictor = state.predictor;
  unsigned char* out = BytesOf(samples);
  constexpr int ScalarRun = 7;
  int scalar_groups = 0;  // vectors left to take the scalar chain without trying
  size_t done_bytes = 0;
  while (done_bytes < byte_count) {
    const size_t chunk_bytes = byte_count - done_bytes < ChunkSamples / 2 ? byte_count - done_bytes : ChunkSamples / 2;
    const uint8_t* chunk = bytes + done_bytes;
    int32_t* predictors = window.values + DcTrackerLength;
    unsigned char* chunk_out = out + 4 * done_bytes;
    // Step index, predictor and running sum in every lane.
    __m512i index_vector = _mm512_set1_epi16(static_cast<short>(index));
    __m512i predictor_vector = _mm512_set1_epi16(static_cast<short>(predictor));
    __m512i sum_vector = _mm512_set1_epi32(sum);
    size_t i = 0;
    for (; i + 16 <= chunk_bytes; i += 16) {
      bool scalar = scalar_groups > 0;
      __m512i after, predictors_after;
      if (!scalar) {
        // 32 codes, high nibble first.
        const __m256i byte_lanes = _mm256_cvtepu8_epi16(_mm_loadu_si128(reinterpret_cast<const __m128i*>(chunk + i)));
        const __m256i nibbles =
            _mm256_or_si256(_mm256_srli_epi16(byte_lanes, 4),
                            _mm256_slli_epi16(_mm256_and_si256(byte_lanes, _mm256_set1_epi16(15)), 8));
        const __m512i codes = _mm512_cvtepu8_epi16(nibbles);
        // The step index after each code, held at 0 from below.
        const __m512i climb = PrefixSums(_mm512_permutexvar_epi16(codes, index_changes), previous_lane);
        const __m512i lowest = _mm512_min_epi16(_mm512_sub_epi16(_mm512_setzero_si512(), index_vector),
                                                PrefixMinima(climb, previous_lane));
        after = _mm512_sub_epi16(climb, lowest);
        scalar = _mm512_cmpgt_epi16_mask(after, _mm512_set1_epi16(MaxStepIndex)) != 0;
        if (!scalar) {
          // The difference each code stands for at the step index before it.
          const __m512i indices = ShiftUp<1>(after, index_vector, previous_lane);
          const __m512i step = _mm512_permutex2var_epi16(steps_low, indices, steps_high);
          __m512i difference = _mm512_srli_epi16(step, 3);
          difference = _mm512_mask_add_epi16(difference, CodeBit<2>(codes), difference, step);
          difference = _mm512_mask_add_epi16(difference, CodeBit<1>(codes), difference, _mm512_srli_epi16(step, 1));
          difference = _mm512_mask_add_epi16(difference, CodeBit<0>(codes), difference, _mm512_srli_epi16(step, 2));
          difference = _mm512_mask_sub_epi16(difference, CodeBit<3>(codes), _mm512_setzero_si512(), difference);
          // Unlimited predictors. Up to the first that leaves -2048..2047 every partial sum is exact in 16
          // bits, so that one is seen even where later lanes wrap.
          predictors_after = _mm512_add_epi16(predictor_vector, PrefixSums(difference, previous_lane));
          scalar = (_mm512_cmpgt_epi16_mask(predictors_after, _mm512_set1_epi16(2047)) |
                    _mm512_cmplt_epi16_mask(predictors_after, _mm512_set1_epi16(-2048))) != 0;
        }
        // Where a limit is met (loud or random input) it tends to be met again: the next vectors go
        // straight to the scalar chain.
        if (scalar) scalar_groups = ScalarRun;
      } else {
        --scalar_groups;
      }
      __m512i low, high;
      if (!scalar) {
        index_vector = LastLaneEverywhere(after);
        predictor_vector = LastLaneEverywhere(predictors_after);
        low = _mm512_cvtepi16_epi32(_mm512_castsi512_si256(predictors_after));
        high = _mm512_cvtepi16_epi32(_mm512_extracti64x4_epi64(predictors_after, 1));
        _mm512_storeu_si512(predictors + 2 * i, low);
        _mm512_storeu_si512(predictors + 2 * i + 16, high);
      } else {
        int32_t scalar_predictor = FirstLane16(predictor_vector);
        uint32_t byte_row = static_cast<uint32_t>(FirstLane16(index_vector)) * 256;
        for (size_t k = i; k < i + 16; ++k) DecodeByte(chunk[k], scalar_predictor, byte_row, predictors + 2 * k);
        index_vector = _mm512_set1_epi16(static_cast<short>(byte_row / 256));
        predictor_vector = _mm512_set1_epi16(static_cast<short>(scalar_predictor));
        low = _mm512_loadu_si512(predictors + 2 * i);
        high = _mm512_loadu_si512(predictors + 2 * i + 16);
      }
      TrackAndStore32(window, 2 * i, low, high, sum_vector, chunk_out);
    }
    index = FirstLane16(index_vector);
    predictor = FirstLane16(predictor_vector);
    sum = _mm_cvtsi128_si32(_mm512_castsi512_si128(sum_vector));
    if (i < chunk_bytes) {
      uint32_t byte_row = static_cast<uint32_t>(index) * 256;
      for (size_t k = i; k < chunk_bytes; ++k) DecodeByte(chunk[k], predictor, byte_row, predictors + 2 * k);
      index = static_cast<int32_t>(byte_row / 256);
      sum = TrackScalar(window, 2 * i, 2 * chunk_bytes, sum,
                        [chunk_out](size_t k, int32_t result) { StoreSample(chunk_out, k, DecoderOutput(result)); });
    }
    done_bytes += chunk_bytes;
    ShiftWindow(window, 2 * chunk_bytes);
  }
  StoreHistory(window, 2 * byte_count, history);
  state.predictor = predictor;
  state.step_index = index;
}

}  // namespace

void AlawDecodeBlockAvx512(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeByTable(AlawPcmTable, codes, code_count, BytesOf(samples));
}

void MulawDecodeBlockAvx512(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeByTable(MulawPcmTable, codes, code_count, BytesOf(samples));
}

size_t AlawEncodeBlockAvx512(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeG711<true>(samples, sample_count, codes);
}

size_t MulawEncodeBlockAvx512(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeG711<false>(samples, sample_count, codes);
}

void AdpcmDecodeBlockAvx512(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes,
                            size_t byte_count, int16_t* samples) {
  DecodeAdpcm(state, history, sum, bytes, byte_count, samples);
}

}  // namespace block_internals

#endif
