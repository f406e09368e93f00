#include "codec/blocks.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "codec/block_paths.h"
#include "codec/g711.h"
#include "tests/support/test_seed.h"

namespace {

// The host's buffer may hold samples at any alignment: tests place them one byte off.
class OddBuffer {
 public:
  explicit OddBuffer(size_t size_bytes) : bytes_(size_bytes + 1) {}
  int16_t* samples() { return reinterpret_cast<int16_t*>(bytes_.data() + 1); }
  uint8_t* codes() { return bytes_.data() + 1; }

  void StoreSamples(const std::vector<int16_t>& samples) {
    if (!samples.empty()) std::memcpy(bytes_.data() + 1, samples.data(), samples.size() * sizeof(int16_t));
  }
  std::vector<int16_t> LoadSamples(size_t sample_count) const {
    std::vector<int16_t> samples(sample_count);
    if (sample_count != 0) std::memcpy(samples.data(), bytes_.data() + 1, sample_count * sizeof(int16_t));
    return samples;
  }
  std::vector<uint8_t> LoadCodes(size_t code_count) const {
    return std::vector<uint8_t>(bytes_.begin() + 1, bytes_.begin() + 1 + static_cast<std::ptrdiff_t>(code_count));
  }

 private:
  std::vector<uint8_t> bytes_;
};

struct AdpcmStream {
  AdpcmState state{};
  DcHistory history{};
  int32_t sum = 0;

