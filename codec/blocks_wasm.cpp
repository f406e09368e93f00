// The decoders for WebAssembly with 128-bit SIMD, as the npm package and the page run them.
//
// G.711: WebAssembly has no gather, so instead of a table look-up per sample the decoders expand sixteen
// codes at a time by G.711's own arithmetic, the segment's power of two coming from a 16-byte swizzle.
//
// ADPCM: the SSE2 form, compiled to WebAssembly, runs at half its native speed: WebAssembly addresses
// memory as one base plus one index, so every table access costs its own additions, and the engine keeps
// too few registers for the chain and the tracker together. This form shortens the step-index chain to one
// addition and one load per byte, and moves the predictor chain into a vector register, where one entry
// per (step index, byte) gives both samples of the byte with one addition and one clamp.
#include "codec/block_internals.h"

#if defined(KVOX_CODEC_WASM_SIMD)

#include <wasm_simd128.h>

namespace block_internals {

namespace {

// One byte's effect at one step index, as 16-bit lanes: the predictor plus lanes 0 and 1, limited from
// below by lanes 2 and 3 and from above by lanes 4 and 5, gives the byte's two samples. The second sample
// uses the byte's combined difference and limits (see DecodeStep), so both clamps are one vector clamp.
struct alignas(16) ByteEffect {
  int16_t lanes[8];  // d1, d1 + d2, -2048, low limit, 2047, high limit, unused, unused
};

constexpr size_t ByteEntries = adpcm_tables::StepIndexCount * 256;

// Both indexed by step index * 256 + byte. The step-index chain runs through `next_rows` alone, whose rows
// of 1 KiB keep the entries it touches in few cache lines; the effects sit at four times the offset.
struct ByteTables {
  uint32_t next_rows[ByteEntries];  // address of the row in next_rows of the step index after the byte
  ByteEffect effects[ByteEntries];
};
static_assert(sizeof(ByteEffect) == 4 * sizeof(uint32_t));

// The tables hold addresses, which no constant expression can, so they are filled on first use and only
// read after that. They live in zero-initialised memory and add nothing to the module's size.
const ByteTables& DecoderTables() {
  static ByteTables tables;
  static const bool filled = [] {
    for (int index = 0; index < adpcm_tables::StepIndexCount; ++index) {
      for (int byte = 0; byte < 256; ++byte) {
        const adpcm_tables::DecodeStep& first = adpcm_tables::DecodeSteps[index * 16 + (byte >> 4)];
        const adpcm_tables::DecodeStep& second = adpcm_tables::DecodeSteps[first.next_row + (byte & 0x0F)];
        const int next_index = second.next_row / adpcm_tables::CodeCount;
        tables.effects[index * 256 + byte] = {{first.difference,
                                               static_cast<int16_t>(first.difference + second.difference), -2048,
                                               second.low_limit, 2047, second.high_limit, 0, 0}};
        tables.next_rows[index * 256 + byte] =
            static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&tables.next_rows[next_index * 256]));
      }
    }
    return true;
  }();
  (void)filled;
  return tables;
}

using Window16 = TrackerWindowOf<int16_t>;

// Decodes `byte` at the step index whose row in next_rows starts at address `row`; `predictor` holds the
// predictor in all eight lanes.
inline void DecodeByte16(uint32_t byte, v128_t& predictor, uint32_t& row, int16_t* samples, const ByteTables& tables) {
  const uint32_t entry = row + byte * sizeof(uint32_t);
  const uint32_t effect = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tables.effects)) +
                          (entry - static_cast<uint32_t>(reinterpret_cast<uintptr_t>(tables.next_rows))) * 4;
  const v128_t lanes = wasm_v128_load(reinterpret_cast<const void*>(static_cast<uintptr_t>(effect)));
  const v128_t low = wasm_i32x4_shuffle(lanes, lanes, 1, 1, 1, 1);
  const v128_t high = wasm_i32x4_shuffle(lanes, lanes, 2, 2, 2, 2);
  const v128_t both = wasm_i16x8_min(wasm_i16x8_max(wasm_i16x8_add(predictor, lanes), low), high);
  wasm_v128_store32_lane(samples, both, 0);
  predictor = wasm_i16x8_shuffle(both, both, 1, 1, 1, 1, 1, 1, 1, 1);
  row = *reinterpret_cast<const uint32_t*>(static_cast<uintptr_t>(entry));
}

struct TrackVector {
  v128_t results;
  v128_t sum;  // all four lanes: the running sum after the four values
};

