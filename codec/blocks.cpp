#include "codec/blocks.h"

#include <cstring>

#include "codec/adpcm_tables.h"
#include "codec/block_internals.h"
#include "codec/block_paths.h"
#include "codec/g711.h"

#if defined(KVOX_CODEC_SSE2)
#include <emmintrin.h>
#endif

using namespace block_internals;

namespace {

// ---- G.711 ----

void AlawDecodePortable(const uint8_t* codes, size_t code_count, int16_t* samples) {
  unsigned char* out = BytesOf(samples);
  for (size_t i = 0; i < code_count; ++i) StoreSample(out, i, AlawPcmTable.samples[codes[i]]);
}

void MulawDecodePortable(const uint8_t* codes, size_t code_count, int16_t* samples) {
  unsigned char* out = BytesOf(samples);
  for (size_t i = 0; i < code_count; ++i) StoreSample(out, i, MulawPcmTable.samples[codes[i]]);
}

// The code of a sample depends only on its sign and on its magnitude shifted right by 4 (A-law) or 3
// (mu-law), so the portable encoders look the code of the magnitude up in a small table and set the sign.
//
// A-law: index |s| / 16 (0..2048; 2048 is the magnitude of -32768, which is coded as 32767). A negative
// sample clears bit 7.
constexpr std::array<uint8_t, 2049> AlawCodeOfMagnitude = [] {
  std::array<uint8_t, 2049> codes{};
  for (int a = 0; a <= 2048; ++a) codes[a] = PcmToAlaw(static_cast<int16_t>(a < 2048 ? a * 16 : 32767));
  return codes;
}();

// mu-law: index |s| / 8 (0..4096). Samples of -4 and below clear bit 7; -1..-3 are coded as zero.
constexpr std::array<uint8_t, 4097> MulawCodeOfMagnitude = [] {
  std::array<uint8_t, 4097> codes{};
  for (int m = 0; m <= 4096; ++m) codes[m] = PcmToMulaw(static_cast<int16_t>(m < 4096 ? m * 8 : 32767));
  return codes;
}();

static_assert(AlawCodeOfMagnitude[0] == PcmToAlaw(0) && AlawCodeOfMagnitude[2048] == PcmToAlaw(-32768) + 0x80);
static_assert(MulawCodeOfMagnitude[0] == 0xFF && MulawCodeOfMagnitude[4096] == PcmToMulaw(-32768) + 0x80);

// G.711 encoding a chunk at a time: the chunk's samples are copied out before its codes are stored, which
// keeps in-place coding correct (codes k..k+n-1 lie at or before samples k..) and lets the compiler treat
// the per-sample work as independent, with no store that might alias the next load.
template <typename Encode>
size_t EncodeByChunks(const int16_t* samples, size_t sample_count, uint8_t* codes, Encode encode) {
  constexpr size_t Chunk = 256;
  int16_t chunk_samples[Chunk];
  uint8_t chunk_codes[Chunk];
  const unsigned char* sample_bytes = BytesOf(samples);
  for (size_t done = 0; done < sample_count; done += Chunk) {
    const size_t count = sample_count - done < Chunk ? sample_count - done : Chunk;
    std::memcpy(chunk_samples, sample_bytes + 2 * done, 2 * count);
    for (size_t i = 0; i < count; ++i) chunk_codes[i] = encode(chunk_samples[i]);
    std::memcpy(codes + done, chunk_codes, count);
  }
  return sample_count;
}

size_t AlawEncodePortable(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeByChunks(samples, sample_count, codes, [](int32_t s) {
    const int32_t sign = s >> 31;  // -1 for a negative sample
    return static_cast<uint8_t>(AlawCodeOfMagnitude[((s ^ sign) - sign) >> 4] ^ (sign & 0x80));
  });
}

size_t MulawEncodePortable(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeByChunks(samples, sample_count, codes, [](int32_t s) {
    const int32_t sign = s >> 31;
    const int32_t negative = (s + 3) >> 31;  // -1 for samples of -4 and below
    return static_cast<uint8_t>(MulawCodeOfMagnitude[((s ^ sign) - sign) >> 3] ^ (negative & 0x80));
  });
}

#if defined(KVOX_CODEC_SSE2)
// SSE2 has no variable shifts, so the segment and mantissa come from the float conversion of the shifted
// magnitude x: its exponent field is the bit length of x plus 126 and its next four bits are the four bits
// below x's leading one, so (float bits >> 19) is 16 * (bit length + 126) + those four bits, which is the
// code's magnitude part plus a constant wherever x has at least five bits.
inline __m128i FloatCodeBits(__m128i x) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i low = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpacklo_epi16(x, zero)));
  const __m128i high = _mm_castps_si128(_mm_cvtepi32_ps(_mm_unpackhi_epi16(x, zero)));
  return _mm_packs_epi32(_mm_srli_epi32(low, 19), _mm_srli_epi32(high, 19));
}

