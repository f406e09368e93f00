// Guessing the coding and the rate of a raw VOX file from its bytes alone.
//
// The coding is the decoding under which the file is cheapest to describe with a small predictive model;
// the rate comes only from standard telephone tones (DTMF and call-progress pairs) found in the audio.
// Everything here works over a byte buffer and is safe to call from several threads at once.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

enum class DetectedCoding { Alaw, Mulaw, Adpcm };

// Twelve ways to read the bytes: the three native codings first, then layouts that are not this format and
// serve only to refuse a claim. Costs are reported in this order.
inline constexpr size_t HypothesisCount = 12;

struct RawVoxDetection {
  std::optional<DetectedCoding> coding;  // the claimed coding, whatever its confidence; empty when refused
  double confidence = 0;                 // 0..1, 0 when nothing is claimed
  std::string reason;                    // empty when a coding is claimed, else why not
  double t = 0;                          // how consistently the winner beats the runner-up, block by block
  std::optional<int> rate;               // 8000 or 6000 when tones decide it
  double rate_confidence = 0.5;          // 0.90, 0.97 or 0.99 when decided, 0.6 for a hint, else 0.5
  std::optional<int> rate_hint;          // the rate a single net tone event points to (not a decision)
  int events8 = 0, events6 = 0;          // tone events that fit 8000 and 6000 Hz
  std::string best;                      // the cheapest qualified native coding, even when refused; "" if none
  std::array<double, HypothesisCount> costs{};  // bits per byte under each hypothesis (see DetectRawVox)
  size_t analysed_bytes = 0;                    // bytes the costs were measured on (at most 80,000; see below)
};

enum class DetectionDepth {
  UntilSure,  // stop once a first part of the analysed bytes claims a coding beyond doubt
  Whole,      // measure every reading on every analysed byte, as the reference results were
};

// With UntilSure the analysed bytes are measured in stretches from their start (2048 bytes, then growing by
// half), and a claim at confidence 0.99 or more whose reading beats every other one still in the running by
// as wide a margin where the audio sounds stands at once: its t and confidence are those of that stretch,
// `analysed_bytes` says how long it was, and the costs of readings dropped on the way as hopeless are over
// the bytes they were measured on. Without such a claim the result is exactly Whole's. The byte-value and
// sign checks and the rate always look at all of the analysed bytes.
RawVoxDetection DetectRawVox(const uint8_t* bytes, size_t byte_count, DetectionDepth depth = DetectionDepth::UntilSure);

struct ByteSpan {
  size_t offset;
  size_t length;
};

// The parts of a file of `byte_count` bytes that DetectRawVox looks at, and nothing else: the whole file up
// to 80,000 bytes; of a longer one 8 chunks of 10,000 bytes, the first at the start, the last at the end and
// the rest evenly between, each starting on an even byte. A caller may read only these into its buffer.
std::vector<ByteSpan> AnalysedSpans(size_t byte_count);

// "alaw", "mulaw", "adpcm", "adpcm_lowfirst", "alaw_bitrev", "mulaw_bitrev", "alaw_noinv", "mulaw_noinv",
// "pcm_u8", "pcm_s8", "pcm_s16le", "pcm_s16be"; "" past the end.
const char* HypothesisName(size_t index);

// "alaw", "mulaw" or "adpcm".
const char* CodingName(DetectedCoding coding);
