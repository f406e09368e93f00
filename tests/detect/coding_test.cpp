// Coding detection on signals made here: genuine files of every coding are claimed confidently, non-VOX data
// never is, and the model's probabilities are proper.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <iterator>
#include <limits>
#include <random>
#include <string>
#include <thread>

#include "detect/detect.h"
#include "detect/hypotheses.h"
#include "tests/detect/signals.h"

namespace {

constexpr DetectedCoding AllCodings[] = {DetectedCoding::Alaw, DetectedCoding::Mulaw, DetectedCoding::Adpcm};

RawVoxDetection Detect(const std::vector<uint8_t>& bytes) { return DetectRawVox(bytes.data(), bytes.size()); }

TEST(DetectCoding, EveryCodingOfSpeechNoiseAndNearSilenceIsClaimedFromFiveSeconds) {
  const uint64_t seed = TestSeed();
  for (const int rate : {8000, 6000}) {
    const std::pair<const char*, std::vector<int16_t>> contents[] = {
        {"speech-like", SpeechLike(5, rate, seed)},
        {"line noise", LineNoise(5, rate, 800, seed + 1)},
        {"near-silence", LineNoise(5, rate, 12, seed + 2)},
    };
    for (const auto& [content, samples] : contents) {
      for (const DetectedCoding coding : AllCodings) {
        SCOPED_TRACE(std::string(content) + " at " + std::to_string(rate) + " Hz as " + CodingName(coding));
        const RawVoxDetection result = Detect(Encode(coding, samples));
        ASSERT_TRUE(result.coding.has_value()) << result.reason;
        EXPECT_EQ(*result.coding, coding);
        EXPECT_GE(result.confidence, 0.9) << "t = " << result.t;
        EXPECT_EQ(result.reason, "");
      }
    }
  }
}

// examples/speech.wav (16000 Hz) at 8000 Hz: pairs averaged over a short low-pass, enough for detection.
std::vector<int16_t> ExampleSpeechAt8000() {
  std::ifstream file(std::string(KVOX_SOURCE_DIR) + "/examples/speech.wav", std::ios::binary);
  const std::string wav{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
  const size_t data = wav.find("data") + 8;
  std::vector<double> x((wav.size() - data) / 2);
  for (size_t i = 0; i < x.size(); ++i)
    x[i] = int16_t(uint8_t(wav[data + 2 * i]) | uint8_t(wav[data + 2 * i + 1]) << 8);
  std::vector<int16_t> out;
  for (size_t i = 2; i + 1 < x.size(); i += 2)
    out.push_back(int16_t((x[i - 2] + 3 * x[i - 1] + 3 * x[i] + x[i + 1]) / 8));
  return out;
}

// Real prompts often sit on an offset of half their RMS or more (old recording hardware); every coding of them
// is claimed, not refused as 8-bit PCM nor taken for the other G.711 law.
TEST(DetectCoding, SpeechOnAnOffsetOfUpToItsRmsIsClaimed) {
  const std::vector<int16_t> speech = ExampleSpeechAt8000();
  ASSERT_GT(speech.size(), 30000u);
  double squares = 0;
  for (const int16_t s : speech) squares += double(s) * s;
  const double rms = std::sqrt(squares / double(speech.size()));
  for (const double share : {-1.0, -0.6, 0.6, 1.0}) {
    std::vector<int16_t> offset = speech;
    for (int16_t& s : offset) s = int16_t(std::clamp(std::lround(s + share * rms), -32768L, 32767L));
    for (const DetectedCoding coding : AllCodings) {
      const RawVoxDetection result = Detect(Encode(coding, offset));
      ASSERT_TRUE(result.coding.has_value()) << share << " RMS as " << CodingName(coding) << ": " << result.reason;
      EXPECT_EQ(*result.coding, coding) << share << " RMS";
      EXPECT_GE(result.confidence, 0.9) << share << " RMS as " << CodingName(coding);
    }
  }
}

// Whatever is claimed at 0.9 or more, under any fault of a real recording, is the coding the file holds. The
// coverage of each fault over many files comes from bench/detect_faults_bench.
TEST(DetectCoding, RecordingFaultsNeverBringAWrongConfidentClaim) {
  const uint64_t seed = TestSeed();
  for (const RecordingFault fault : AllRecordingFaults) {
    for (const DetectedCoding coding : AllCodings) {
      const int rate = (int(fault) + int(coding)) % 2 ? 6000 : 8000;
      const FaultyRecording faulty =
          WithFault(fault, SpeechLike(2, rate, seed + uint64_t(fault)), rate, seed + uint64_t(coding));
      const RawVoxDetection result = Detect(Encode(coding, faulty.samples));
      if (result.confidence >= 0.9) {
        EXPECT_EQ(*result.coding, coding) << FaultName(fault) << ": " << faulty.detail;
      }
    }
  }
}

TEST(DetectCoding, NonVoxDataIsNeverClaimedConfidently) {
  const uint64_t seed = TestSeed();
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> random_bytes(16000);
  for (uint8_t& b : random_bytes) b = uint8_t(rng());
  std::string prose;
  while (prose.size() < 6000) prose += "Raw telephone recordings carry no header, so the reader must guess. ";
  const std::vector<uint8_t> swapped = NibblesSwapped(Encode(DetectedCoding::Adpcm, SpeechLike(5, 8000, seed)));
  // Long 16-bit files that open on a steady offset repeat one pair of bytes for their first chunk.
  const auto opening_on = [seed](int16_t offset) {
    std::vector<int16_t> samples(24000, offset);
    for (const int16_t s : LineNoise(12, 8000, 3000, seed)) samples.push_back(int16_t(s + offset));
    return PcmBytes(samples);
  };

  const std::pair<const char*, std::vector<uint8_t>> inputs[] = {
      {"random bytes", random_bytes},
      {"16-bit PCM", PcmBytes(SpeechLike(3, 8000, seed))},
      {"text", std::vector<uint8_t>(prose.begin(), prose.end())},
      {"zeros", std::vector<uint8_t>(4000, 0)},
      {"nibble-swapped ADPCM", swapped},
      {"16-bit PCM opening on an offset (read as A-law)", opening_on(-2729)},
      {"16-bit PCM opening on an offset (read as ADPCM)", opening_on(-2535)},
  };
  for (const auto& [kind, bytes] : inputs) {
    const RawVoxDetection result = Detect(bytes);
    EXPECT_LT(result.confidence, 0.9) << kind << " claimed as " << (result.coding ? CodingName(*result.coding) : "-");
    EXPECT_FALSE(result.coding.has_value() && result.reason != "") << kind;
  }
  EXPECT_EQ(Detect(inputs[1].second).reason, "looks like pcm_s16le, not this format");
  EXPECT_EQ(Detect(swapped).reason, "looks like adpcm_lowfirst, not this format");
}

// Speech driven far into clipping leaves the ADPCM coder few codes; nibble-swapped, they can read as noisy
// mu-law, a little ahead of every other reading. Most such files are refused; a few of the hummed ones are
// still claimed, which this bounds.
TEST(DetectCoding, NibbleSwappedAdpcmOfClippedSpeechIsSeldomClaimed) {
  const std::vector<int16_t> speech = ExampleSpeechAt8000();
  const RecordingFault faults[] = {RecordingFault::MainsHum, RecordingFault::DcOffset, RecordingFault::None};
  int files = 0, claimed = 0;
  for (uint64_t seed = 0; seed < 100; ++seed) {
    for (const size_t length : {4000, 8000}) {
      const size_t start = seed * 7919 % (speech.size() - length);
      const std::vector<int16_t> piece(speech.begin() + ptrdiff_t(start), speech.begin() + ptrdiff_t(start + length));
      const FaultyRecording faulty = WithFault(faults[seed % 3], piece, 8000, seed);
      const double drive_db = 3 + 17 * double(seed * 37 % 100) / 100;
      const std::vector<uint8_t> bytes =
          NibblesSwapped(Encode(DetectedCoding::Adpcm, DrivenPastFullScale(faulty.samples, drive_db)));
      files++;
      claimed += Detect(bytes).confidence >= 0.9;
    }
  }
  EXPECT_LE(claimed * 25, files) << claimed << " of " << files << " claimed at 0.9 or more";
}

TEST(DetectCoding, OneByteValueOrOneSignIsRefusedButSilenceCodesAreNot) {
  const uint64_t seed = TestSeed();
  const std::vector<int16_t> speech = SpeechLike(2, 8000, seed);

  // 95% of one byte value that is no silence code: refused whatever the rest holds.
  std::vector<uint8_t> mostly_one_value = Encode(DetectedCoding::Mulaw, speech);
  for (size_t i = 0; i < mostly_one_value.size(); ++i) {
    if (i % 20 != 0) mostly_one_value[i] = 0x33;
  }
  const RawVoxDetection one_value = Detect(mostly_one_value);
  EXPECT_FALSE(one_value.coding.has_value());
  EXPECT_EQ(one_value.reason.rfind("degenerate content", 0), 0u) << one_value.reason;

  // 95% A-law silence around a burst of speech is a quiet recording, not degenerate data.
  std::vector<int16_t> quiet(speech.size() * 10, 0);
  std::copy(speech.begin(), speech.begin() + speech.size() / 2, quiet.begin() + 1000);
  const RawVoxDetection silence = Detect(Encode(DetectedCoding::Alaw, quiet));
  ASSERT_TRUE(silence.coding.has_value()) << silence.reason;
  EXPECT_EQ(*silence.coding, DetectedCoding::Alaw);

  // Rectified speech: structured, but every code positive, which audio never is.
  std::vector<int16_t> rectified = speech;
  for (int16_t& s : rectified) s = int16_t(std::abs(s / 2));
  const RawVoxDetection one_sign = Detect(Encode(DetectedCoding::Alaw, rectified));
  EXPECT_FALSE(one_sign.coding.has_value());
  EXPECT_EQ(one_sign.best, "alaw");
  EXPECT_NE(one_sign.reason.find("lopsided"), std::string::npos) << one_sign.reason;
}

TEST(DetectCoding, FilesUnder256BytesAreTooShort) {
  const std::vector<uint8_t> speech = Encode(DetectedCoding::Alaw, SpeechLike(1, 8000, 7));
  for (const size_t size : {size_t{0}, size_t{1}, size_t{255}}) {
    const RawVoxDetection result = DetectRawVox(speech.data(), size);
    EXPECT_EQ(result.reason, "too short") << size;
    EXPECT_FALSE(result.coding.has_value());
    EXPECT_EQ(result.confidence, 0);
    EXPECT_EQ(result.best, "");
  }
  EXPECT_EQ(DetectRawVox(nullptr, 1000).reason, "too short");
  EXPECT_NE(DetectRawVox(speech.data(), 256).reason, "too short");
}

TEST(DetectCoding, LongFilesAreSampledInEightChunksAndStillClaimed) {
  const uint64_t seed = TestSeed();
  // 25 s of A-law: 200,000 bytes, of which 80,000 are read. An odd size keeps the 16-bit readings honest.
  std::vector<uint8_t> bytes = Encode(DetectedCoding::Alaw, SpeechLike(25, 8000, seed));
  bytes.push_back(0xD5);
  for (const DetectionDepth depth : {DetectionDepth::Whole, DetectionDepth::UntilSure}) {
    const RawVoxDetection result = DetectRawVox(bytes.data(), bytes.size(), depth);
    ASSERT_TRUE(result.coding.has_value()) << result.reason;
    EXPECT_EQ(*result.coding, DetectedCoding::Alaw);
    EXPECT_GE(result.confidence, 0.9);
    // Clear speech settles its coding well before the end of what is analysed.
    if (depth == DetectionDepth::UntilSure)
      EXPECT_LT(result.analysed_bytes, 80000u);
    else
      EXPECT_EQ(result.analysed_bytes, 80000u);
  }
  // Just over the cap is sampled too, not read whole.
  bytes.resize(80001);
  EXPECT_EQ(DetectRawVox(bytes.data(), bytes.size(), DetectionDepth::Whole).analysed_bytes, 80000u);
}

// The cells of one reading's codes tile the line, so the code probabilities sum to one and uniformly random
// bytes can never look cheaper than 8 bits per byte: this is what makes "cheap" mean "structured".
TEST(DetectCoding, CellsTileTheLineAndRandomBytesCostAtLeastEightBits) {
  constexpr double Infinity = std::numeric_limits<double>::infinity();
  for (size_t h = 0; h < HypothesisCount; ++h) {
    const Hypothesis hypothesis = Hypothesis(h);
    if (CodeAlphabetSize(hypothesis) != 256) continue;
    std::vector<uint8_t> every_byte(256);
    for (size_t b = 0; b < 256; ++b) every_byte[b] = uint8_t(b);
    CellStream cells;
    DecodeWithCells(hypothesis, every_byte.data(), every_byte.size(), cells);
    std::vector<std::pair<double, double>> sorted;
    for (size_t b = 0; b < 256; ++b) {
      sorted.emplace_back(cells.low[b], cells.high[b]);
      EXPECT_LE(cells.low[b], cells.values[b]) << HypothesisName(h) << " byte " << b;
      EXPECT_GE(cells.high[b], cells.values[b]) << HypothesisName(h) << " byte " << b;
    }
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted.front().first, -Infinity) << HypothesisName(h);
    EXPECT_EQ(sorted.back().second, Infinity) << HypothesisName(h);
    for (size_t i = 1; i < sorted.size(); ++i)
      EXPECT_EQ(sorted[i - 1].second, sorted[i].first) << HypothesisName(h) << " cell " << i;
  }

  // ADPCM: from whatever state a prefix leaves, the sixteen codes tile the line.
  const uint64_t seed = TestSeed();
  std::mt19937_64 rng(seed);
  for (int trial = 0; trial < 50; ++trial) {
    std::vector<uint8_t> prefix(size_t(rng() % 300));
    for (uint8_t& b : prefix) b = uint8_t(rng());
    std::vector<std::pair<double, double>> sorted;
    for (uint8_t code = 0; code < 16; ++code) {
      std::vector<uint8_t> bytes = prefix;
      bytes.push_back(uint8_t(code << 4));
      CellStream cells;
      DecodeWithCells(Hypothesis::Adpcm, bytes.data(), bytes.size(), cells);
      sorted.emplace_back(cells.low[2 * prefix.size()], cells.high[2 * prefix.size()]);
    }
    std::sort(sorted.begin(), sorted.end());
    EXPECT_EQ(sorted.front().first, -Infinity);
    EXPECT_EQ(sorted.back().second, Infinity);
    for (size_t i = 1; i < sorted.size(); ++i) EXPECT_EQ(sorted[i - 1].second, sorted[i].first) << "trial " << trial;
  }

  std::vector<uint8_t> random_bytes(8001);
  for (uint8_t& b : random_bytes) b = uint8_t(rng());
  const RawVoxDetection result = Detect(random_bytes);
  for (size_t h = 0; h < HypothesisCount; ++h) EXPECT_GT(result.costs[h], 7.9) << HypothesisName(h);
  EXPECT_FALSE(result.coding.has_value());
}

TEST(DetectCoding, ConcurrentCallsGiveTheSameAnswersAsOneAtATime) {
  const uint64_t seed = TestSeed();
  std::vector<std::vector<uint8_t>> files;
  for (const DetectedCoding coding : AllCodings) files.push_back(Encode(coding, DtmfDigits("159#", 6000, seed)));
  files.push_back(PcmBytes(SpeechLike(1, 8000, seed)));
  std::vector<RawVoxDetection> alone;
  for (const auto& file : files) alone.push_back(Detect(file));

  std::vector<RawVoxDetection> together(files.size());
  std::vector<std::thread> threads;
  for (size_t i = 0; i < files.size(); ++i) threads.emplace_back([&, i] { together[i] = Detect(files[i]); });
  for (std::thread& thread : threads) thread.join();
  for (size_t i = 0; i < files.size(); ++i) {
    EXPECT_EQ(together[i].costs, alone[i].costs) << "file " << i;
    EXPECT_EQ(together[i].reason, alone[i].reason) << "file " << i;
    EXPECT_EQ(together[i].events6, alone[i].events6) << "file " << i;
    EXPECT_EQ(together[i].rate, alone[i].rate) << "file " << i;
  }
}

}  // namespace
