// Files longer than 32-bit sizes hold: no output ever wraps its sizes, and info gives their exact length. The long inputs are sparse files, so no test writes gigabytes.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "host/audio_file.h"
#include "host/standard_streams.h"
#include "tests/host/kvox_runner.h"
#include "tests/support/temp_files.h"

namespace {

std::string SparseVox(const std::string& folder, const std::string& tag, uintmax_t bytes) {
  const std::string path = folder + "/" + tag + ".vox";
  std::ofstream(path) << tag;
  std::filesystem::resize_file(path, bytes);
  return path;
}

TEST(KvoxLongFiles, OutputsThatCannotHoldTheAudioFailBeforeTheyAreMadeAndInfoIsExact) {
  const std::string folder = NewFolder();
  const std::string past_2_gib = SparseVox(folder, "064A", 1'200'000'000);  // 2.4 GB of PCM
  const std::string past_4_gib = SparseVox(folder, "032D", 4'400'000'000);  // the plug-in cannot measure it
  for (const auto& [input, command, output, reason] :
       {std::tuple{past_2_gib, "decode", folder + "/out.aiff", "too long for a .aiff file"},
        std::tuple{past_4_gib, "decode", folder + "/out.au", "too long for a .au file"},
        std::tuple{past_4_gib, "encode", folder + "/out.vox", "too long for a VOX file"}}) {
    std::vector<std::string> arguments = {command, input, output};
    if (std::string(command) == "encode") arguments.insert(arguments.end(), {"--format", "alaw"});
    const KvoxRun run = RunKvox(arguments);
    EXPECT_EQ(run.status, 1);
    EXPECT_NE(run.err.find(output + ": " + reason), std::string::npos) << run.err;
  }
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"032D.vox", "064A.vox"}));

  KvoxRun run = RunKvox({"info", past_2_gib, past_4_gib});
  EXPECT_NE(run.out.find(past_2_gib + ": tagged 064A, Kestrovan 64KB A-Law, 8000 Hz, 150000.000 s, 2399999992 bytes"),
            std::string::npos)
      << run.out;
  run = RunKvox({"info", "--json", past_4_gib});
  EXPECT_NE(run.out.find("\"decoded_bytes\": 17599999984, \"duration_at_least\": false"), std::string::npos) << run.out;
}

TEST(KvoxLongFiles, AWavOutputPastWhat32BitSizesHoldIsRF64) {
  const int wav = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
  const int64_t largest = (0xFFFFFFFFLL - 36) / 4;  // stereo frames whose RIFF size still fits
  EXPECT_EQ(FormatForLength(wav, 2, largest, "out.wav"), wav);
  EXPECT_EQ(FormatForLength(wav, 2, largest + 1, "out.wav"), SF_FORMAT_RF64 | SF_FORMAT_PCM_16);
  EXPECT_THROW(FormatForLength(SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 1, largest, "out.aiff"), std::runtime_error);

  // The RF64 header kvox writes to standard output, with the audio cut short: libsndfile takes it as RF64.
  const std::string path = testing_files::NewPath(".wav");
  std::ofstream(path, std::ios::binary) << WavHeader(8000, 1, int64_t{3} << 31) << std::string(2000, '\0');
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  ASSERT_NE(file, nullptr) << sf_strerror(nullptr);
  EXPECT_EQ(info.format & SF_FORMAT_TYPEMASK, SF_FORMAT_RF64);
  EXPECT_EQ(info.frames, 1000);
  sf_close(file);
}

// Should a source give more than it announced, the writer stops before the frame that would not fit.
TEST(KvoxLongFiles, AWriterRefusesTheFramesItsTypeCannotDescribe) {
  const std::string path = testing_files::NewPath(".aiff");
  const std::vector<int16_t> samples(60, 1000);
  SoundWriter writer(path, path, SF_FORMAT_AIFF | SF_FORMAT_PCM_16, 8000, 1, /*largest_frames=*/100);
  writer.WriteShorts(samples.data(), 60);
  EXPECT_THROW(writer.WriteShorts(samples.data(), 60), std::runtime_error);
  writer.Finish();
  EXPECT_EQ(ReadSound(path).samples.size(), 60u);
}

}  // namespace
