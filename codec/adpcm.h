// 4-bit ADPCM with DC tracking, on a 12-bit signal (the 16-bit sample divided by 16).
//
// A code is 4 bits: bit 3 is the sign (1 = negative), bits 2, 1, 0 weigh step, step/2 and step/4. The
// quantiser, its 49 step sizes and its step-index rule are those of the OKI 4-bit telephony scheme. On top
// of it both sides run a DC tracker that subtracts the mean of the last 128 values: the encoder on its input
// before quantising, the decoder on its output after reconstructing. The decoder limits its predictor to
// 12 bits; the encoder does not.
//
// All arithmetic is 32-bit; divisions truncate toward zero. Values are limited at four points only: the
// encoder's input (-2047..2047), the decoder's predictor (-2048..2047), the decoder's output before scaling
// (-2048..2047) and the step index (0..48).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// Both fields are 0 at the start of a stream.
struct AdpcmState {
  int32_t predictor;   // decoder: -2048..2047; encoder: unlimited, but within +-4288 (see AdpcmEncodeSample)
  int32_t step_index;  // 0..48
};

inline constexpr int DcTrackerLength = 128;

// The ring and its position are contiguous; the running sum is kept apart because the input state record
// stores it after other fields, while the output state record stores it right after the history.
struct DcHistory {
  int32_t ring[DcTrackerLength];  // the last 128 values that entered, 0 where none has yet
  int32_t position;               // 0..127, the slot the next value overwrites
};

// The layout the output state record uses: history, then the running sum of the 128 ring values.
struct DcTracker {
  DcHistory history;
  int32_t sum;  // always the sum of history.ring; magnitude at most 128 * 2048
};

// Entries 8 to 87 of the IMA ADPCM step-size table. The step index never exceeds 48, so only the first 49
// are ever read; the rest keep the table's documented shape.
inline constexpr std::array<int16_t, 80> StepTable = {
    16,   17,   19,   21,   23,    25,    28,    31,    34,    37,    41,    45,    50,    55,    60,    66,
    73,   80,   88,   97,   107,   118,   130,   143,   157,   173,   190,   209,   230,   253,   279,   307,
    337,  371,  408,  449,  494,   544,   598,   658,   724,   796,   876,   963,   1060,  1166,  1282,  1411,
    1552, 1707, 1878, 2066, 2272,  2499,  2749,  3024,  3327,  3660,  4026,  4428,  4871,  5358,  5894,  6484,
    7132, 7845, 8630, 9493, 10442, 11487, 12635, 13899, 15289, 16818, 18500, 20350, 22385, 24623, 27086, 29794};

inline constexpr int MaxStepIndex = 48;

// Indexed by the code's magnitude bits (code AND 7).
inline constexpr std::array<int8_t, 8> IndexAdjust = {-1, -1, -1, -1, 2, 4, 6, 8};

static_assert(StepTable[0] == 16 && StepTable[1] == 17 && StepTable[8] == 34 && StepTable[MaxStepIndex] == 1552);
static_assert(StepTable[79] == 29794);
static_assert([] {
  // Each step is about 1.1 times the one before, so a mistyped entry breaks the ratio.
  for (size_t i = 1; i < StepTable.size(); ++i) {
    if (StepTable[i] * 100 < StepTable[i - 1] * 106 || StepTable[i] * 100 > StepTable[i - 1] * 114) return false;
  }
  return true;
}());

// The difference that `code` stands for, at the step index before this code's update; then moves the
// step index. The magnitude is at least 2 (step/8 of the smallest step) and at most 2910.
constexpr int32_t AdpcmReconstruct(AdpcmState& state, uint8_t code) {
  const int32_t step = StepTable[state.step_index];
  int32_t difference = step / 8;
  if (code & 4) difference += step;
  if (code & 2) difference += step / 2;
  if (code & 1) difference += step / 4;
  if (code & 8) difference = -difference;
  int32_t index = state.step_index + IndexAdjust[code & 7];
  if (index < 0) index = 0;
  if (index > MaxStepIndex) index = MaxStepIndex;
  state.step_index = index;
  return difference;
}

// Subtracts the mean of the 128 values that entered before `value` (zeros for slots not yet filled), then
// lets `value` in. The running sum makes this one subtraction, one store and one addition per value.
constexpr int32_t DcTrackerApply(DcHistory& history, int32_t& sum, int32_t value) {
  const int32_t result = value - sum / DcTrackerLength;
  const int32_t position = history.position & (DcTrackerLength - 1);
  sum += value - history.ring[position];
  history.ring[position] = value;
  history.position = (position + 1) & (DcTrackerLength - 1);
  return result;
}

// Decodes one code (its low four bits) into a sample in -32768..32752 whose low four bits are 0.
constexpr int16_t AdpcmDecodeSample(AdpcmState& state, DcHistory& history, int32_t& sum, uint8_t code) {
  int32_t predictor = state.predictor + AdpcmReconstruct(state, code & 0x0F);
  if (predictor > 2047) predictor = 2047;
  if (predictor < -2048) predictor = -2048;
  state.predictor = predictor;
  int32_t out = DcTrackerApply(history, sum, predictor);
  if (out > 2047) out = 2047;
  if (out < -2048) out = -2048;
  return static_cast<int16_t>(out * 16);
}

// Encodes one sample into a code 0..15.
//
// The encoder's predictor is not limited, yet it cannot overflow: the target t lies within +-4094 (an
// input of at most 2047 in magnitude minus a mean of at most 2047), and each step moves the predictor
// toward t by a difference that overshoots t by at most step/8 <= 194, so the predictor stays within
// +-4288.
constexpr uint8_t AdpcmEncodeSample(AdpcmState& state, DcHistory& history, int32_t& sum, int16_t sample) {
  int32_t x = sample / 16;
  if (x < -2047) x = -2047;  // only -32768 gets here; the encoder's input range is symmetric
  const int32_t target = DcTrackerApply(history, sum, x);
  int32_t d = target - state.predictor;
  uint8_t code = 0;
  if (d < 0) {
    code = 8;
    d = -d;
  }
  const int32_t step = StepTable[state.step_index];
  if (d >= step) {
    code += 4;
    d -= step;
  }
  if (d >= step / 2) {
    code += 2;
    d -= step / 2;
  }
  if (d >= step / 4) code += 1;
  state.predictor += AdpcmReconstruct(state, code);
  return code;
}