  bool operator==(const AdpcmStream& other) const {
    return state.predictor == other.state.predictor && state.step_index == other.state.step_index &&
           std::memcmp(&history, &other.history, sizeof history) == 0 && sum == other.sum;
  }
};

std::vector<int16_t> AllSamples() {
  std::vector<int16_t> samples;
  for (int s = -32768; s <= 32767; ++s) samples.push_back(static_cast<int16_t>(s));
  return samples;
}

std::vector<uint8_t> RandomBytes(std::mt19937_64& rng, size_t count) {
  std::vector<uint8_t> bytes(count);
  for (uint8_t& byte : bytes) byte = static_cast<uint8_t>(rng());
  return bytes;
}

// Noise, quiet stretches, full-scale squares and held extremes, so the fast paths meet the limits too.
std::vector<int16_t> MixedSignal(std::mt19937_64& rng, size_t count) {
  std::vector<int16_t> samples(count);
  for (size_t i = 0; i < count; ++i) {
    switch ((i / 997) % 4) {
      case 0:
        samples[i] = static_cast<int16_t>(rng());
        break;
      case 1:
        samples[i] = static_cast<int16_t>(static_cast<int>(rng() % 64) - 32);
        break;
      case 2:
        samples[i] = (i / 61) % 2 == 0 ? int16_t{-32768} : int16_t{32767};
        break;
      default:
        samples[i] = static_cast<int16_t>(20000 + static_cast<int>(rng() % 12768));
        break;
    }
  }
  return samples;
}

TEST(G711Blocks, DecodeEveryCodeLikeTheSampleOperations) {
  std::vector<uint8_t> codes;
  for (int code = 0; code < 256; ++code) codes.push_back(static_cast<uint8_t>(code));
  codes.insert(codes.end(), codes.rbegin(), codes.rend());  // a length past any vector width, with a tail
  codes.push_back(0x2A);
  OddBuffer alaw(codes.size() * 2);
  OddBuffer mulaw(codes.size() * 2);
  AlawDecodeBlock(codes.data(), codes.size(), alaw.samples());
  MulawDecodeBlock(codes.data(), codes.size(), mulaw.samples());
  const std::vector<int16_t> alaw_samples = alaw.LoadSamples(codes.size());
  const std::vector<int16_t> mulaw_samples = mulaw.LoadSamples(codes.size());
  for (size_t i = 0; i < codes.size(); ++i) {
    ASSERT_EQ(alaw_samples[i], AlawToPcm(codes[i])) << "A-law code " << int{codes[i]} << " at " << i;
    ASSERT_EQ(mulaw_samples[i], MulawToPcm(codes[i])) << "mu-law code " << int{codes[i]} << " at " << i;
  }
}

TEST(G711Blocks, DecodeLeavesTheSamplesPastTheBlockAlone) {
  const uint8_t codes[40] = {};
  for (size_t count = 0; count <= 40; ++count) {
    std::vector<int16_t> samples(41, 0x1234);
    AlawDecodeBlock(codes, count, samples.data());
    for (size_t i = count; i < samples.size(); ++i) ASSERT_EQ(samples[i], 0x1234) << count << " codes";
  }
}

TEST(G711Blocks, EncodeEverySampleInPlaceLikeTheSampleOperations) {
  const std::vector<int16_t> samples = AllSamples();
  for (auto [encode_block, encode_sample] :
       {std::pair{&AlawEncodeBlock, &PcmToAlaw}, std::pair{&MulawEncodeBlock, &PcmToMulaw}}) {
    OddBuffer separate(samples.size() * 2);
    OddBuffer in_place(samples.size() * 2);
    separate.StoreSamples(samples);
    in_place.StoreSamples(samples);
    std::vector<uint8_t> codes(samples.size());
    ASSERT_EQ(encode_block(separate.samples(), samples.size(), codes.data()), samples.size());
    ASSERT_EQ(encode_block(in_place.samples(), samples.size(), in_place.codes()), samples.size());
    EXPECT_EQ(in_place.LoadCodes(samples.size()), codes);
    for (size_t i = 0; i < samples.size(); ++i)
      ASSERT_EQ(codes[i], encode_sample(samples[i])) << "sample " << samples[i];
  }
}

TEST(AdpcmBlocks, DecodeMatchesTheSampleOperationsAcrossRandomBlockSplits) {
  const uint64_t seed = TestSeed();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> bytes = RandomBytes(rng, 300000);
  // Held codes drive the predictor and the step index to their limits.
  for (size_t i = 100000; i < 200000; ++i) bytes[i] = (i / 3000) % 2 == 0 ? 0x77 : 0xFF;

  AdpcmStream expected;
  std::vector<int16_t> expected_samples;
  for (uint8_t byte : bytes) {
    expected_samples.push_back(AdpcmDecodeSample(expected.state, expected.history, expected.sum, byte >> 4));
    expected_samples.push_back(AdpcmDecodeSample(expected.state, expected.history, expected.sum, byte & 0x0F));
  }

  AdpcmStream blocks;
  OddBuffer out(bytes.size() * 4);
  size_t done = 0;
  while (done < bytes.size()) {
    const size_t count = std::min<size_t>(rng() % 5000, bytes.size() - done);
    AdpcmDecodeBlock(blocks.state, blocks.history, blocks.sum, bytes.data() + done, count, out.samples() + 2 * done);
    done += count;
  }
  const std::vector<int16_t> samples = out.LoadSamples(expected_samples.size());
  for (size_t i = 0; i < samples.size(); ++i) ASSERT_EQ(samples[i], expected_samples[i]) << "sample " << i;
  EXPECT_TRUE(blocks == expected);
}

// Every byte from every step index, at the predictor's limits and between them: the block decoder's tables
// and its one-clamp-per-byte shortcut against the sample operations.
TEST(AdpcmBlocks, DecodeEveryByteFromEveryStepIndex) {
  for (int32_t step_index = 0; step_index <= 48; ++step_index) {
    for (int32_t predictor : {-2048, -2047, -1000, 0, 1000, 2046, 2047}) {
      for (int byte = 0; byte < 256; ++byte) {
        AdpcmStream expected;
        expected.state = {predictor, step_index};
        for (int k = 0; k < DcTrackerLength; ++k) expected.history.ring[k] = (k * 37) % 4096 - 2048;
        for (int32_t value : expected.history.ring) expected.sum += value;
        expected.history.position = step_index % DcTrackerLength;
        AdpcmStream block = expected;
        const int16_t first = AdpcmDecodeSample(expected.state, expected.history, expected.sum, byte >> 4);
        const int16_t second = AdpcmDecodeSample(expected.state, expected.history, expected.sum, byte & 0x0F);
        const auto code = static_cast<uint8_t>(byte);
        int16_t samples[2];
        AdpcmDecodeBlock(block.state, block.history, block.sum, &code, 1, samples);
        ASSERT_EQ(samples[0], first) << "step index " << step_index << ", predictor " << predictor << ", byte " << byte;
        ASSERT_EQ(samples[1], second) << "step index " << step_index << ", predictor " << predictor << ", byte "
                                      << byte;
        ASSERT_TRUE(block == expected) << "step index " << step_index << ", predictor " << predictor << ", byte "
                                       << byte;
      }
    }
  }
}

// The block encoder decides by counting thresholds reached; the sample encoder subtracts step, step/2 and
// step/4 in turn. Every step index, and every difference around the decision thresholds, both signs.
TEST(AdpcmBlocks, EncodeEveryDifferenceAtEveryStepIndex) {
  for (int32_t step_index = 0; step_index <= 48; ++step_index) {
    const int32_t reach = 2 * StepTable[step_index] + 40;
    for (int32_t d = -reach; d <= reach; ++d) {
      // Input x = predictor + d, with x within the encoder's input range and the tracker empty (mean 0).
      const int32_t predictor = -(d / 2);
      const auto sample = static_cast<int16_t>((predictor + d) * 16);
      AdpcmStream expected;
      expected.state = {predictor, step_index};
      AdpcmStream block = expected;
      const uint8_t code = AdpcmEncodeSample(expected.state, expected.history, expected.sum, sample);
      const uint8_t repeat = AdpcmEncodeSample(expected.state, expected.history, expected.sum, sample);
      uint8_t byte = 0;
      AdpcmEncodeBlock(block.state, block.history, block.sum, &sample, 1, &byte);
      ASSERT_EQ(byte, code << 4 | repeat) << "step index " << step_index << ", difference " << d;
      ASSERT_TRUE(block == expected) << "step index " << step_index << ", difference " << d;
    }
  }
}

TEST(AdpcmBlocks, EncodeMatchesTheSampleOperationsAcrossEvenBlockSplits) {
  const uint64_t seed = TestSeed();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  const std::vector<int16_t> samples = MixedSignal(rng, 400000);

  AdpcmStream expected;
  std::vector<uint8_t> expected_codes;
  for (size_t i = 0; i < samples.size(); i += 2) {
    const uint8_t high = AdpcmEncodeSample(expected.state, expected.history, expected.sum, samples[i]);
    const uint8_t low = AdpcmEncodeSample(expected.state, expected.history, expected.sum, samples[i + 1]);
    expected_codes.push_back(static_cast<uint8_t>(high << 4 | low));
  }

  AdpcmStream blocks;
  OddBuffer in(samples.size() * 2);
  in.StoreSamples(samples);
  std::vector<uint8_t> codes(expected_codes.size());
  size_t done = 0;
  while (done < samples.size()) {
    const size_t count = std::min<size_t>(2 * (rng() % 5000), samples.size() - done);
    ASSERT_EQ(
        AdpcmEncodeBlock(blocks.state, blocks.history, blocks.sum, in.samples() + done, count, codes.data() + done / 2),
        count / 2);
    done += count;
  }
  EXPECT_EQ(codes, expected_codes);
  EXPECT_TRUE(blocks == expected);
}

TEST(AdpcmBlocks, EncodeInPlaceGivesTheSameBytesAsASeparateBuffer) {
  const uint64_t seed = TestSeed();
  SCOPED_TRACE(testing::Message() << "seed " << seed);
  std::mt19937_64 rng(seed);
  for (size_t sample_count : {size_t{0}, size_t{1}, size_t{2}, size_t{7}, size_t{8192}, size_t{8193}, size_t{65537}}) {
    const std::vector<int16_t> samples = MixedSignal(rng, sample_count);
    AdpcmStream separate;
    AdpcmStream in_place;
    std::vector<uint8_t> codes((sample_count + 1) / 2);
    OddBuffer in(sample_count * 2);
    in.StoreSamples(samples);
    const size_t separate_count =
        AdpcmEncodeBlock(separate.state, separate.history, separate.sum, in.samples(), sample_count, codes.data());
    const size_t in_place_count =
        AdpcmEncodeBlock(in_place.state, in_place.history, in_place.sum, in.samples(), sample_count, in.codes());
    ASSERT_EQ(separate_count, (sample_count + 1) / 2) << sample_count << " samples";
    ASSERT_EQ(in_place_count, separate_count) << sample_count << " samples";
    EXPECT_EQ(in.LoadCodes(in_place_count), codes) << sample_count << " samples";
    EXPECT_TRUE(in_place == separate) << sample_count << " samples";
  }
}

// An odd last sample is coded twice, so the decoder, which makes two samples of the byte, stays in step.
TEST(AdpcmBlocks, OddLastSampleFillsBothNibblesAndKeepsTheDecoderInStep) {
  const std::vector<int16_t> samples = {1000, -5000, 12000};
  AdpcmStream encoder;
  // Exactly sized, so the sanitizer build sees any read past the last sample.
  auto exact = std::make_unique<int16_t[]>(samples.size());
  std::memcpy(exact.get(), samples.data(), samples.size() * sizeof(int16_t));
  uint8_t codes[2] = {};
  ASSERT_EQ(AdpcmEncodeBlock(encoder.state, encoder.history, encoder.sum, exact.get(), samples.size(), codes), 2u);

  AdpcmStream reference;
  std::vector<uint8_t> nibbles;
  for (int16_t sample : {samples[0], samples[1], samples[2], samples[2]}) {
    nibbles.push_back(AdpcmEncodeSample(reference.state, reference.history, reference.sum, sample));
  }
  EXPECT_EQ(codes[0], nibbles[0] << 4 | nibbles[1]);
  EXPECT_EQ(codes[1], nibbles[2] << 4 | nibbles[3]);
  EXPECT_TRUE(encoder == reference);

  AdpcmStream decoder;
  int16_t decoded[4];
  AdpcmDecodeBlock(decoder.state, decoder.history, decoder.sum, codes, 2, decoded);
  EXPECT_EQ(decoder.state.step_index, encoder.state.step_index);
}

// Every form of the block conversions this processor runs (portable, SSE2, AVX-512BW) against the
// per-sample operations: a random signal and its ADPCM codes (which move through quiet stretches and both
// limits of predictor and step index), random bytes, cut into random blocks; the encoders code in place.
TEST(BlockPaths, EveryFormMatchesTheSampleOperationsOnRandomStreams) {
  const uint64_t seed = TestSeed();
  for (BlockPath path : AllBlockPaths) {
    const BlockFunctions* form = BlockFunctionsFor(path);
    if (form == nullptr) continue;
    std::printf("the %s form\n", form->name);
    SCOPED_TRACE(testing::Message() << form->name << " form, seed " << seed);
    std::mt19937_64 rng(seed);
    const std::vector<int16_t> samples = MixedSignal(rng, 100000);
    std::vector<uint8_t> adpcm_bytes;
    AdpcmStream encoder;
    for (size_t i = 0; i < samples.size(); i += 2) {
      const uint8_t high = AdpcmEncodeSample(encoder.state, encoder.history, encoder.sum, samples[i]);
      const uint8_t low = AdpcmEncodeSample(encoder.state, encoder.history, encoder.sum, samples[i + 1]);
      adpcm_bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    std::vector<uint8_t> random_bytes = RandomBytes(rng, 50000);
    adpcm_bytes.insert(adpcm_bytes.end(), random_bytes.begin(), random_bytes.end());
    // Calls `code(start, count)` on consecutive blocks of random lengths (even ones for the ADPCM encoder,
    // whose odd last sample would count twice), the last one whatever is left.
    const auto in_blocks = [&rng](size_t total, bool even, const auto& code) {
      for (size_t start = 0; start < total;) {
        const size_t count = std::min<size_t>(even ? 2 * (rng() % 700) : rng() % 1400, total - start);
        code(start, count);
        start += count;
      }
    };

    OddBuffer alaw(samples.size() * 2), mulaw(samples.size() * 2), adpcm(samples.size() * 2);
    alaw.StoreSamples(samples);
    mulaw.StoreSamples(samples);
    adpcm.StoreSamples(samples);
    in_blocks(samples.size(), false, [&](size_t start, size_t count) {
      ASSERT_EQ(form->alaw_encode(alaw.samples() + start, count, alaw.codes() + 2 * start), count);
      ASSERT_EQ(form->mulaw_encode(mulaw.samples() + start, count, mulaw.codes() + 2 * start), count);
      for (size_t i = start; i < start + count; ++i) {
        ASSERT_EQ(alaw.codes()[start + i], PcmToAlaw(samples[i])) << "A-law, sample " << i;
        ASSERT_EQ(mulaw.codes()[start + i], PcmToMulaw(samples[i])) << "mu-law, sample " << i;
      }
    });
    AdpcmStream encoded;
    in_blocks(samples.size(), true, [&](size_t start, size_t count) {
      form->adpcm_encode(encoded.state, encoded.history, encoded.sum, adpcm.samples() + start, count,
                         adpcm.codes() + 2 * start);
      for (size_t i = start; i < start + count; i += 2) {
        ASSERT_EQ(adpcm.codes()[2 * start + (i - start) / 2], adpcm_bytes[i / 2]) << "ADPCM, sample " << i;
      }
    });
    EXPECT_TRUE(encoded == encoder);

    for (const auto& coding : {std::pair{form->alaw_decode, &AlawToPcm}, std::pair{form->mulaw_decode, &MulawToPcm}}) {
      OddBuffer out(adpcm_bytes.size() * 2);
      in_blocks(adpcm_bytes.size(), false, [&](size_t start, size_t count) {
        coding.first(adpcm_bytes.data() + start, count, out.samples() + start);
      });
      const std::vector<int16_t> pcm = out.LoadSamples(adpcm_bytes.size());
      for (size_t i = 0; i < pcm.size(); ++i) ASSERT_EQ(pcm[i], coding.second(adpcm_bytes[i])) << "G.711 code " << i;
    }
    AdpcmStream expected, decoded;
    OddBuffer out(adpcm_bytes.size() * 4);
    in_blocks(adpcm_bytes.size(), false, [&](size_t start, size_t count) {
      form->adpcm_decode(decoded.state, decoded.history, decoded.sum, adpcm_bytes.data() + start, count,
                         out.samples() + 2 * start);
    });
    const std::vector<int16_t> pcm = out.LoadSamples(adpcm_bytes.size() * 2);
    for (size_t i = 0; i < adpcm_bytes.size(); ++i) {
      for (int nibble = 0; nibble < 2; ++nibble) {
        const int16_t sample = AdpcmDecodeSample(expected.state, expected.history, expected.sum,
                                                 nibble == 0 ? adpcm_bytes[i] >> 4 : adpcm_bytes[i] & 0x0F);
        ASSERT_EQ(pcm[2 * i + nibble], sample) << "ADPCM, byte " << i << ", nibble " << nibble;
      }
    }
    EXPECT_TRUE(decoded == expected);
  }
}

// Every form writes its block and nothing past it, whatever the block's length against the vector width.
TEST(BlockPaths, EveryFormLeavesTheBytesPastTheBlockAlone) {
  const std::vector<int16_t> samples = AllSamples();
  const std::vector<uint8_t> codes(samples.begin(), samples.begin() + 100);  // the low bytes, any codes
  for (BlockPath path : AllBlockPaths) {
    const BlockFunctions* form = BlockFunctionsFor(path);
    if (form == nullptr) continue;
    for (size_t count = 0; count <= 70; ++count) {
      std::vector<uint8_t> out(2 * count + 8, 0xA5);
      AdpcmStream stream;
      form->alaw_encode(samples.data() + 900 * count, count, out.data());
      form->mulaw_encode(samples.data() + 900 * count, count, out.data());
      form->adpcm_encode(stream.state, stream.history, stream.sum, samples.data() + 900 * count, count, out.data());
      for (size_t k = count; k < out.size(); ++k) ASSERT_EQ(out[k], 0xA5) << form->name << ", " << count << " samples";
      out.assign(4 * count + 8, 0xA5);
      auto* out_samples = reinterpret_cast<int16_t*>(out.data());
      form->alaw_decode(codes.data(), count, out_samples);
      form->mulaw_decode(codes.data(), count, out_samples);
      for (size_t k = 2 * count; k < out.size(); ++k)
        ASSERT_EQ(out[k], 0xA5) << form->name << ", " << count << " codes";
      form->adpcm_decode(stream.state, stream.history, stream.sum, codes.data(), count, out_samples);
      for (size_t k = 4 * count; k < out.size(); ++k)
        ASSERT_EQ(out[k], 0xA5) << form->name << ", " << count << " bytes";
    }
  }
}

// The vector forms take 32 codes at a time from the step index and predictor the codes before them left, and
// leave the vectors that would meet a limit to the scalar chain. From every step index, at, next to and between
// the predictor's limits: runs of small codes (the step index falls), runs that start with one code of each
// larger magnitude (the step index climbs by 2 to 8, up to its limit or one past it), any codes, and the
// smallest steps up and down in turn (the predictor one past a limit and back).
TEST(BlockPaths, DecodeFromEveryStepIndexAndPredictor) {
  for (BlockPath path : AllBlockPaths) {
    const BlockFunctions* form = BlockFunctionsFor(path);
    if (form == nullptr) continue;
    for (int32_t step_index = 0; step_index <= MaxStepIndex; ++step_index) {
      for (int32_t predictor : {-2048, -2047, -1000, 0, 2046, 2047}) {
        for (int pattern = 0; pattern < 9; ++pattern) {
          std::vector<uint8_t> bytes(80);
          for (size_t k = 0; k < bytes.size(); ++k) {
            bytes[k] = static_cast<uint8_t>((k * 0x13 + pattern * 0x35) & (pattern == 6 ? 0xFF : 0xBB));
            if (pattern >= 2 && pattern < 6 && k % 16 == 0) bytes[k] = static_cast<uint8_t>((pattern + 2) << 4);
            if (pattern >= 7) bytes[k] = pattern == 7 ? 0x08 : 0x80;  // the smallest steps up and down in turn
          }
          AdpcmStream expected;
          expected.state = {predictor, step_index};
          for (int k = 0; k < DcTrackerLength; ++k) expected.history.ring[k] = (k * 37) % 4096 - 2048;
          for (int32_t value : expected.history.ring) expected.sum += value;
          AdpcmStream block = expected;
          std::vector<int16_t> samples(2 * bytes.size());
          form->adpcm_decode(block.state, block.history, block.sum, bytes.data(), bytes.size(), samples.data());
          for (size_t i = 0; i < samples.size(); ++i) {
            const uint8_t code = i % 2 == 0 ? bytes[i / 2] >> 4 : bytes[i / 2] & 0x0F;
            ASSERT_EQ(samples[i], AdpcmDecodeSample(expected.state, expected.history, expected.sum, code))
                << form->name << " form, step index " << step_index << ", predictor " << predictor << ", pattern "
                << pattern << ", sample " << i;
          }
          ASSERT_TRUE(block == expected) << form->name << " form, step index " << step_index;
        }
      }
    }
  }
}

}  // namespace
