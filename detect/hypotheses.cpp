#include "detect/hypotheses.h"

#include <algorithm>
#include <array>
#include <limits>

#include "codec/adpcm.h"
#include "codec/g711.h"

namespace {

constexpr double Infinity = std::numeric_limits<double>::infinity();

struct ByteCell {
  int32_t value;
  double low;
  double high;
};
using ByteCellTable = std::array<ByteCell, 256>;

// G.711 cells in 16-bit units: A-law steps are 2 on its 13-bit scale in segments 0 and 1 and double in each
// segment after; mu-law steps are 2 on its 14-bit scale in segment 0 and double likewise.
constexpr ByteCell AlawCell(uint8_t code) {
  const int32_t value = AlawToPcm(code);
  const int magnitude_bits = (code ^ 0x55) & 0x7F;
  const int segment = magnitude_bits >> 4;
  const double width = segment == 0 ? 16 : 8 << segment;
  ByteCell cell{value, value - width / 2, value + width / 2};
  if (magnitude_bits == 0x7F) {  // full scale: everything beyond the last decision level
    if (value > 0) cell.high = Infinity;
    else cell.low = -Infinity;
  }
  return cell;
}

constexpr ByteCell MulawCell(uint8_t code) {
  const int32_t value = MulawToPcm(code);
  const int magnitude_bits = (~code) & 0x7F;
  const int segment = magnitude_bits >> 4;
  const double width = 8 << segment;
  ByteCell cell{value, value - width / 2, value + width / 2};
  if (code == 0xFF) cell = {0, 0, 4};  // the two zeros split the innermost interval between them
  if (code == 0x7F) cell = {0, -4, 0};
  if (magnitude_bits == 0x7F) {  // full scale: everything beyond the last decision level
    if (value > 0) cell.high = Infinity;
    else cell.low = -Infinity;
  }
  return cell;
}

constexpr ByteCell LinearCell(int32_t value, double half_width, int32_t lowest, int32_t highest) {
  return {value, value == lowest ? -Infinity : value - half_width, value == highest ? Infinity : value + half_width};
}

constexpr uint8_t ReverseBits(uint8_t b) {
  uint8_t reversed = 0;
  for (int bit = 0; bit < 8; ++bit) reversed = uint8_t(reversed | (((b >> bit) & 1) << (7 - bit)));
  return reversed;
}
static_assert(ReverseBits(0x01) == 0x80 && ReverseBits(0xD5) == 0xAB);

template <typename Transform, typename Cell>
constexpr ByteCellTable MakeTable(Transform transform, Cell cell) {
  ByteCellTable table{};
  for (int b = 0; b < 256; ++b) table[b] = cell(transform(uint8_t(b)));
  return table;
}

constexpr auto Same = [](uint8_t b) { return b; };
constexpr auto Bitrev = [](uint8_t b) { return ReverseBits(b); };
constexpr auto Identity8 = [](uint8_t b) { return b; };

constexpr ByteCellTable AlawCells = MakeTable(Same, AlawCell);
constexpr ByteCellTable MulawCells = MakeTable(Same, MulawCell);
constexpr ByteCellTable AlawBitrevCells = MakeTable(Bitrev, AlawCell);
constexpr ByteCellTable MulawBitrevCells = MakeTable(Bitrev, MulawCell);
constexpr ByteCellTable AlawNoinvCells = MakeTable([](uint8_t b) { return uint8_t(b ^ 0x55); }, AlawCell);
constexpr ByteCellTable MulawNoinvCells = MakeTable([](uint8_t b) { return uint8_t(b ^ 0xFF); }, MulawCell);
constexpr ByteCellTable PcmU8Cells = MakeTable(Identity8, [](uint8_t b) {
  return LinearCell((int32_t(b) - 128) * 256, 128, -32768, 32512);
});
constexpr ByteCellTable PcmS8Cells = MakeTable(Identity8, [](uint8_t b) {
  return LinearCell(int32_t(int8_t(b)) * 256, 128, -32768, 32512);
});

static_assert(AlawCells[0xD5].value == 8 && AlawCells[0xD5].low == 0 && AlawCells[0xD5].high == 16);
static_assert(AlawCells[0xAA].value == 32256 && AlawCells[0xAA].low == 31744 && AlawCells[0xAA].high == Infinity);
static_assert(AlawCells[0x2A].low == -Infinity && AlawCells[0x2A].high == -31744);
static_assert(AlawCells[0xC5].low == 256 && AlawCells[0xC5].high == 272);  // segment 1 keeps the step of 16
static_assert(MulawCells[0xFE].value == 8 && MulawCells[0xFE].low == 4 && MulawCells[0xFE].high == 12);
static_assert(MulawCells[0x80].low == 31612 && MulawCells[0x80].high == Infinity);
static_assert(MulawCells[0x7F].low == -4 && MulawCells[0x7F].high == 0);
static_assert(PcmU8Cells[0].low == -Infinity && PcmU8Cells[255].high == Infinity && PcmU8Cells[128].high == 128);
static_assert(PcmS8Cells[0x80].low == -Infinity && PcmS8Cells[0x7F].high == Infinity);
static_assert(AlawNoinvCells[0x80].value == AlawCells[0xD5].value);

// Makes room for `count` more samples in `out` and gives the index of the first.
size_t Grow(CellStream& out, size_t count) {
  const size_t first = out.values.size();
  out.values.resize(first + count);
  out.low.resize(first + count);
  out.high.resize(first + count);
  return first;
}

void DecodeBytes(const ByteCellTable& table, const uint8_t* bytes, size_t byte_count, CellStream& out) {
  const size_t first = Grow(out, byte_count);
  int32_t* values = out.values.data() + first;
  double* low = out.low.data() + first;
  double* high = out.high.data() + first;
  for (size_t i = 0; i < byte_count; ++i) {
    const ByteCell& cell = table[bytes[i]];
    values[i] = cell.value;
    low[i] = cell.low;
    high[i] = cell.high;
  }
}

// For each step index and code magnitude m: the lower edge, in the encoder's difference, of the magnitude's
// interval, (m & 4 ? step : 0) + (m & 2 ? step / 2 : 0) + (m & 1 ? step / 4 : 0); the decoder's difference, that
// edge plus step / 8; and the next step index. Tables instead of the decoder's tests on the code's bits, whose
// branches the processor cannot foresee on such data.
struct AdpcmStep {
  std::array<int32_t, 8> lower_edge, difference;
  std::array<uint8_t, 8> next_index;
};
constexpr std::array<AdpcmStep, MaxStepIndex + 1> AdpcmSteps = [] {
  std::array<AdpcmStep, MaxStepIndex + 1> table{};
  for (size_t index = 0; index <= MaxStepIndex; ++index) {
    const int32_t step = StepTable[index];
    for (int m = 0; m < 8; ++m) {
      const int32_t edge = ((m & 4) ? step : 0) + ((m & 2) ? step >> 1 : 0) + ((m & 1) ? step >> 2 : 0);
      table[index].lower_edge[size_t(m)] = edge;
      table[index].difference[size_t(m)] = edge + step / 8;
      table[index].next_index[size_t(m)] = uint8_t(std::clamp(int(index) + IndexAdjust[size_t(m)], 0, MaxStepIndex));
    }
  }
  return table;
}();
static_assert(AdpcmSteps[0].lower_edge[7] == 16 + 8 + 4 && AdpcmSteps[MaxStepIndex].lower_edge[5] == 1552 + 388);
static_assert(AdpcmSteps[0].difference[0] == 2 && AdpcmSteps[0].next_index[3] == 0 &&
              AdpcmSteps[47].next_index[7] == 48);
static_assert([] {
  // The tables decode exactly as the codec does, from every step index and predictor limit.
  for (int32_t index = 0; index <= MaxStepIndex; ++index) {
    for (const int32_t predictor : {-2048, -1, 0, 2047}) {
      for (uint8_t code = 0; code < 16; ++code) {
        AdpcmState state{predictor, index};
        const int32_t difference = AdpcmReconstruct(state, code);
        const AdpcmStep& step = AdpcmSteps[size_t(index)];
        const int32_t magnitude = step.difference[code & 7];
        if (difference != ((code & 8) ? -magnitude : magnitude) || state.step_index != step.next_index[code & 7]) {
          return false;
        }
      }
    }
  }
  return true;
}());

// The decoder's state before a code fixes the interval of encoder differences that the code stands for; mapped
// through the decoder's own reconstruction (predictor, less the DC tracker's mean), that is the sample's cell.
// The decoding itself is the codec's (AdpcmDecodeSample), written out without branches.
void DecodeAdpcm(CellDecoder& decoder, const uint8_t* bytes, size_t byte_count, bool low_nibble_first,
                 CellStream& out) {
  const size_t first = Grow(out, 2 * byte_count);
  int32_t* values = out.values.data() + first;
  double* low = out.low.data() + first;
  double* high = out.high.data() + first;
  int32_t predictor = decoder.state.predictor;
  size_t index = size_t(decoder.state.step_index);
  int32_t* ring = decoder.history.ring;
  int32_t position = decoder.history.position;
  int32_t sum = decoder.sum;
  for (size_t i = 0; i < 2 * byte_count; ++i) {
    const uint8_t byte = bytes[i / 2];
    const bool high_nibble = (i % 2 == 0) != low_nibble_first;
    const uint8_t code = high_nibble ? byte >> 4 : byte & 0x0F;
    const size_t magnitude = code & 7;
    const bool negative = code & 8;
    const AdpcmStep& step = AdpcmSteps[index];
    const int32_t base = predictor - sum / DcTrackerLength;
    const double lower = step.lower_edge[magnitude];
    const double upper = magnitude == 7 ? Infinity : step.lower_edge[(magnitude + 1) & 7];
    low[i] = 16.0 * (negative ? base - upper : base + lower);
    high[i] = 16.0 * (negative ? base - lower : base + upper);
    const int32_t difference = negative ? -step.difference[magnitude] : step.difference[magnitude];
    predictor = std::clamp(predictor + difference, -2048, 2047);
    index = step.next_index[magnitude];
    const int32_t tracked = predictor - sum / DcTrackerLength;
    sum += predictor - ring[position];
    ring[position] = predictor;
    position = (position + 1) & (DcTrackerLength - 1);
    values[i] = std::clamp(tracked, -2048, 2047) * 16;
  }
  decoder.state = {predictor, int32_t(index)};
  decoder.history.position = position;
  decoder.sum = sum;
}

void DecodeS16(const uint8_t* bytes, size_t byte_count, bool big_endian, CellStream& out) {
  const size_t first = Grow(out, byte_count / 2);
  for (size_t i = 0; i + 1 < byte_count; i += 2) {
    const uint16_t word = big_endian ? uint16_t(bytes[i] << 8 | bytes[i + 1]) : uint16_t(bytes[i + 1] << 8 | bytes[i]);
    const ByteCell cell = LinearCell(int16_t(word), 0.5, -32768, 32767);
    out.values[first + i / 2] = cell.value;
    out.low[first + i / 2] = cell.low;
    out.high[first + i / 2] = cell.high;
  }
}

}  // namespace

