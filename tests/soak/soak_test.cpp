// Thousands of files saved, recognised, read and removed in a loop, with several inputs held open at once:
// afterwards the process holds exactly what it held before, and each file can be removed as soon as it is
// closed (under Windows a file with a handle still open on it cannot be).
#include <gtest/gtest.h>

#include <cstdlib>
#include <iterator>
#include <string>
#include <vector>

#include "tests/soak/soak_support.h"
#include "tests/support/temp_files.h"

namespace {

struct SavedFormat {
  OptionsWord word;
  int32_t rate;
};
constexpr SavedFormat Formats[] = {{1, 8000}, {2, 6000},    {3, 8000},    {4, 6000}, {5, 8000},
                                   {6, 6000}, {0x15, 8000}, {0x12, 6000}, {7, 44100}};
constexpr size_t FormatCount = std::size(Formats);
constexpr size_t BlockBytes[] = {BlockSize, 4096, 1000};
constexpr int32_t RequestBytes[] = {BlockSize, 16383, 4000, 6};
constexpr size_t SignalSamples = 9001;  // odd: the last ADPCM byte has an unpaired sample

int SoakRounds() {
  const char* text = std::getenv("KVOX_SOAK_ROUNDS");
  return text != nullptr && *text != '\0' ? std::atoi(text) : KVOX_SOAK_ROUNDS;
}

}  // namespace

TEST(Soak, ThousandsOfFilesLeaveNothingOpenOrAllocated) {
  const FilterExports& e = SoakExports();
  const int rounds = SoakRounds();
  std::vector<std::vector<uint8_t>> first_file(FormatCount), first_pcm(FormatCount);

  // The first pass over the formats records what every later round must reproduce, and lets the runtime
  // make whatever it makes once before the count is taken.
  for (size_t f = 0; f < FormatCount; ++f) {
    std::string path = testing_files::NewPath(".vox");
    ASSERT_GE(SaveSamples(path, Formats[f].word, Formats[f].rate, SoakSignal(SignalSamples, f), BlockSize), 0);
    first_file[f] = testing_files::ReadFile(path);
    first_pcm[f] = LoadPcm(path, Formats[f].word, BlockSize);
    ASSERT_TRUE(RemoveFile(path));
  }
  const HeldResources before = CountHeldResources();

  for (int round = 0; round < rounds; ++round) {
    const size_t f = static_cast<size_t>(round) % FormatCount;
    const std::string where = "round " + std::to_string(round) + ", word " + std::to_string(Formats[f].word);
    const std::string path = testing_files::NewPath(".vox");
    const size_t block_bytes = BlockBytes[static_cast<size_t>(round) % std::size(BlockBytes)];
    const int32_t request_bytes = RequestBytes[static_cast<size_t>(round / 3) % std::size(RequestBytes)];

    ASSERT_GE(SaveSamples(path, Formats[f].word, Formats[f].rate, SoakSignal(SignalSamples, f), block_bytes), 0)
        << where;
    ASSERT_EQ(e.FilterUnderstandsFormat(path.c_str()), 1) << where;
    if (round % 50 == 0) {
      ASSERT_EQ(testing_files::ReadFile(path), first_file[f]) << where;
    }
    ASSERT_EQ(LoadPcm(path, Formats[f].word, request_bytes), first_pcm[f]) << where;

    if (round % 10 == 0) {
      // Several inputs on one file at once, each read a little and closed in another order.
      std::vector<FilterHandle> inputs;
      for (int k = 0; k < 8; ++k) {
        int32_t rate = 0, block_size = 0;
        int16_t bits = 0, channels = 0;
        inputs.push_back(e.OpenFilterInput(path.c_str(), &rate, &bits, &channels, 0, &block_size));
        ASSERT_NE(inputs.back(), nullptr) << where;
        std::vector<uint8_t> block(BlockSize);
        e.ReadFilterInput(inputs.back(), block.data(), 100 * (k + 1));
      }
      for (size_t k = 0; k < inputs.size(); ++k) e.CloseFilterInput(inputs[(k * 5) % inputs.size()]);
    }
    ASSERT_TRUE(RemoveFile(path)) << where << ": the file is still held open";

    if (round % 250 == 0) {
      ASSERT_EQ(CountHeldResources(), before) << where << ": " << Describe(CountHeldResources());
    }
  }
  EXPECT_EQ(CountHeldResources(), before)
      << "now " << Describe(CountHeldResources()) << ", before " << Describe(before);
}