// Four tracker results at once, as the SSE2 form computes them.
inline TrackVector Track4(const Window16& window, size_t j, v128_t sum) {
  const v128_t values = wasm_i32x4_load16x4(window.values + DcTrackerLength + j);
  const v128_t leaving = wasm_i32x4_load16x4(window.values + j);
  const v128_t change = wasm_i32x4_sub(values, leaving);
  const v128_t zero = wasm_i32x4_const_splat(0);
  v128_t inclusive = wasm_i32x4_add(change, wasm_i32x4_shuffle(zero, change, 0, 4, 5, 6));
  inclusive = wasm_i32x4_add(inclusive, wasm_i32x4_shuffle(zero, inclusive, 0, 1, 4, 5));
  const v128_t before = wasm_i32x4_add(sum, wasm_i32x4_sub(inclusive, change));
  // Division by 128 truncating toward zero: add 127 to negative sums before the arithmetic shift.
  const v128_t bias = wasm_u32x4_shr(wasm_i32x4_shr(before, 31), 32 - 7);
  const v128_t mean = wasm_i32x4_shr(wasm_i32x4_add(before, bias), 7);
  return {wasm_i32x4_sub(values, mean), wasm_i32x4_add(sum, wasm_i32x4_shuffle(inclusive, inclusive, 3, 3, 3, 3))};
}

// Decoder output for window positions j..j+7: saturated times 16 with the low bits cleared, as in SSE2.
inline v128_t TrackOutput8(const Window16& window, size_t j, v128_t& sum) {
  const TrackVector first = Track4(window, j, sum);
  const TrackVector second = Track4(window, j + 4, first.sum);
  sum = second.sum;
  const v128_t packed = wasm_i16x8_narrow_i32x4(wasm_i32x4_shl(first.results, 4), wasm_i32x4_shl(second.results, 4));
  return wasm_v128_and(packed, wasm_i16x8_splat(static_cast<int16_t>(0xFFF0)));
}

int32_t TrackOutputFrom(const Window16& window, size_t j, size_t end, int32_t sum, unsigned char* out) {
  v128_t vector_sum = wasm_i32x4_splat(sum);
  for (; j + 8 <= end; j += 8) wasm_v128_store(out + 2 * j, TrackOutput8(window, j, vector_sum));
  return TrackScalar(window, j, end, wasm_i32x4_extract_lane(vector_sum, 0),
                     [out](size_t k, int32_t result) { StoreSample(out, k, DecoderOutput(result)); });
}

// One law's expansion as 16-byte tables. A code, with `inverted` bits flipped, splits into its high four
// bits (segment and polarity) and its mantissa; swizzles of the tables by those give the pieces of
// ((mantissa << shift) + bias) * factor - (correction << 8) - offset, negated where `negative` is all ones.
struct alignas(16) G711Expansion {
  uint8_t inverted[16];
  uint8_t mantissa_shifted[16];  // by mantissa
  uint8_t factor[16];            // by high four bits, as the three tables below
  uint8_t correction[16];
  uint8_t negative[16];
  int16_t bias[8];
  int16_t offset[8];
};

constexpr G711Expansion ExpansionOf(uint8_t inverted, int shift, int (*factor)(int segment),
                                    int (*correction)(int segment), bool negative_when_set, int16_t bias,
                                    int16_t offset) {
  G711Expansion expansion{};
  for (int i = 0; i < 16; ++i) {
    expansion.inverted[i] = inverted;
    expansion.mantissa_shifted[i] = static_cast<uint8_t>(i << shift);
    expansion.factor[i] = static_cast<uint8_t>(factor(i & 7));
    expansion.correction[i] = static_cast<uint8_t>(correction(i & 7));
    expansion.negative[i] = (i >= 8) == negative_when_set ? 0xFF : 0;
  }
  for (int i = 0; i < 8; ++i) {
    expansion.bias[i] = bias;
    expansion.offset[i] = offset;
  }
  return expansion;
}

// mu-law: ((2M + 33) << S) - 33 on the 14-bit scale, times 4: (8M + 132) * 2^S - 132; the stored code is
// the inverse, and a code below 0x80 (bit 7 set once inverted) is negative.
constexpr G711Expansion MulawExpansion =
    ExpansionOf(0xFF, 3, [](int segment) { return 1 << segment; }, [](int) { return 0; }, true, 132, 132);
// A-law: 2M + 1 in segment 0 and (2M + 33) << (S - 1) above it on the 13-bit scale, times 8: (16M + 264) *
// 2^(S-1), less 256 in segment 0, whose factor is 1; the even bits are inverted, and a code below 0x80 is
// negative.
constexpr G711Expansion AlawExpansion = ExpansionOf(
    0x55, 4, [](int segment) { return segment == 0 ? 1 : 1 << (segment - 1); },
    [](int segment) { return segment == 0 ? 1 : 0; }, false, 264, 0);
static_assert(MulawExpansion.factor[7] == 128 && MulawExpansion.factor[8] == 1 && AlawExpansion.factor[7] == 64);
static_assert(MulawExpansion.negative[8] == 0xFF && AlawExpansion.negative[7] == 0xFF && AlawExpansion.negative[8] == 0);

}  // namespace