// Eight A-law codes as 16-bit lanes. With a = min(|s|, 32767) / 16, the code's magnitude part is a below 32
// and 16 * (bit length of a - 4) + a's four bits below its leading one above; the float bits give the second
// form for a >= 16, where both agree, and stay below a under 16.
inline __m128i AlawCodes8(__m128i s) {
  const __m128i magnitude = _mm_max_epi16(s, _mm_subs_epi16(_mm_setzero_si128(), s));  // -32768 gives 32767
  const __m128i a = _mm_srli_epi16(magnitude, 4);
  const __m128i bits =
      _mm_max_epi16(_mm_sub_epi16(FloatCodeBits(a), _mm_set1_epi16(2080)), _mm_min_epi16(a, _mm_set1_epi16(15)));
  // Non-negative samples set bit 7; then the even bits are inverted.
  const __m128i flip = _mm_xor_si128(_mm_set1_epi16(0xD5), _mm_and_si128(_mm_srai_epi16(s, 15), _mm_set1_epi16(0x80)));
  return _mm_xor_si128(bits, flip);
}

// Eight mu-law codes as 16-bit lanes. With b = min(|s| / 8 + 16, 4095), the biased magnitude halved, the code
// is 0xFF (0x7F for samples of -4 and below) minus 16 * segment minus b's four bits below its leading one.
inline __m128i MulawCodes8(__m128i s) {
  const __m128i magnitude = _mm_max_epi16(s, _mm_subs_epi16(_mm_setzero_si128(), s));
  const __m128i b =
      _mm_min_epi16(_mm_add_epi16(_mm_srli_epi16(magnitude, 3), _mm_set1_epi16(16)), _mm_set1_epi16(4095));
  const __m128i negative = _mm_cmpgt_epi16(_mm_set1_epi16(-3), s);
  // The float bits are 16 * segment + the four bits, plus 16 * 131.
  const __m128i top = _mm_sub_epi16(_mm_set1_epi16(0xFF + 2096), _mm_and_si128(negative, _mm_set1_epi16(0x80)));
  return _mm_sub_epi16(top, FloatCodeBits(b));
}

// Sixteen samples are loaded before their sixteen codes are stored, at or before the samples' first byte, so
// coding in place is safe.
template <__m128i (*Codes8)(__m128i)>
size_t EncodeSse2(const int16_t* samples, size_t sample_count, uint8_t* codes,
                  size_t (*portable)(const int16_t*, size_t, uint8_t*)) {
  const unsigned char* sample_bytes = BytesOf(samples);
  size_t i = 0;
  for (; i + 16 <= sample_count; i += 16) {
    const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sample_bytes + 2 * i));
    const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(sample_bytes + 2 * i + 16));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(codes + i), _mm_packus_epi16(Codes8(first), Codes8(second)));
  }
  portable(reinterpret_cast<const int16_t*>(sample_bytes + 2 * i), sample_count - i, codes + i);
  return sample_count;
}

size_t AlawEncodeSse2(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeSse2<AlawCodes8>(samples, sample_count, codes, AlawEncodePortable);
}

size_t MulawEncodeSse2(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return EncodeSse2<MulawCodes8>(samples, sample_count, codes, MulawEncodePortable);
}
#endif

// ---- ADPCM ----

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
template <bool Sse2>
int32_t TrackDecoderOutput(const TrackerWindow& window, size_t first, size_t end, int32_t sum, unsigned char* out) {
  size_t j = first;
#if defined(KVOX_CODEC_SSE2)
  if constexpr (Sse2) {
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
  }
#endif
  return TrackScalar(window, j, end, sum,
                     [out](size_t k, int32_t result) { StoreSample(out, k, DecoderOutput(result)); });
}

