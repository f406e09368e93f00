#include "codec/adpcm.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <numbers>
#include <random>
#include <vector>

#include "tests/support/test_seed.h"

namespace {

// One direction of a stream, from the start state.
struct Decoder {
  AdpcmState state{};
  DcHistory history{};
  int32_t sum = 0;

  int16_t Decode(uint8_t code) { return AdpcmDecodeSample(state, history, sum, code); }
};

struct Encoder {
  AdpcmState state{};
  DcHistory history{};
  int32_t sum = 0;

  uint8_t Encode(int16_t sample) { return AdpcmEncodeSample(state, history, sum, sample); }
};

int32_t RingSum(const DcHistory& history) {
  int32_t total = 0;
  for (int32_t value : history.ring) total += value;
  return total;
}

TEST(AdpcmDecode, FromTheStartState) {
  Decoder decoder;
  EXPECT_EQ(decoder.Decode(0x7), 480);
  EXPECT_EQ(decoder.state.predictor, 30);
  EXPECT_EQ(decoder.state.step_index, 8);
  EXPECT_EQ(decoder.Decode(0x0), 544);
  EXPECT_EQ(decoder.state.predictor, 34);
  EXPECT_EQ(decoder.state.step_index, 7);

  struct Case {
    uint8_t code;
    int16_t sample;
    int32_t predictor;
    int32_t step_index;
  };
  for (const Case& c : {Case{0x0, 32, 2, 0}, Case{0x8, -32, -2, 0}, Case{0xF, -480, -30, 8}}) {
    Decoder fresh;
    EXPECT_EQ(fresh.Decode(c.code), c.sample) << "code " << int{c.code};
    EXPECT_EQ(fresh.state.predictor, c.predictor) << "code " << int{c.code};
    EXPECT_EQ(fresh.state.step_index, c.step_index) << "code " << int{c.code};
  }
}

TEST(AdpcmDecode, RepeatedLargestPositiveCodeSaturatesThenTheTrackerPullsTheOutputToZero) {
  Decoder decoder;
  const int32_t predictors[] = {30, 93, 229, 522, 1153, 2047, 2047};
  const int32_t step_indexes[] = {8, 16, 24, 32, 40, 48, 48};
  const int16_t first_outputs[] = {480, 1488, 3664, 8320, 18352, 32512, 32256, 32000};
  std::vector<int16_t> outputs;
  for (int i = 0; i < 300; ++i) {
    outputs.push_back(decoder.Decode(0x7));
    if (i < 7) {
      EXPECT_EQ(decoder.state.predictor, predictors[i]) << "code " << i + 1;
      EXPECT_EQ(decoder.state.step_index, step_indexes[i]) << "code " << i + 1;
    }
  }
  for (int i = 0; i < 8; ++i) EXPECT_EQ(outputs[i], first_outputs[i]) << "code " << i + 1;
  EXPECT_NE(outputs[132], 0);
  for (int i = 133; i < 300; ++i) ASSERT_EQ(outputs[i], 0) << "code " << i + 1;
}

TEST(AdpcmDecode, RepeatedSmallestCodeClimbsHoldsThenFallsAtTheLimit) {
  Decoder decoder;
  std::vector<int16_t> outputs;
  for (int i = 0; i < 1400; ++i) {
    outputs.push_back(decoder.Decode(0x0));
    ASSERT_EQ(decoder.state.step_index, 0);
    ASSERT_EQ(decoder.state.predictor, std::min(2 * (i + 1), 2047)) << "code " << i + 1;
  }
  EXPECT_EQ(outputs[0], 32);
  EXPECT_EQ(outputs[1], 64);
  EXPECT_EQ(outputs[2], 96);
  EXPECT_NE(outputs[116], 2064);
  for (int i = 117; i < 1023; ++i) ASSERT_EQ(outputs[i], 2064) << "code " << i + 1;
  // From the 1024th code the predictor sits at its limit and the tracker's mean catches up with it.
  for (int i = 1024; i < 1400; ++i) ASSERT_LE(outputs[i], outputs[i - 1]) << "code " << i + 1;
  EXPECT_GT(outputs[1100], 0);
  EXPECT_EQ(outputs[1399], 0);
}

TEST(AdpcmEncode, FromTheStartState) {
  struct Case {
    int16_t sample;
    uint8_t code;
    int32_t predictor;
    int32_t step_index;
  };
  for (const Case& c : {Case{1000, 0x7, 30, 8}, Case{0, 0x0, 2, 0}, Case{-1, 0x0, 2, 0}, Case{-16, 0x8, -2, 0},
                        Case{32767, 0x7, 30, 8}, Case{-32768, 0xF, -30, 8}}) {
    Encoder encoder;
    EXPECT_EQ(encoder.Encode(c.sample), c.code) << "sample " << c.sample;
    EXPECT_EQ(encoder.state.predictor, c.predictor) << "sample " << c.sample;
    EXPECT_EQ(encoder.state.step_index, c.step_index) << "sample " << c.sample;
  }
}

TEST(AdpcmEncode, ConstantInputs) {
  Encoder silence;
  for (int i = 0; i < 400; ++i) ASSERT_EQ(silence.Encode(0), i % 2 == 0 ? 0x0 : 0x8) << "sample " << i + 1;

  Encoder offset;
  std::vector<uint8_t> codes;
  for (int i = 0; i < 400; ++i) codes.push_back(offset.Encode(8000));
  const std::vector<uint8_t> start(codes.begin(), codes.begin() + 8);
  EXPECT_EQ(start, (std::vector<uint8_t>{0x7, 0x7, 0x7, 0x6, 0x0, 0x8, 0x8, 0x0}));
  // Once the tracker has taken the whole offset out, the codes alternate around zero.
  for (int i = 129; i < 400; ++i) {
    ASSERT_TRUE(codes[i] == 0x0 || codes[i] == 0x8) << "sample " << i + 1;
    ASSERT_NE(codes[i], codes[i - 1]) << "sample " << i + 1;
  }
}

TEST(AdpcmEncode, FullScaleJumpDrivesTheEncoderPredictorPastTheDecoderLimit) {
  Encoder encoder;
  Decoder decoder;
  int32_t highest_encoder_predictor = 0;
  for (int i = 0; i < 260; ++i) {
    const uint8_t code = encoder.Encode(i < 200 ? -32767 : 32767);
    decoder.Decode(code);
    if (encoder.state.predictor > 2047 && encoder.state.predictor > highest_encoder_predictor) {
      EXPECT_EQ(decoder.state.predictor, 2047) << "sample " << i + 1;  // while the encoder climbs
    }
    highest_encoder_predictor = std::max(highest_encoder_predictor, encoder.state.predictor);
  }
  EXPECT_EQ(highest_encoder_predictor, 4046);
  EXPECT_EQ(decoder.state.predictor, 207);
  EXPECT_EQ(encoder.state.predictor, 2206);
  EXPECT_EQ(encoder.state.step_index, 9);
  EXPECT_EQ(decoder.state.step_index, 9);
}

// Signals that reach every corner of the state: noise over the full range, full-scale square waves (the
// encoder predictor leaves the decoder's range), and quiet tones.
int16_t TestSignal(int kind, int i, std::mt19937_64& rng) {
  switch (kind) {
    case 0:
      return static_cast<int16_t>(rng() & 0xFFFF);
    case 1:
      return (i / 173) % 2 == 0 ? -32768 : 32767;
    case 2:
      return static_cast<int16_t>(3000 * std::sin(i * 0.05) + static_cast<int>(rng() % 201) - 100);
    default:
      return static_cast<int16_t>((i / 500) % 2 == 0 ? 20000 + static_cast<int>(rng() % 12000) : -32768);
  }
}

// The decoder's step index follows the encoder's exactly, and the encoder's predictor differs from the
// decoder's by exactly what the decoder has clipped so far.
TEST(AdpcmStreams, EncoderAndDecoderStayInStepOnLongStreams) {
  const uint64_t seed = TestSeed();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  for (int kind = 0; kind < 4; ++kind) {
    Encoder encoder;
    Decoder decoder;
    int64_t clipped_total = 0;
    for (int i = 0; i < 200000; ++i) {
      const uint8_t code = encoder.Encode(TestSignal(kind, i, rng));
      ASSERT_LE(code, 15);
      AdpcmState probe = decoder.state;
      const int32_t unclipped = probe.predictor + AdpcmReconstruct(probe, code);
      decoder.Decode(code);
      clipped_total += unclipped - decoder.state.predictor;
      ASSERT_EQ(encoder.state.step_index, decoder.state.step_index) << "signal " << kind << ", sample " << i;
      ASSERT_EQ(encoder.state.predictor - decoder.state.predictor, clipped_total)
          << "signal " << kind << ", sample " << i;
      ASSERT_LE(std::abs(encoder.state.predictor), 4288) << "signal " << kind << ", sample " << i;
      ASSERT_EQ(encoder.sum, RingSum(encoder.history));
    }
  }
}

TEST(AdpcmStreams, DecoderInvariantsHoldForRandomCodes) {
  const uint64_t seed = TestSeed();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  Decoder decoder;
  for (int i = 0; i < 500000; ++i) {
    // Runs of one code as well as noise, so the predictor and the step index also sit at their limits.
    const uint8_t code = static_cast<uint8_t>((i / 64) % 3 == 0 ? (i / 192) % 16 : rng() % 16);
    const int16_t sample = decoder.Decode(code);
    ASSERT_EQ(sample & 0x0F, 0) << "code " << i;
    ASSERT_GE(decoder.state.predictor, -2048) << "code " << i;
    ASSERT_LE(decoder.state.predictor, 2047) << "code " << i;
    ASSERT_GE(decoder.state.step_index, 0) << "code " << i;
    ASSERT_LE(decoder.state.step_index, 48) << "code " << i;
    ASSERT_EQ(decoder.history.position, (i + 1) % DcTrackerLength) << "code " << i;
    ASSERT_EQ(decoder.sum, RingSum(decoder.history)) << "code " << i;
  }
}

// A tone round trip: catches a wrong sign, a wrong nibble weight or a tracker that adds instead of removes.
TEST(AdpcmStreams, ToneSurvivesARoundTrip) {
  Encoder encoder;
  Decoder decoder;
  double signal_energy = 0;
  double error_energy = 0;
  for (int i = 0; i < 8000; ++i) {
    const auto sample = static_cast<int16_t>(std::lround(8000 * std::sin(2 * std::numbers::pi * 440 * i / 8000.0)));
    const int16_t decoded = decoder.Decode(encoder.Encode(sample));
    if (i >= 256) {  // after the adaptation and the tracker's first window
      signal_energy += double(sample) * sample;
      error_energy += double(decoded - sample) * (decoded - sample);
    }
  }
  EXPECT_GT(10 * std::log10(signal_energy / error_energy), 15.0);
}

}  // namespace
