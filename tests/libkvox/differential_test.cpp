// libkvox gives the plug-in's bytes, whatever path it takes to them: for every coding, tagged and raw, its
// files and its stream codecs, cut at random points, agree with the plug-in's exports driven block by
// block as the editor drives them. The cases run on several threads at once, each with handles of its own.
#include <gtest/gtest.h>
#include <kvox.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/exports.h"
#include "tests/support/temp_files.h"
#include "tests/support/test_seed.h"

namespace {

using testing_files::NewPath;
using testing_files::ReadFile;

// Speech-like samples: a wandering tone with noise, loud stretches and quiet ones, now and then clipped.
std::vector<int16_t> Samples(std::mt19937_64& random, size_t count) {
  std::normal_distribution<double> noise(0, 600);
  std::uniform_real_distribution<double> frequency(120, 3400);
  std::vector<int16_t> samples(count);
  double phase = 0, hz = frequency(random), gain = 8000;
  for (size_t i = 0; i < count; ++i) {
    if (i % 1600 == 0) hz = frequency(random), gain = std::uniform_real_distribution<double>(50, 40000)(random);
    phase += 2 * M_PI * hz / 8000;
    samples[i] = static_cast<int16_t>(std::clamp(gain * std::sin(phase) + noise(random), -32768.0, 32767.0));
  }
  return samples;
}

// Cuts `total` into random pieces, some of them empty, some longer than a block.
std::vector<size_t> Pieces(std::mt19937_64& random, size_t total) {
  std::vector<size_t> pieces;
  std::uniform_int_distribution<size_t> length(0, 20000);
  for (size_t done = 0; done < total;) {
    size_t piece = std::min(total - done, random() % 4 == 0 ? length(random) % 7 : length(random));
    pieces.push_back(piece);
    done += piece;
  }
  return pieces;
}

// The file the plug-in writes from `samples`, handed over in whole blocks and a last partial one.
std::vector<uint8_t> PluginFile(kvox_coding coding, bool tag, std::vector<int16_t> samples) {
  const FilterExports& plugin = Exports();
  const OptionsWord word = static_cast<OptionsWord>(coding) | (tag ? 0 : 0x10);
  int32_t rate = 0, block = 0;
  int16_t bits = 0, channels = 0;
  plugin.GetSuggestedSampleType2(&rate, &bits, &channels, word);
  const std::string path = NewPath(".vox");
  FilterHandle handle = plugin.OpenFilterOutput(path.c_str(), rate, bits, channels, 0, &block, word);
  EXPECT_NE(handle, nullptr);
  for (size_t done = 0; done < samples.size(); done += BlockSize / 2) {
    const size_t count = std::min<size_t>(BlockSize / 2, samples.size() - done);
    plugin.WriteFilterOutput(handle, reinterpret_cast<uint8_t*>(samples.data() + done), static_cast<int32_t>(count * 2));
  }
  plugin.CloseFilterOutput(handle);
  return ReadFile(path);
}

// What the plug-in reads from the file at `path`, a raw one read with `coding`.
std::vector<int16_t> PluginRead(const std::string& path, kvox_coding coding) {
  const FilterExports& plugin = Exports();
  int32_t rate = 0, block = 0;
  int16_t bits = 0, channels = 0;
  FilterHandle handle = plugin.OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block);
  EXPECT_NE(handle, nullptr);
  if (plugin.FilterOptions(handle) == 0) plugin.FilterSetOptions2(handle, static_cast<OptionsWord>(coding), &rate, 0, 0);
  std::vector<int16_t> samples;
  std::vector<int16_t> buffer(BlockSize / 2);
  for (;;) {
    const int32_t got = plugin.ReadFilterInput(handle, reinterpret_cast<uint8_t*>(buffer.data()), BlockSize);
    if (got <= 0) break;
    samples.insert(samples.end(), buffer.begin(), buffer.begin() + got / 2);
  }
  plugin.CloseFilterInput(handle);
  return samples;
}

