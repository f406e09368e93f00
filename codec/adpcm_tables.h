// Tables for the block ADPCM coders, built at compile time from StepTable and IndexAdjust.
//
// Coding a block is one long dependency chain through the predictor and the step index. These tables take
// the work that depends only on (step index, code) off that chain: the difference, the next step index and,
// for the encoder, the decision thresholds of the next step index are one load away from the code.
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
      steps[index * CodeCount + code] = {static_cast<int16_t>(effect.difference),
                                         static_cast<int16_t>(low < -2048 ? -2048 : low),
                                         static_cast<int16_t>(high > 2047 ? 2047 : high),
                                         static_cast<uint16_t>(effect.next_index * CodeCount)};
    }
  }
  return steps;
}

inline constexpr std::array<DecodeStep, StepIndexCount * CodeCount> DecodeSteps = MakeDecodeSteps();

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

inline constexpr std::array<uint16_t, StepIndexCount * 256> RowAfterByte = MakeRowAfterByte();

// Encoder: what a code does: the difference it adds to the predictor and the step index it leads to, with
// that index's thresholds ready for the next sample's decision. Within each step index's row of 16, the
// entry for a code sits at position code XOR 7, so that the decision's count of thresholds not reached
// (plus 8 for a negative difference) is the position itself.
struct alignas(32) EncodeStep {
  int32_t thresholds[7];  // thresholds 1..7 of the step index this code leads to
  int16_t difference;
  uint16_t row;  // the step index this code leads to, times 16: its row in EncodeSteps
};

constexpr int EncodePosition(int code) { return code ^ 7; }

constexpr EncodeStep MakeEncodeStep(int32_t difference, int next_index) {
  EncodeStep step{};
  for (int magnitude = 1; magnitude < 8; ++magnitude) step.thresholds[magnitude - 1] = Threshold(next_index, magnitude);
  step.difference = static_cast<int16_t>(difference);
  step.row = static_cast<uint16_t>(next_index * CodeCount);
  return step;
}

constexpr std::array<EncodeStep, StepIndexCount * CodeCount> MakeEncodeSteps() {
  std::array<EncodeStep, StepIndexCount * CodeCount> steps{};
  for (int index = 0; index < StepIndexCount; ++index) {
    for (int code = 0; code < CodeCount; ++code) {
      const CodeEffect effect = EffectOf(index, code);
      steps[index * CodeCount + EncodePosition(code)] = MakeEncodeStep(effect.difference, effect.next_index);
    }
  }
  return steps;
}

inline constexpr std::array<EncodeStep, StepIndexCount * CodeCount> EncodeSteps = MakeEncodeSteps();

// Where a block starts: no difference pending, leading to the stream's current step index.
constexpr std::array<EncodeStep, StepIndexCount> MakeEncodeStarts() {
  std::array<EncodeStep, StepIndexCount> starts{};
  for (int index = 0; index < StepIndexCount; ++index) starts[index] = MakeEncodeStep(0, index);
  return starts;
}

inline constexpr std::array<EncodeStep, StepIndexCount> EncodeStarts = MakeEncodeStarts();

static_assert(DecodeSteps[0x7].difference == 30 && DecodeSteps[0x7].next_row == 8 * 16);
static_assert(DecodeSteps[8 * 16 + 0x0].difference == 4 && DecodeSteps[8 * 16 + 0x0].next_row == 7 * 16);
static_assert(DecodeSteps[0xF].difference == -30 && DecodeSteps[0xF].low_limit == -2048 &&
              DecodeSteps[0xF].high_limit == 2017);
static_assert(DecodeSteps[MaxStepIndex * 16 + 0x7].difference == 2910);
static_assert(RowAfterByte[0x70] == 7 * 256 && RowAfterByte[MaxStepIndex * 256 + 0x77] == MaxStepIndex * 256 &&
              RowAfterByte[0x00] == 0);
static_assert(EncodeSteps[EncodePosition(0x7)].row == 8 * 16 && EncodeSteps[EncodePosition(0x7)].difference == 30 &&
              EncodeSteps[EncodePosition(0x7)].thresholds[0] == 8 &&
              EncodeSteps[EncodePosition(0x7)].thresholds[6] == 34 + 17 + 8);
static_assert(EncodeSteps[EncodePosition(0xF)].difference == -30 && EncodeSteps[EncodePosition(0x0)].difference == 2);
static_assert(sizeof(EncodeStep) == 32);  // a row position becomes an address by one shift
static_assert([] {
  for (int index = 0; index < StepIndexCount; ++index) {
    for (int magnitude = 2; magnitude < 8; ++magnitude) {
      if (Threshold(index, magnitude) < Threshold(index, magnitude - 1)) return false;
    }
  }
  return true;
}());

}  // namespace adpcm_tables
