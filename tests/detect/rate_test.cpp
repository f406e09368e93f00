// Rate detection: decided from DTMF and call-progress tones, never guessed from speech.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>

#include "detect/detect.h"
#include "detect/tone_rate.h"
#include "tests/detect/signals.h"

namespace {

constexpr DetectedCoding AllCodings[] = {DetectedCoding::Alaw, DetectedCoding::Mulaw, DetectedCoding::Adpcm};

TEST(DetectRate, DtmfDigitsGiveTheirRateUnderEveryCoding) {
  const uint64_t seed = TestSeed();
  for (const int rate : {6000, 8000}) {
    const std::vector<int16_t> digits = DtmfDigits("0123456789*#ABCD", rate, seed);
    for (const DetectedCoding coding : AllCodings) {
      const std::vector<uint8_t> bytes = Encode(coding, digits);
      const RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size());
      SCOPED_TRACE(std::to_string(rate) + " Hz as " + CodingName(coding));
      ASSERT_TRUE(result.rate.has_value()) << "events " << result.events8 << " / " << result.events6;
      EXPECT_EQ(*result.rate, rate);
      EXPECT_GE(result.rate_confidence, 0.9);
      EXPECT_EQ(rate == 8000 ? result.events6 : result.events8, 0);
    }
  }
}

TEST(DetectRate, SpeechLikeContentLeavesTheRateUnknown) {
  const uint64_t seed = TestSeed();
  for (const int rate : {6000, 8000}) {
    for (const DetectedCoding coding : AllCodings) {
      const std::vector<uint8_t> bytes = Encode(coding, SpeechLike(5, rate, seed));
      const RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size());
      EXPECT_FALSE(result.rate.has_value()) << rate << " Hz as " << CodingName(coding);
      EXPECT_LT(result.rate_confidence, 0.9);
    }
  }
}

// Busy tone (480 + 620 Hz) in bursts: a call-progress pair, not DTMF. At 8000 Hz every call-progress pair lies
// below the band searched for peaks (0.07 cycles per sample is 560 Hz there), so only 6000 Hz can show them;
// ring-back's 440 and 480 Hz are too close together to count as two peaks at either rate.
TEST(DetectRate, BusyToneGivesSixThousandAndIsInvisibleAtEightThousand) {
  for (const int rate : {6000, 8000}) {
    std::vector<int32_t> samples;
    for (int burst = 0; burst < 4; ++burst) {
      for (int i = 0; i < rate / 2; ++i) {
        const double t = double(i) / rate;
        samples.push_back(int32_t(4000 * (std::sin(2 * std::numbers::pi * 480 * t) + std::sin(2 * std::numbers::pi * 620 * t))));
      }
      samples.insert(samples.end(), size_t(rate / 4), 0);
    }
    const ToneEvents events = CountToneEvents(samples.data(), samples.size());
    EXPECT_EQ(events.events6, rate == 6000 ? 4 : 0) << rate;
    EXPECT_EQ(events.events8, 0) << rate;
  }
}

TEST(DetectRate, AToneTooShortOrAloneIsNoEvent) {
  // Two frames' worth of a DTMF pair (fewer than three labelled frames in a row), and a lone pure tone.
  std::vector<int32_t> brief, lone;
  for (int i = 0; i < 384; ++i) {
    const double t = i / 8000.0;
    brief.push_back(int32_t(5000 * (std::sin(2 * std::numbers::pi * 697 * t) + std::sin(2 * std::numbers::pi * 1209 * t))));
  }
  for (int i = 0; i < 8000; ++i) lone.push_back(int32_t(8000 * std::sin(2 * std::numbers::pi * 697 * i / 8000.0)));
  for (const auto* samples : {&brief, &lone}) {
    const ToneEvents events = CountToneEvents(samples->data(), samples->size());
    EXPECT_EQ(events.events8 + events.events6, 0);
  }
  EXPECT_EQ(CountToneEvents(brief.data(), 100).events8, 0);
  // One hop more makes three frames: one event.
  for (int i = 384; i < 512; ++i) {
    const double t = i / 8000.0;
    brief.push_back(int32_t(5000 * (std::sin(2 * std::numbers::pi * 697 * t) + std::sin(2 * std::numbers::pi * 1209 * t))));
  }
  EXPECT_EQ(CountToneEvents(brief.data(), brief.size()).events8, 1);
}

TEST(DetectRate, NetEventsDecideWithTheirConfidence) {
  struct Case {
    int events8, events6;
    std::optional<int> rate;
    double confidence;
    std::optional<int> hint;
  };
  const Case cases[] = {
      {0, 0, std::nullopt, 0.5, std::nullopt}, {1, 0, std::nullopt, 0.6, 8000}, {0, 1, std::nullopt, 0.6, 6000},
      {2, 0, 8000, 0.90, std::nullopt},        {0, 4, 6000, 0.97, std::nullopt}, {9, 0, 8000, 0.99, std::nullopt},
      {5, 1, 8000, 0.90, std::nullopt},        {3, 1, std::nullopt, 0.5, std::nullopt},  // one stray counts three
      {2, 2, std::nullopt, 0.5, std::nullopt},
  };
  for (const Case& c : cases) {
    const RateDecision decision = DecideRate({c.events8, c.events6});
    SCOPED_TRACE(std::to_string(c.events8) + " / " + std::to_string(c.events6));
    EXPECT_EQ(decision.rate, c.rate);
    EXPECT_EQ(decision.confidence, c.confidence);
    EXPECT_EQ(decision.hint, c.hint);
  }
}

}  // namespace
