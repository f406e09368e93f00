// kvox decode and encode with "-" for standard input and output: the same bytes as with files, errors on
// standard error only, and no copy of the input left anywhere however the program ends.
#include <gtest/gtest.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/detect/signals.h"
#include "tests/host/kvox_runner.h"
#include "tests/support/temp_files.h"

namespace {

std::string Made(const std::vector<std::string>& arguments, size_t output_index) {
  EXPECT_EQ(RunKvox(arguments).status, 0);
  return Slurp(arguments[output_index]);
}

TEST(KvoxStreams, DecodeAndEncodeThroughStandardStreamsGiveTheFilesBytes) {
  const std::string wav = testing_files::NewPath(".wav");
  WriteSound(wav, Sound{8000, 1, SpeechLike(3, 8000, TestSeed())});
  const std::string tagged = testing_files::NewPath(".vox"), raw = testing_files::NewPath(".vox");
  const std::string tagged_bytes = Made({"encode", wav, tagged, "--format", "adpcm"}, 2);
  const std::string raw_bytes = Made({"encode", wav, raw, "--format", "ulaw", "--no-header"}, 2);
  const std::string decoded = Made({"decode", tagged, testing_files::NewPath(".wav")}, 2);
  const std::string raw_decoded = Made({"decode", raw, testing_files::NewPath(".wav")}, 2);
  const std::string recoded = Made({"encode", raw, testing_files::NewPath(".vox"), "--format", "alaw"}, 2);

  struct Case {
    std::vector<std::string> arguments;
    const std::string& input;
    const std::string& expected;
  };
  for (const Case& piped :
       {Case{{"decode", "-", "-"}, tagged_bytes, decoded}, Case{{"decode", "-", "-"}, raw_bytes, raw_decoded},
        Case{{"decode", "-", "-", "--format", "ulaw"}, raw_bytes, raw_decoded},
        Case{{"encode", "-", "-", "--format", "adpcm"}, Slurp(wav), tagged_bytes},
        Case{{"encode", "-", "-", "--format", "alaw"}, raw_bytes, recoded}}) {
    const KvoxRun run = RunKvoxPiped(piped.arguments, piped.input);
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_TRUE(run.out == piped.expected) << piped.arguments[0] << ": " << run.out.size() << " bytes";
  }
  // A raw input is still read by its content, and says so.
  const KvoxRun run = RunKvoxPiped({"decode", "-", "-"}, raw_bytes);
  EXPECT_NE(run.err.find("note: standard input: raw; reading it as mu-law"), std::string::npos) << run.err;
  // The plain WAV header on standard output, as in the file: sizes first, audio after.
  EXPECT_EQ(decoded.substr(0, 4) + decoded.substr(8, 8), "RIFFWAVEfmt ");
  EXPECT_EQ(decoded.substr(36, 4), "data");
}

// The copy of a piped input has no name from the start, so not even SIGKILL can leave it behind.
TEST(KvoxStreams, FailuresGoToStandardErrorAndNoCopyOfTheInputOutlivesTheRun) {
  const std::string temporary = NewFolder();
  KvoxRun run = RunKvoxPiped({"decode", "-", "-"}, std::string(4000, 'x'), temporary);
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out, "");
  EXPECT_NE(run.err.find("kvox: standard input: a raw VOX file (no coding tag) whose content does not settle"),
            std::string::npos)
      << run.err;
  run = RunKvoxPiped({"encode", "-", "-", "--format", "alaw"}, "", temporary);
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("kvox: standard input: is empty"), std::string::npos) << run.err;

  bool copy_seen = false;
  run = RunKvoxPiped({"decode", "-", "-"}, "", temporary, [&](int pid) {
    for (int i = 0; i < 20000 && !copy_seen; ++i) {
      std::error_code error;
      for (const auto& entry : std::filesystem::directory_iterator("/proc/" + std::to_string(pid) + "/fd", error)) {
        std::error_code unreadable;
        copy_seen =
            copy_seen || std::filesystem::read_symlink(entry.path(), unreadable).string().starts_with(temporary);
      }
      if (!copy_seen) usleep(100);
    }
    EXPECT_TRUE(Listing(temporary).empty());
    kill(pid, SIGKILL);
  });
  EXPECT_TRUE(copy_seen) << "kvox never held a copy in " << temporary;
  EXPECT_EQ(run.status, -1);
  EXPECT_TRUE(Listing(temporary).empty());
}

}  // namespace
