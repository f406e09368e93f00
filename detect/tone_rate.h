// The sample rate from standard telephone tones. The rate does not change the bytes, only how hertz map to
// cycles per sample, so it can be told only where the audio holds tones of known frequency: DTMF digits and
// North-American call-progress pairs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>

struct ToneEvents {
  int events8 = 0;  // steady tone pairs that fit 8000 Hz
  int events6 = 0;  // and 6000 Hz
};

// Counts tone events in one stretch of decoded 16-bit samples. Stretches are counted apart and added up, since
// an event never spans two of them.
ToneEvents CountToneEvents(const int32_t* samples, size_t sample_count);

struct RateDecision {
  std::optional<int> rate;       // decided from at least 2 net events
  double confidence = 0.5;       // 0.90, 0.97, 0.99 when decided; 0.6 for a hint
  std::optional<int> hint;       // one net event: suggestive, not decisive
};

RateDecision DecideRate(ToneEvents events);