// Takes the law's tables by reference and loads them once: with constants it could see, the compiler
// would rebuild each of them inside the loop, and WebAssembly engines materialise every vector constant
// where it is used.
[[gnu::noinline]] void DecodeG711Wasm(const G711Expansion& law, const PcmTable& table, const uint8_t* codes,
                                      size_t code_count, int16_t* samples) {
  const v128_t inverted = wasm_v128_load(law.inverted);
  const v128_t mantissa_shifted = wasm_v128_load(law.mantissa_shifted);
  const v128_t factors = wasm_v128_load(law.factor);
  const v128_t corrections = wasm_v128_load(law.correction);
  const v128_t negatives = wasm_v128_load(law.negative);
  const v128_t bias = wasm_v128_load(law.bias);
  const v128_t offset = wasm_v128_load(law.offset);
  const v128_t low_nibble = wasm_u8x16_shr(wasm_i8x16_splat(-1), 4);
  unsigned char* out = BytesOf(samples);
  size_t i = 0;
  for (; i + 16 <= code_count; i += 16) {
    const v128_t bits = wasm_v128_xor(wasm_v128_load(codes + i), inverted);
    const v128_t high = wasm_u8x16_shr(bits, 4);
    const v128_t mantissa = wasm_i8x16_swizzle(mantissa_shifted, wasm_v128_and(bits, low_nibble));
    const v128_t factor = wasm_i8x16_swizzle(factors, high);
    const v128_t correction = wasm_i8x16_swizzle(corrections, high);
    const v128_t negative = wasm_i8x16_swizzle(negatives, high);
    const auto expand = [&](v128_t (*widen)(v128_t), v128_t (*widen_signed)(v128_t)) {
      const v128_t product = wasm_i16x8_mul(wasm_i16x8_add(widen(mantissa), bias), widen(factor));
      const v128_t magnitude = wasm_i16x8_sub(wasm_i16x8_sub(product, wasm_i16x8_shl(widen(correction), 8)), offset);
      const v128_t sign = widen_signed(negative);
      return wasm_i16x8_sub(wasm_v128_xor(magnitude, sign), sign);
    };
    wasm_v128_store(out + 2 * i, expand(wasm_u16x8_extend_low_u8x16, wasm_i16x8_extend_low_i8x16));
    wasm_v128_store(out + 2 * i + 16, expand(wasm_u16x8_extend_high_u8x16, wasm_i16x8_extend_high_i8x16));
  }
  for (; i < code_count; ++i) StoreSample(out, i, table.samples[codes[i]]);
}

void AlawDecodeBlockWasmSimd(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeG711Wasm(AlawExpansion, AlawPcmTable, codes, code_count, samples);
}

void MulawDecodeBlockWasmSimd(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeG711Wasm(MulawExpansion, MulawPcmTable, codes, code_count, samples);
}

// Decoder states come from decoding, so the predictor and the history lie in -2048..2047.
void AdpcmDecodeBlockWasmSimd(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes,
                              size_t byte_count, int16_t* samples) {
  if (byte_count == 0) return;
  Window16 window;
  LoadHistory(history, window);
  const ByteTables& tables = DecoderTables();
  v128_t predictor = wasm_i16x8_splat(static_cast<int16_t>(state.predictor));
  uint32_t row = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&tables.next_rows[state.step_index * 256]));
  unsigned char* out = BytesOf(samples);
  for (size_t done_bytes = 0; done_bytes < byte_count;) {
    const size_t chunk_bytes = byte_count - done_bytes < ChunkSamples / 2 ? byte_count - done_bytes : ChunkSamples / 2;
    const uint8_t* in = bytes + done_bytes;
    int16_t* chunk_values = window.values + DcTrackerLength;
    unsigned char* chunk_out = out + 4 * done_bytes;
    v128_t vector_sum = wasm_i32x4_splat(sum);
    // Four bytes at a time; the tracker follows four bytes behind, in the same loop.
    size_t i = 0;
    for (; i + 4 <= chunk_bytes; i += 4) {
      for (size_t k = i; k < i + 4; ++k) DecodeByte16(in[k], predictor, row, chunk_values + 2 * k, tables);
      if (i > 0) wasm_v128_store(chunk_out + 4 * (i - 4), TrackOutput8(window, 2 * (i - 4), vector_sum));
    }
    const size_t tracked = i > 0 ? 2 * (i - 4) : 0;
    for (; i < chunk_bytes; ++i) DecodeByte16(in[i], predictor, row, chunk_values + 2 * i, tables);
    const size_t chunk_samples = 2 * chunk_bytes;
    sum = TrackOutputFrom(window, tracked, chunk_samples, wasm_i32x4_extract_lane(vector_sum, 0), chunk_out);
    ShiftWindow(window, chunk_samples);
    done_bytes += chunk_bytes;
  }
  StoreHistory(window, 2 * byte_count, history);
  state.predictor = wasm_i16x8_extract_lane(predictor, 0);
  state.step_index = static_cast<int32_t>((row - reinterpret_cast<uintptr_t>(tables.next_rows)) / (256 * sizeof(uint32_t)));
}

}  // namespace block_internals

#endif