// Encoder targets for the window's new values first..end-1: the tracker results, unlimited (within
// -4094..4094).
template <bool Sse2>
int32_t TrackEncoderTargets(const TrackerWindow& window, size_t first, size_t end, int32_t sum, int32_t* targets) {
  size_t j = first;
#if defined(KVOX_CODEC_SSE2)
  if constexpr (Sse2) {
    __m128i vector_sum = _mm_set1_epi32(sum);
    for (; j + 4 <= end; j += 4) {
      const TrackVector four = Track4(window, j, vector_sum);
      vector_sum = four.sum;
      _mm_storeu_si128(reinterpret_cast<__m128i*>(targets + j), four.results);
    }
    sum = _mm_cvtsi128_si32(vector_sum);
  }
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
template <bool Sse2>
void EncoderInputs(const unsigned char* sample_bytes, size_t count, int32_t* inputs) {
  size_t j = 0;
#if defined(KVOX_CODEC_SSE2)
  if constexpr (Sse2) {
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
  }
#endif
  for (; j < count; ++j) {
    const int32_t x = LoadSample(sample_bytes, j) / 16;
    inputs[j] = x < -2047 ? -2047 : x;
  }
}

// The encoder between two samples: the sample it stands at, as its difference d = target - predictor, and
// the row of its step index. With m = |d|, the code's magnitude k is the count of thresholds m reaches, and
// the predictor moves by sign(d) * D_k, D_k the difference k stands for; so the next sample's difference is
// d + (t' - t) - sign(d) * D_k = sign(d) * g, with g = m + sign(d) * (t' - t) - D_k. From one sample to the
// next the chain runs through the comparisons of m, one three-level selection and |g|; the sign and the
// code are formed beside it. All of it is done on values times 8, so that the code rides along in the
// selected choice's low three bits.
struct EncoderChain {
  int32_t magnitude8;   // 8 * |d|
  int32_t difference8;  // 8 * d
  uint32_t row;         // byte offset of the step index's row in EncoderRows
};

inline EncoderChain StartChain(const AdpcmState& state, int32_t target) {
  const int32_t difference8 = 8 * (target - state.predictor);
  return {difference8 < 0 ? -difference8 : difference8, difference8,
          static_cast<uint32_t>(state.step_index) * static_cast<uint32_t>(sizeof(adpcm_tables::EncoderRow))};
}

// Codes the sample the chain stands at and moves the chain to the next sample; `step8` is 8 times the next
// sample's target less this one's.
inline uint32_t CodeSample(EncoderChain& chain, int32_t step8) {
  const auto& row = *reinterpret_cast<const adpcm_tables::EncoderRow*>(
      reinterpret_cast<const char*>(adpcm_tables::EncoderRows.data()) + chain.row);
  const int32_t m = chain.magnitude8;
  const int32_t negative = chain.difference8 >> 31;
  const int32_t ahead = m + ((step8 ^ negative) - negative) + 7;
  // The thresholds that the first selections wait for are loaded first: all loads of a row become ready at
  // once, and they leave in program order.
  const int32_t threshold1 = KeepApart(row.thresholds8[1]), threshold3 = KeepApart(row.thresholds8[3]);
  const int32_t threshold5 = KeepApart(row.thresholds8[5]), threshold7 = KeepApart(row.thresholds8[7]);
  // The choices are loaded before they are selected, so that the compiler selects with conditional moves
  // instead of branching on comparisons that no predictor can learn. As the thresholds rise, the choice of
  // the highest one reached is a tree: pairs by thresholds 1, 3, 5, 7, then 2 and 6, then 4.
  const auto pair = [&row](int low, bool above_reached) {
    const uint64_t below = KeepApart(row.choices[low]);
    const uint64_t above = KeepApart(row.choices[low + 1]);
    return above_reached ? above : below;
  };
  const uint64_t pair0 = pair(0, m >= threshold1), pair2 = pair(2, m >= threshold3);
  const uint64_t pair4 = pair(4, m >= threshold5), pair6 = pair(6, m >= threshold7);
  const uint64_t low_half = m >= row.thresholds8[2] ? pair2 : pair0;
  const uint64_t high_half = m >= row.thresholds8[6] ? pair6 : pair4;
  const uint64_t choice = m >= row.thresholds8[4] ? high_half : low_half;
  chain.row = static_cast<uint32_t>(choice);
  const int32_t x = ahead - static_cast<int32_t>(choice >> 32);  // 8 * g + 7 - k
  const int32_t g8 = x & ~7;
  chain.magnitude8 = g8 < 0 ? -g8 : g8;
  chain.difference8 = (g8 ^ negative) - negative;
  return static_cast<uint32_t>((x & 7) ^ 7) | static_cast<uint32_t>(negative & 8);
}

template <bool Sse2>
void AdpcmDecodeBlockWith(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes, size_t byte_count,
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
        sum = TrackDecoderOutput<Sse2>(window, tracked, tracked + TrackerSpan, sum, chunk_out);
        tracked += TrackerSpan;
      }
    }
    for (; i < chunk_bytes; ++i) DecodeByte(bytes[done_bytes + i], predictor, byte_row, predictors + 2 * i);
    const size_t chunk_samples = 2 * chunk_bytes;
    sum = TrackDecoderOutput<Sse2>(window, tracked, chunk_samples, sum, chunk_out);
    done_bytes += chunk_bytes;
    ShiftWindow(window, chunk_samples);
  }
  StoreHistory(window, 2 * byte_count, history);
  state.predictor = predictor;
  state.step_index = static_cast<int32_t>(byte_row / 256);
}

