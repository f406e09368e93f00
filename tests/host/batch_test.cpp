// kvox convert over files and folders: it carries on past bad files, reports them and fails at the end,
// keeps the folder layout, refuses to overwrite inputs, and gives the same bytes whatever the parallelism.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "tests/host/kvox_runner.h"
#include "tests/vox/vox_test_support.h"

namespace {

TEST(KvoxConvert, CarriesOnPastBadFilesNamesThemAndFailsAtTheEnd) {
  const std::string in = NewFolder(), out = NewFolder() + "/made";
  std::filesystem::create_directories(in + "/calls/monday");
  WriteSound(in + "/a.wav", Sound{8000, 1, TestSignal(8000, 1)});
  WriteSound(in + "/b.flac", Sound{16000, 2, TestSignal(16000, 2)});
  WriteSound(in + "/calls/monday/c.wav", Sound{6000, 1, TestSignal(3000, 3)});
  { std::ofstream(in + "/calls/notes.wav") << "not audio"; }
  std::ofstream(in + "/calls/empty.wav").flush();
  std::ofstream(in + "/.hidden.wav").flush();  // skipped inside folders
  const std::string missing = in + "/missing.wav";

  KvoxRun run = RunKvox({"convert", "--to", "adpcm24", "-o", out, in, missing});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("converted 3 of 6 files"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("3 failed"), std::string::npos) << run.out;
  for (const std::string& bad : {in + "/calls/notes.wav: not an audio file", in + "/calls/empty.wav: is empty",
                                 missing + ": No such file or directory"}) {
    EXPECT_NE(run.err.find(bad), std::string::npos) << bad << "\n" << run.err;
  }
  EXPECT_EQ(run.err.find('\r'), std::string::npos) << "no progress bar off a terminal";

  EXPECT_EQ(Listing(out), (std::vector<std::string>{"a.vox", "b.vox", "calls"}));
  EXPECT_EQ(Listing(out + "/calls"), (std::vector<std::string>{"monday"}));
  EXPECT_EQ(Slurp(out + "/a.vox").substr(0, 4), "024D");
  EXPECT_EQ(Slurp(out + "/a.vox").size(), 4u + 6000 / 2);
  EXPECT_EQ(Slurp(out + "/calls/monday/c.vox").size(), 4u + 3000 / 2);

  // Back to WAV: VOX inputs go through the plug-in. A raw one is read as its content says, unless --from
  // names its coding; one whose content settles nothing fails with the --from values to try.
  std::filesystem::copy_file(out + "/a.vox", out + "/calls/a_copy.vox");
  const std::string raw = in + "/raw.vox", unclear = in + "/unclear.vox";
  ASSERT_EQ(RunKvox({"encode", in + "/a.wav", raw, "--format", "alaw", "--no-header"}).status, 0);
  {
    std::ofstream text(unclear);
    for (int line = 0; line < 20; ++line) text << "Minutes of the meeting, not audio, on no account.\n";
  }
  const std::string wavs = NewFolder();
  run = RunKvox({"convert", "--to", "wav", "-o", wavs, out + "/calls", raw, unclear});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("converted 3 of 4 files"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find(unclear + ": a raw VOX file"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("--from alaw48"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("note: " + raw + ": raw; reading it as A-law"), std::string::npos) << run.err;
  const std::string detected = Slurp(wavs + "/raw.wav");
  run = RunKvox({"convert", "--to", "WAV", "--from", "alaw", "-o", wavs, out + "/calls", raw});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(run.err.find("reading it as"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(wavs + "/raw.wav"), detected);
  EXPECT_EQ(Listing(wavs), (std::vector<std::string>{"a_copy.wav", "monday", "raw.wav"}));
  EXPECT_EQ(ReadSound(wavs + "/raw.wav").samples.size(), 8000u);
  EXPECT_EQ(ReadSound(wavs + "/monday/c.wav").rate_hz, 6000);
}

// Run as nobody, so that permissions hold even for root.
TEST(KvoxConvert, ReportsEveryEntryItCannotReadAsAFailedFile) {
  const std::string in = NewFolder(), out = NewFolder();
  chmod(out.c_str(), 0777);
  WriteSound(in + "/a.wav", Sound{8000, 1, TestSignal(800)});
  WriteSound(in + "/secret.wav", Sound{8000, 1, TestSignal(800)});
  chmod((in + "/secret.wav").c_str(), 0);
  std::filesystem::create_directory(in + "/locked");
  WriteSound(in + "/locked/b.wav", Sound{8000, 1, TestSignal(800)});
  chmod((in + "/locked").c_str(), 0);
  std::filesystem::create_symlink(in + "/missing.wav", in + "/gone.wav");
  std::filesystem::create_symlink("loop2.wav", in + "/loop1.wav");
  std::filesystem::create_symlink("loop1.wav", in + "/loop2.wav");
  std::filesystem::create_directory_symlink(in, in + "/up");  // a loop of folders, never walked
  mkfifo((in + "/pipe.wav").c_str(), 0644);

  KvoxRun run = RunKvox({"convert", "--to", "alaw", "-o", out, in}, /*unprivileged=*/true);
  chmod((in + "/locked").c_str(), 0755);
  if (run.status == 126 || run.status == 125) GTEST_SKIP() << "the user nobody cannot run kvox here";
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("converted 1 of 7 files"), std::string::npos) << run.out;
  for (const std::string& failure :
       {in + "/secret.wav: Permission denied", in + "/locked: cannot list the folder: Permission denied",
        in + "/gone.wav: a symbolic link to nothing",
        in + "/loop1.wav: a symbolic link that cannot be followed: Too many levels of symbolic links",
        in + "/loop2.wav: a symbolic link", in + "/pipe.wav: not a regular file"}) {
    EXPECT_NE(run.err.find(failure), std::string::npos) << failure << "\n" << run.err;
  }
  EXPECT_EQ(Listing(out), (std::vector<std::string>{"a.vox"}));
}

TEST(KvoxConvert, TwoJobsMakeTheSameBytesAsOne) {
  const std::string in = NewFolder();
  const int rates[] = {8000, 6000, 11025, 44100, 16000, 8000, 22050, 48000};
  for (int i = 0; i < 8; ++i) {
    WriteSound(in + "/take" + std::to_string(i) + ".wav",
               Sound{rates[i], 1 + i % 2, TestSignal(static_cast<size_t>(rates[i]) * (1 + i % 3), i + 1u)});
  }
  for (const char* code : {"adpcm", "alaw48"}) {
    const std::string one = NewFolder(), two = NewFolder();
    ASSERT_EQ(RunKvox({"convert", "--to", code, "-j", "1", "-o", one, in}).status, 0);
    KvoxRun run = RunKvox({"convert", "--to", code, "-j", "2", "-o", two, in});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("converted 8 of 8 files"), std::string::npos) << run.out;
    ASSERT_EQ(Listing(one).size(), 8u);
    for (const std::string& name : Listing(one)) EXPECT_EQ(Slurp(one + "/" + name), Slurp(two + "/" + name)) << name;
  }
}

TEST(KvoxConvert, NeverOverwritesAnInputOrOneOutputWithAnother) {
  const std::string in = NewFolder();
  WriteSound(in + "/greeting.wav", Sound{8000, 1, TestSignal(800)});
  WriteSound(in + "/greeting.flac", Sound{8000, 1, TestSignal(900)});
  const std::string before = Slurp(in + "/greeting.wav");

  KvoxRun run = RunKvox({"convert", "--to", "wav", "-o", in, in + "/greeting.wav"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("the output would replace the input"), std::string::npos) << run.err;
  EXPECT_EQ(Slurp(in + "/greeting.wav"), before);

  const std::string out = NewFolder();
  run = RunKvox({"convert", "--to", "ulaw", "-o", out, in});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(in + "/greeting.wav: its output " + out + "/greeting.vox is already made from " + in +
                         "/greeting.flac"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(Slurp(out + "/greeting.vox").size(), 4u + 900u);
}

TEST(KvoxConvert, ShowsProgressOnATerminal) {
  const std::string in = NewFolder(), out = NewFolder();
  for (int i = 0; i < 4; ++i) WriteSound(in + "/n" + std::to_string(i) + ".wav", Sound{8000, 1, TestSignal(8000)});
  KvoxRun run = RunKvoxOnTerminal({"convert", "--to", "alaw", "-j", "2", "-o", out, in});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("4/4 files"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("h audio  ETA "), std::string::npos) << run.err;
  EXPECT_NE(run.err.find("\r\033[K"), std::string::npos) << "the bar redraws in place and is cleared at the end";
  EXPECT_EQ(Listing(out).size(), 4u);
}

}  // namespace
