// Inputs and outputs that cannot work: kvox names the file and the reason, exits with 1, and leaves no
// output, no temporary file and no damaged earlier file behind.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/host/kvox_runner.h"
#include "tests/support/temp_files.h"
#include "tests/vox/vox_test_support.h"

namespace {

struct BadInput {
  const char* name;
  const char* command;
  const char* reason;
};

// Each input is made in a fresh folder by MakeBadInput.
constexpr BadInput BadInputs[] = {
    {"missing.wav", "encode", "No such file or directory"},
    {"folder.wav", "encode", "is a folder"},
    {"empty.wav", "encode", "is empty"},
    {"text.wav", "encode", "not an audio file kvox can read: Format not recognised"},
    {"header_cut.wav", "encode", "not an audio file kvox can read"},
    {"pipe.wav", "encode", "not a regular file"},
    {"missing.vox", "decode", "No such file or directory"},
    {"folder.vox", "decode", "is a folder"},
    {"empty.vox", "decode", "is empty"},
    {"text.txt", "decode", "not a VOX file"},
    {"music.wav", "decode", "not a VOX file"},
};

void MakeBadInput(const std::string& path) {
  const std::string name = std::filesystem::path(path).filename();
  if (name.starts_with("folder")) std::filesystem::create_directory(path);
  if (name.starts_with("pipe")) mkfifo(path.c_str(), 0644);
  if (name.starts_with("empty")) std::ofstream(path).flush();
  if (name.starts_with("text")) std::ofstream(path) << "Minutes of the meeting, not audio.\n";
  if (name == "header_cut.wav" || name == "music.wav") {
    WriteSound(path, Sound{8000, 1, TestSignal(4000)});
    if (name == "header_cut.wav") std::filesystem::resize_file(path, 30);
  }
}

TEST(KvoxFailures, BadInputsAreNamedWithTheirReasonAndLeaveNothingBehind) {
  for (const BadInput& bad : BadInputs) {
    const std::string folder = NewFolder();
    const std::string input = folder + "/" + bad.name;
    MakeBadInput(input);
    const bool encoding = std::string(bad.command) == "encode";
    const std::string output = folder + (encoding ? "/out.vox" : "/out.wav");
    std::vector<std::string> arguments = {bad.command, input, output};
    if (encoding) arguments.insert(arguments.end(), {"--format", "alaw"});
    if (!encoding) arguments.insert(arguments.end(), {"--format", "ulaw"});

    KvoxRun run = RunKvox(arguments);
    EXPECT_EQ(run.status, 1) << bad.name;
    EXPECT_NE(run.err.find(input + ": "), std::string::npos) << bad.name << ": " << run.err;
    EXPECT_NE(run.err.find(bad.reason), std::string::npos) << bad.name << ": " << run.err;
    EXPECT_FALSE(Exists(output)) << bad.name;
    EXPECT_EQ(Listing(folder).size(), Exists(input) ? 1u : 0u) << bad.name << ": a temporary file was left";
  }
}

TEST(KvoxFailures, AFailedRunKeepsTheEarlierOutputAndAGoodOneReplacesIt) {
  const std::string folder = NewFolder();
  const std::string output = folder + "/message.vox";
  { std::ofstream(output) << "an earlier recording"; }
  chmod(output.c_str(), 0640);
  const std::string bad = folder + "/bad.wav";
  { std::ofstream(bad) << "not audio"; }
  EXPECT_EQ(RunKvox({"encode", bad, output, "--format", "alaw"}).status, 1);
  EXPECT_EQ(Slurp(output), "an earlier recording");

  const std::string good = folder + "/good.wav";
  WriteSound(good, Sound{8000, 1, TestSignal(100)});
  EXPECT_EQ(RunKvox({"encode", good, output, "--format", "alaw"}).status, 0);
  EXPECT_EQ(Slurp(output).size(), 104u);
  struct stat info {};
  stat(output.c_str(), &info);
  EXPECT_EQ(info.st_mode & 0777, 0640u) << "the replaced file's permissions are kept";
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"bad.wav", "good.wav", "message.vox"}));
}