void DecodeWithCells(Hypothesis hypothesis, const uint8_t* bytes, size_t byte_count, CellStream& out) {
  CellDecoder decoder;
  DecodeWithCells(hypothesis, decoder, bytes, byte_count, out);
}

void DecodeWithCells(Hypothesis hypothesis, CellDecoder& decoder, const uint8_t* bytes, size_t byte_count,
                     CellStream& out) {
  switch (hypothesis) {
    case Hypothesis::Alaw: return DecodeBytes(AlawCells, bytes, byte_count, out);
    case Hypothesis::Mulaw: return DecodeBytes(MulawCells, bytes, byte_count, out);
    case Hypothesis::Adpcm:
      return DecodeAdpcm(decoder, bytes, byte_count, false, out);
    case Hypothesis::AdpcmLowFirst:
      return DecodeAdpcm(decoder, bytes, byte_count, true, out);
    case Hypothesis::AlawBitrev: return DecodeBytes(AlawBitrevCells, bytes, byte_count, out);
    case Hypothesis::MulawBitrev: return DecodeBytes(MulawBitrevCells, bytes, byte_count, out);
    case Hypothesis::AlawNoinv: return DecodeBytes(AlawNoinvCells, bytes, byte_count, out);
    case Hypothesis::MulawNoinv: return DecodeBytes(MulawNoinvCells, bytes, byte_count, out);
    case Hypothesis::PcmU8: return DecodeBytes(PcmU8Cells, bytes, byte_count, out);
    case Hypothesis::PcmS8: return DecodeBytes(PcmS8Cells, bytes, byte_count, out);
    case Hypothesis::PcmS16le: return DecodeS16(bytes, byte_count, false, out);
    case Hypothesis::PcmS16be: return DecodeS16(bytes, byte_count, true, out);
  }
}