template <bool Sse2>
size_t AdpcmEncodeBlockWith(AdpcmState& state, DcHistory& history, int32_t& sum, const int16_t* samples,
                            size_t sample_count, uint8_t* codes) {
  const size_t byte_count = (sample_count + 1) / 2;
  if (byte_count == 0) return 0;
  const size_t total_samples = 2 * byte_count;  // an odd last sample counts twice
  const unsigned char* sample_bytes = BytesOf(samples);
  TrackerWindow window;
  LoadHistory(history, window);
  // [0]: the target of the sample the chain stands at; [1..]: the chunk's targets.
  int32_t targets[ChunkSamples + 1];
  EncoderChain chain{};
  size_t coded = 0;
  uint32_t high_nibble = 0;
  const auto emit = [&](uint32_t code) {
    if (coded % 2 == 0) {
      high_nibble = code << 4;
    } else {
      codes[coded / 2] = static_cast<uint8_t>(high_nibble | code);
    }
    ++coded;
  };
  for (size_t done = 0; done < total_samples;) {
    const size_t chunk = total_samples - done < ChunkSamples ? total_samples - done : ChunkSamples;
    const size_t real = done + chunk <= sample_count ? chunk : chunk - 1;
    EncoderInputs<Sse2>(sample_bytes + 2 * done, real, window.values + DcTrackerLength);
    if (real < chunk) {
      EncoderInputs<Sse2>(sample_bytes + 2 * (sample_count - 1), 1, window.values + DcTrackerLength + real);
    }
    // Every sample of the chunk has been read, so code bytes may now overwrite the chunk's start. A sample is
    // coded once the next one's target is known; the tracker runs a span ahead of the chain, in the same
    // loop, so that its work fills the time the chain leaves idle.
    size_t tracked = chunk < TrackerSpan ? chunk : TrackerSpan;  // targets[1..tracked] are known
    sum = TrackEncoderTargets<Sse2>(window, 0, tracked, sum, targets + 1);
    size_t k = 0;  // the chain stands at the sample whose target is targets[k]
    if (done == 0) {
      chain = StartChain(state, targets[1]);
      k = 1;
    }
    while (k < chunk) {
      const size_t coded_end = tracked;
      if (tracked < chunk) {
        const size_t next = chunk - tracked < TrackerSpan ? chunk : tracked + TrackerSpan;
        sum = TrackEncoderTargets<Sse2>(window, tracked, next, sum, targets + 1);
        tracked = next;
      }
      for (; k < coded_end; ++k) emit(CodeSample(chain, 8 * (targets[k + 1] - targets[k])));
    }
    targets[0] = targets[chunk];
    done += chunk;
    ShiftWindow(window, chunk);
  }
  emit(CodeSample(chain, 0));
  StoreHistory(window, total_samples, history);
  state.predictor = targets[0] - chain.difference8 / 8;
  state.step_index = static_cast<int32_t>(chain.row / sizeof(adpcm_tables::EncoderRow));
  return byte_count;
}