// A WAV file cut inside its audio still codes as far as it goes, with a note, since what it holds is good.
TEST(KvoxFailures, AWavFileCutInsideItsAudioIsCodedAsFarAsItGoesWithANote) {
  const std::string folder = NewFolder();
  const std::string input = folder + "/cut.wav", output = folder + "/cut.vox";
  WriteSound(input, Sound{8000, 1, TestSignal(8000)});
  std::filesystem::resize_file(input, 44 + 2 * 5000);
  KvoxRun run = RunKvox({"encode", input, output, "--format", "ulaw"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find(input + ": cut off"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(output).size(), 4u + 5000u);
}

TEST(KvoxFailures, AnOutputFolderThatTakesNoFilesIsReported) {
  const std::string folder = NewFolder();
  const std::string input = folder + "/in.wav", vox = folder + "/in.vox";
  WriteSound(input, Sound{8000, 1, TestSignal(1000)});
  ASSERT_EQ(RunKvox({"encode", input, vox, "--format", "adpcm"}).status, 0);
  const std::string locked = folder + "/locked";
  std::filesystem::create_directory(locked);
  chmod(locked.c_str(), 0555);

  KvoxRun run = RunKvox({"encode", input, folder + "/no/such/folder/out.vox", "--format", "alaw"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("No such file or directory"), std::string::npos) << run.err;
  run = RunKvox({"encode", input, locked, "--format", "alaw"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(locked + ": is a folder"), std::string::npos) << run.err;

  // Root writes anywhere, so then kvox runs as nobody, who must be able to reach the program and the files.
  if (RunKvox({"info", vox}, /*unprivileged=*/true).status != 0) {
    GTEST_SKIP() << "the user nobody cannot run " << KVOX_PROGRAM << " on files in " << folder;
  }
  for (const auto& [command, input_path, output] :
       {std::tuple{"encode", input, locked + "/out.vox"}, std::tuple{"decode", vox, locked + "/out.wav"}}) {
    std::vector<std::string> arguments = {command, input_path, output};
    if (std::string(command) == "encode") arguments.insert(arguments.end(), {"--format", "adpcm"});
    run = RunKvox(arguments, /*unprivileged=*/true);
    EXPECT_EQ(run.status, 1) << command;
    EXPECT_NE(run.err.find(output + ": cannot create a file in " + locked + ": Permission denied"), std::string::npos)
        << command << ": " << run.err;
  }
  EXPECT_TRUE(Listing(locked).empty());
}

// /dev/full takes the file's creation but no byte: the tag, a coded block or a WAV header must each fail
// the run. It is not a regular file, so kvox writes it directly and leaves no temporary name in /dev.
TEST(KvoxFailures, AFullDeviceIsAnErrorNotAShortFile) {
  const std::string folder = NewFolder();
  const std::string input = folder + "/in.wav", vox = folder + "/in.vox";
  WriteSound(input, Sound{8000, 1, TestSignal(20000)});
  ASSERT_EQ(RunKvox({"encode", input, vox, "--format", "alaw"}).status, 0);

  KvoxRun run = RunKvox({"encode", input, "/dev/full", "--format", "alaw"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/dev/full: the plug-in cannot create it or write its tag: No space left on device"),
            std::string::npos)
      << run.err;
  run = RunKvox({"encode", input, "/dev/full", "--format", "adpcm", "--no-header"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/dev/full: writing failed after 0 samples"), std::string::npos) << run.err;
  run = RunKvox({"decode", vox, "/dev/full"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("/dev/full: "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;

  for (const std::string& name : Listing("/dev")) EXPECT_EQ(name.find("kvox-"), std::string::npos) << name;
  // A device that takes everything is written directly too.
  EXPECT_EQ(RunKvox({"encode", input, "/dev/null", "--format", "ulaw"}).status, 0);
}

// SIGTERM while the output is being written: the temporary file goes with the program.
TEST(KvoxFailures, AnInterruptedRunLeavesNoTemporaryFile) {
  const std::string folder = NewFolder();
  const std::string input = folder + "/long.wav", output = folder + "/long.vox";
  Sound long_input{48000, 2, {}};
  std::vector<int16_t> second = Tone(96000, 96000, 440, 8000);  // one second of interleaved stereo
  for (int i = 0; i < 90; ++i) long_input.samples.insert(long_input.samples.end(), second.begin(), second.end());
  WriteSound(input, long_input);

  StartedKvox started = StartKvox({"encode", input, output, "--format", "adpcm24"});
  bool seen = false;
  for (int i = 0; i < 50000 && !seen; ++i) {
    for (const std::string& name : Listing(folder)) seen = seen || name.find(".kvox-") != std::string::npos;
    if (!seen) usleep(100);
  }
  kill(started.pid, SIGTERM);
  KvoxRun run = FinishKvox(started);
  if (!seen || run.status == 0) GTEST_SKIP() << "kvox finished before it could be interrupted";
  EXPECT_EQ(run.status, -1) << run.err;
  EXPECT_EQ(Listing(folder), (std::vector<std::string>{"long.wav"}));
}

}  // namespace
