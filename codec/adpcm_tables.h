// Tables for the block ADPCM coders, built at compile time from StepTable and IndexAdjust.
//
// Coding a block is one long dependency chain through the predictor and the step index. These tables take
// the work that depends only on (step index, code) off that chain: for the decoder the difference and the
// next step index are one load away from the code; for the encoder one selection among a row's eight
// choices gives the difference, the code and the next step index's row.
#pragma once

#include <array>
#include <cstdint>

#include "codec/adpcm.h"

namespace adpcm_tables {

inline constexpr int StepIndexCount = MaxStepIndex + 1;
inline constexpr int CodeCount = 16;

struct CodeEffect {
  int32_t difference;
  int32_t next_index;
};

// What AdpcmReconstruct does for one (step index, code), computed by AdpcmReconstruct itself.
constexpr CodeEffect EffectOf(int step_index, int code) {
  AdpcmState state{0, step_index};
  const int32_t difference = AdpcmReconstruct(state, static_cast<uint8_t>(code));
  return {difference, state.step_index};
}

// The magnitude bits of a code, as thresholds: magnitude bits k are chosen when |d| >= threshold k, where
// threshold k is the sum of the parts k weighs (step, step/2, step/4). The thresholds rise with k, so the
// encoder's greedy choice (step, then step/2, then step/4) equals the count of thresholds 1..7 that |d|
// reaches.
constexpr int32_t Threshold(int step_index, int magnitude) {
  const int32_t step = StepTable[step_index];
  return (magnitude & 4 ? step : 0) + (magnitude & 2 ? step / 2 : 0) + (magnitude & 1 ? step / 4 : 0);
}

// Decoder: one entry per (step index, code), at [step_index * 16 + code].
struct DecodeStep {
  int16_t difference;
  // When this code is the second of a byte, clamp(clamp(p + d1) + d2) equals clamp(p + d1 + d2) between
  // these limits (the limits of -2048..2047 moved by d2 and clamped again), so the chain through the
  // predictor takes one clamp per byte instead of two.
  int16_t low_limit;
  int16_t high_limit;
  uint16_t next_row;  // the next step index times 16: its row in this table
};

constexpr std::array<DecodeStep, StepIndexCount * CodeCount> MakeDecodeSteps() {
  std::array<DecodeStep, StepIndexCount * CodeCount> steps{};
  for (int index = 0; index < StepIndexCount; ++index) {
    for (int code = 0; code < CodeCount; ++code) {
      const CodeEffect effect = EffectOf(index, code);
      const int32_t low = -2048 + effect.difference;
      const int32_t high = 2047 + effect.difference;
      steps[index * CodeCount + code] = {
          static_cast<int16_t>(effect.difference), static_cast<int16_t>(low < -2048 ? -2048 : low),
          static_cast<int16_t>(high > 2047 ? 2047 : high), static_cast<uint16_t>(effect.next_index * CodeCount)};
    }
  }
  return steps;
}

inline constexpr std::array<DecodeStep, StepIndexCount* CodeCount> DecodeSteps = MakeDecodeSteps();

// The step index after a whole byte (high nibble, then low nibble), times 256, at [step_index * 256 + byte]:
// the decoder's step-index chain advances by one addition and one load per byte.
constexpr std::array<uint16_t, StepIndexCount * 256> MakeRowAfterByte() {
  std::array<uint16_t, StepIndexCount * 256> next{};
  for (int index = 0; index < StepIndexCount; ++index) {
    for (int byte = 0; byte < 256; ++byte) {
      const int32_t middle = EffectOf(index, byte >> 4).next_index;
      next[index * 256 + byte] = static_cast<uint16_t>(EffectOf(middle, byte & 0x0F).next_index * 256);
    }
  }
  return next;
}

inline constexpr std::array<uint16_t, StepIndexCount* 256> RowAfterByte = MakeRowAfterByte();

// The encoder's rows, one per step index. The encoder works on magnitudes times 8: a row holds its
// thresholds times 8, and for each magnitude k (0..7) one 64-bit choice whose high half is 8 times the
// magnitude of the difference that k stands for, plus k, and whose low half is the byte offset of the row
// of the step index that k leads to. One selection among the eight choices thus gives the difference, the
// code and the next row at once.
struct alignas(128) EncoderRow {
  uint64_t choices[8];
  int32_t thresholds8[8];  // [k] = 8 * threshold k for k = 1..7; [0] is 0
};
static_assert(sizeof(EncoderRow) == 128);

constexpr uint64_t EncoderChoice(int step_index, int magnitude) {
  const CodeEffect effect = EffectOf(step_index, magnitude);
  const auto high = static_cast<uint32_t>(8 * effect.difference + magnitude);
  const auto low = static_cast<uint32_t>(effect.next_index * sizeof(EncoderRow));
  return uint64_t{high} << 32 | low;
}

inline constexpr std::array<EncoderRow, StepIndexCount> EncoderRows = [] {
  std::array<EncoderRow, StepIndexCount> rows{};
  for (int index = 0; index < StepIndexCount; ++index) {
    for (int k = 0; k < 8; ++k) {
      rows[index].choices[k] = EncoderChoice(index, k);
      rows[index].thresholds8[k] = 8 * Threshold(index, k);
    }
  }
  return rows;
}();

static_assert(DecodeSteps[0x7].difference == 30 && DecodeSteps[0x7].next_row == 8 * 16);
static_assert(DecodeSteps[8 * 16 + 0x0].difference == 4 && DecodeSteps[8 * 16 + 0x0].next_row == 7 * 16);
static_assert(DecodeSteps[0xF].difference == -30 && DecodeSteps[0xF].low_limit == -2048 &&
              DecodeSteps[0xF].high_limit == 2017);
static_assert(DecodeSteps[MaxStepIndex * 16 + 0x7].difference == 2910);
static_assert(RowAfterByte[0x70] == 7 * 256 && RowAfterByte[MaxStepIndex * 256 + 0x77] == MaxStepIndex * 256 &&
              RowAfterByte[0x00] == 0);
static_assert(EncoderRows[0].choices[7] == (uint64_t{8 * 30 + 7} << 32 | 8 * sizeof(EncoderRow)));
static_assert(EncoderRows[0].choices[0] == uint64_t{8 * 2} << 32 && EncoderRows[0].thresholds8[4] == 8 * 16);
static_assert(EncoderRows[MaxStepIndex].choices[7] >> 32 == 8 * 2910 + 7 && EncoderRows[8].thresholds8[7] == 8 * 59);
static_assert([] {
  for (int index = 0; index < StepIndexCount; ++index) {
    for (int magnitude = 2; magnitude < 8; ++magnitude) {
      if (Threshold(index, magnitude) < Threshold(index, magnitude - 1)) return false;
    }
  }
  return true;
}());

}  // namespace adpcm_tables