// ---- The forms ----

constexpr BlockFunctions PortableFunctions{
    "portable",          AlawDecodePortable,          MulawDecodePortable,        AlawEncodePortable,
    MulawEncodePortable, AdpcmDecodeBlockWith<false>, AdpcmEncodeBlockWith<false>};

#if defined(KVOX_CODEC_SSE2)
constexpr BlockFunctions Sse2Functions{
    "SSE2",          AlawDecodePortable,         MulawDecodePortable,       AlawEncodeSse2,
    MulawEncodeSse2, AdpcmDecodeBlockWith<true>, AdpcmEncodeBlockWith<true>};
[[maybe_unused]] constexpr const BlockFunctions* Sse2OrPortable = &Sse2Functions;
#else
[[maybe_unused]] constexpr const BlockFunctions* Sse2OrPortable = &PortableFunctions;
#endif

#if defined(KVOX_CODEC_WASM_SIMD)
constexpr BlockFunctions WasmSimdFunctions{
    "WebAssembly SIMD", AlawDecodeBlockWasmSimd,  MulawDecodeBlockWasmSimd,  AlawEncodeSse2,
    MulawEncodeSse2,    AdpcmDecodeBlockWasmSimd, AdpcmEncodeBlockWith<true>};
#endif

#if defined(KVOX_CODEC_AVX512)
// The encoder's chain through predictor and step index is scalar; it keeps the form below it.
constexpr BlockFunctions Avx512Functions{"AVX-512BW",
                                         AlawDecodeBlockAvx512,
                                         MulawDecodeBlockAvx512,
                                         AlawEncodeBlockAvx512,
                                         MulawEncodeBlockAvx512,
                                         AdpcmDecodeBlockAvx512,
                                         Sse2OrPortable->adpcm_encode};
#endif

}  // namespace

const BlockFunctions* BlockFunctionsFor(BlockPath path) {
  switch (path) {
    case BlockPath::Portable:
      return &PortableFunctions;
    case BlockPath::Sse2:
#if defined(KVOX_CODEC_SSE2)
      return &Sse2Functions;
#else
      return nullptr;
#endif
    case BlockPath::Avx512:
#if defined(KVOX_CODEC_AVX512)
      if (ProcessorHasAvx512BW()) return &Avx512Functions;
#endif
      return nullptr;
    case BlockPath::WasmSimd:
#if defined(KVOX_CODEC_WASM_SIMD)
      return &WasmSimdFunctions;
#else
      return nullptr;
#endif
  }
  return nullptr;
}

const BlockFunctions& FastestBlockFunctions() {
#if defined(KVOX_CODEC_WASM_SIMD)
  return WasmSimdFunctions;
#else
#if defined(KVOX_CODEC_AVX512)
  if (ProcessorHasAvx512BW()) return Avx512Functions;
#endif
  return *Sse2OrPortable;
#endif
}

void AlawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples) {
  FastestBlockFunctions().alaw_decode(codes, code_count, samples);
}

void MulawDecodeBlock(const uint8_t* codes, size_t code_count, int16_t* samples) {
  FastestBlockFunctions().mulaw_decode(codes, code_count, samples);
}

size_t AlawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return FastestBlockFunctions().alaw_encode(samples, sample_count, codes);
}

size_t MulawEncodeBlock(const int16_t* samples, size_t sample_count, uint8_t* codes) {
  return FastestBlockFunctions().mulaw_encode(samples, sample_count, codes);
}

void AdpcmDecodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes, size_t byte_count,
                      int16_t* samples) {
  FastestBlockFunctions().adpcm_decode(state, history, sum, bytes, byte_count, samples);
}

size_t AdpcmEncodeBlock(AdpcmState& state, DcHistory& history, int32_t& sum, const int16_t* samples,
                        size_t sample_count, uint8_t* codes) {
  return FastestBlockFunctions().adpcm_encode(state, history, sum, samples, sample_count, codes);
}
