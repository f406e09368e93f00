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

// The decoder's values fit 16 bits (-2048..2047), so the window holds them as such.
struct Window16 {
  int16_t values[DcTrackerLength + ChunkSamples];
};

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
  sum = wasm_i32x4_extract_lane(vector_sum, 0);
  for (; j < end; ++j) {
    const int32_t value = window.values[DcTrackerLength + j];
    StoreSample(out, j, DecoderOutput(value - sum / DcTrackerLength));
    sum += value - window.values[j];
  }
  return sum;
}

// 16-byte tables for wasm_i8x16_swizzle, indexed by a code's bits 4..7 (segment and polarity).
struct alignas(16) SegmentBytes {
  uint8_t bytes[16];
};

constexpr SegmentBytes SegmentTable(int (*value)(int segment)) {
  SegmentBytes table{};
  for (int i = 0; i < 16; ++i) table.bytes[i] = static_cast<uint8_t>(value(i & 7));
  return table;
}

// mu-law: ((2M + 33) << S) - 33 on the 14-bit scale, times 4: (8M + 132) * 2^S - 132.
constexpr SegmentBytes MulawPowers = SegmentTable([](int segment) { return 1 << segment; });
// A-law: 2M + 1 in segment 0 and (2M + 33) << (S - 1) above it on the 13-bit scale, times 8: (16M + 264) *
// 2^(S-1), less 256 in segment 0, whose factor is 1.
constexpr SegmentBytes AlawPowers = SegmentTable([](int segment) { return segment == 0 ? 1 : 1 << (segment - 1); });
constexpr SegmentBytes AlawFirstSegment = SegmentTable([](int segment) { return segment == 0 ? 1 : 0; });
static_assert(MulawPowers.bytes[7] == 128 && MulawPowers.bytes[8] == 1 && AlawPowers.bytes[7] == 64);

// Sixteen codes at a time: the segment's factor, its correction and the polarity are found on the bytes,
// the products on 16-bit lanes: ((mantissa << shift) + bias) * factor - (correction << 8) - offset, negated
// where `negative` is all ones.
struct Expanded {
  v128_t low, high;  // samples 0..7 and 8..15
};

inline Expanded Combine(v128_t mantissa, v128_t factor, v128_t correction, v128_t negative, int shift, int16_t bias,
                        int16_t offset) {
  const auto half = [&](v128_t (*widen)(v128_t), v128_t (*widen_signed)(v128_t)) {
    const v128_t product = wasm_i16x8_mul(
        wasm_i16x8_add(wasm_i16x8_shl(widen(mantissa), shift), wasm_i16x8_splat(bias)), widen(factor));
    const v128_t magnitude = wasm_i16x8_sub(wasm_i16x8_sub(product, wasm_i16x8_shl(widen(correction), 8)),
                                            wasm_i16x8_splat(offset));
    const v128_t sign = widen_signed(negative);
    return wasm_i16x8_sub(wasm_v128_xor(magnitude, sign), sign);
  };
  return {half(wasm_u16x8_extend_low_u8x16, wasm_i16x8_extend_low_i8x16),
          half(wasm_u16x8_extend_high_u8x16, wasm_i16x8_extend_high_i8x16)};
}

inline Expanded MulawExpand16(const uint8_t* codes) {
  const v128_t inverted = wasm_v128_xor(wasm_v128_load(codes), wasm_i8x16_const_splat(-1));
  const v128_t factor = wasm_i8x16_swizzle(wasm_v128_load(MulawPowers.bytes), wasm_u8x16_shr(inverted, 4));
  const v128_t mantissa = wasm_v128_and(inverted, wasm_i8x16_const_splat(0x0F));
  // A code below 0x80 is negative: its inverted form has bit 7 set.
  const v128_t negative = wasm_i8x16_lt(inverted, wasm_i8x16_const_splat(0));
  return Combine(mantissa, factor, wasm_i8x16_const_splat(0), negative, 3, 132, 132);
}

inline Expanded AlawExpand16(const uint8_t* codes) {
  const v128_t even_inverted = wasm_v128_xor(wasm_v128_load(codes), wasm_i8x16_const_splat(0x55));
  const v128_t index = wasm_u8x16_shr(even_inverted, 4);
  const v128_t factor = wasm_i8x16_swizzle(wasm_v128_load(AlawPowers.bytes), index);
  const v128_t first_segment = wasm_i8x16_swizzle(wasm_v128_load(AlawFirstSegment.bytes), index);
  const v128_t mantissa = wasm_v128_and(even_inverted, wasm_i8x16_const_splat(0x0F));
  // A code below 0x80 is negative, and the even bits' inversion leaves bit 7 as it is.
  const v128_t negative = wasm_i8x16_ge(even_inverted, wasm_i8x16_const_splat(0));
  return Combine(mantissa, factor, first_segment, negative, 4, 264, 0);
}

template <Expanded (*Expand16)(const uint8_t*)>
void DecodeG711(const PcmTable& table, const uint8_t* codes, size_t code_count, int16_t* samples) {
  unsigned char* out = BytesOf(samples);
  size_t i = 0;
  for (; i + 16 <= code_count; i += 16) {
    const Expanded sixteen = Expand16(codes + i);
    wasm_v128_store(out + 2 * i, sixteen.low);
    wasm_v128_store(out + 2 * i + 16, sixteen.high);
  }
  for (; i < code_count; ++i) StoreSample(out, i, table.samples[codes[i]]);
}

}  // namespace

void AlawDecodeBlockWasmSimd(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeG711<AlawExpand16>(AlawPcmTable, codes, code_count, samples);
}

void MulawDecodeBlockWasmSimd(const uint8_t* codes, size_t code_count, int16_t* samples) {
  DecodeG711<MulawExpand16>(MulawPcmTable, codes, code_count, samples);
}

// Decoder states come from decoding, so the predictor and the history lie in -2048..2047.
void AdpcmDecodeBlockWasmSimd(AdpcmState& state, DcHistory& history, int32_t& sum, const uint8_t* bytes,
                              size_t byte_count, int16_t* samples) {
  if (byte_count == 0) return;
  Window16 window;
  for (int k = 0; k < DcTrackerLength; ++k) {
    window.values[k] = static_cast<int16_t>(history.ring[(history.position + k) & (DcTrackerLength - 1)]);
  }
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
    std::memmove(window.values, window.values + chunk_samples, DcTrackerLength * sizeof(int16_t));
    done_bytes += chunk_bytes;
  }
  const int32_t position = static_cast<int32_t>((history.position + 2 * byte_count) & (DcTrackerLength - 1));
  for (int k = 0; k < DcTrackerLength; ++k) history.ring[(position + k) & (DcTrackerLength - 1)] = window.values[k];
  history.position = position;
  state.predictor = wasm_i16x8_extract_lane(predictor, 0);
  state.step_index = static_cast<int32_t>((row - reinterpret_cast<uintptr_t>(tables.next_rows)) / (256 * sizeof(uint32_t)));
}

}  // namespace block_internals

#endif