void CheckOneCase(kvox_coding coding, bool tag, uint64_t seed) {
  std::mt19937_64 random(seed);
  const std::vector<int16_t> samples = Samples(random, 1 + random() % 70000);
  const std::string label = std::string(kvox_coding_alias(coding)) + (tag ? " tagged" : " raw") + ", " +
                            std::to_string(samples.size()) + " samples, seed " + std::to_string(seed);
  const std::vector<uint8_t> expected = PluginFile(coding, tag, samples);

  // kvox_create and kvox_write, in random pieces.
  const std::string path = NewPath(".vox");
  int error = 0;
  kvox_file* writer = kvox_create(path.c_str(), coding, tag ? 0 : KVOX_NO_TAG, &error);
  ASSERT_NE(writer, nullptr) << label;
  size_t done = 0;
  for (size_t piece : Pieces(random, samples.size())) {
    ASSERT_EQ(kvox_write(writer, samples.data() + done, piece), static_cast<int64_t>(piece)) << label;
    done += piece;
  }
  ASSERT_EQ(kvox_close(writer), KVOX_OK) << label;
  EXPECT_EQ(ReadFile(path), expected) << label;

  // The stream encoder, in other random pieces, ended by a flush.
  kvox_encoder* encoder = kvox_encoder_new(coding);
  std::vector<uint8_t> coded(samples.size() + 1);
  size_t coded_bytes = 0;
  done = 0;
  for (size_t piece : Pieces(random, samples.size())) {
    coded_bytes += kvox_encode(encoder, samples.data() + done, piece, coded.data() + coded_bytes);
    done += piece;
  }
  coded_bytes += kvox_encoder_flush(encoder, coded.data() + coded_bytes);
  kvox_encoder_free(encoder);
  coded.resize(coded_bytes);
  EXPECT_EQ(coded, std::vector<uint8_t>(expected.begin() + (tag ? 4 : 0), expected.end())) << label;

  // Reading back: kvox_open and kvox_read in random pieces, and the stream decoder, as the plug-in reads.
  const std::vector<int16_t> decoded = PluginRead(path, coding);
  kvox_info info{};
  kvox_file* reader = kvox_open(path.c_str(), tag ? KVOX_CODING_NONE : coding, &info, &error);
  ASSERT_NE(reader, nullptr) << label;
  EXPECT_EQ(info.frames, static_cast<int64_t>(decoded.size())) << label;
  EXPECT_EQ(info.coding_from, tag ? KVOX_FROM_TAG : KVOX_FROM_NAMED) << label;
  std::vector<int16_t> read(decoded.size() + 10);
  done = 0;
  for (size_t piece : Pieces(random, read.size())) {
    const int64_t got = kvox_read(reader, read.data() + done, piece);
    ASSERT_GE(got, 0) << label;
    done += static_cast<size_t>(got);
  }
  kvox_close(reader);
  read.resize(done);
  EXPECT_EQ(read, decoded) << label;

  kvox_decoder* decoder = kvox_decoder_new(coding);
  std::vector<int16_t> streamed(coded.size() * 2);
  size_t streamed_count = 0;
  done = 0;
  for (size_t piece : Pieces(random, coded.size())) {
    streamed_count += kvox_decode(decoder, coded.data() + done, piece, streamed.data() + streamed_count);
    done += piece;
  }
  kvox_decoder_free(decoder);
  streamed.resize(streamed_count);
  EXPECT_EQ(streamed, decoded) << label;
}

TEST(LibkvoxBytes, FilesAndStreamsGiveThePluginsBytesForEveryCodingTaggedAndRawAcrossRandomSplits) {
  const uint64_t seed = TestSeed();
  std::vector<std::thread> threads;
  for (int coding = 1; coding <= KVOX_CODING_COUNT; ++coding) {
    for (bool tag : {true, false}) {
      threads.emplace_back([=] {
        for (uint64_t round = 0; round < 3; ++round) {
          CheckOneCase(static_cast<kvox_coding>(coding), tag, seed + round * 100 + coding * 2 + tag);
        }
      });
    }
  }
  for (std::thread& thread : threads) thread.join();
}

}  // namespace
