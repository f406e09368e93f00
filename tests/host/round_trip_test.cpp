// Audio through kvox encode and kvox decode: quality per coding, exactness against the codec itself,
// mixing and rate conversion, raw files, and what info and formats report.
#include <gtest/gtest.h>
#include <sndfile.h>

#include <cstdio>
#include <string>
#include <vector>

#include "codec/blocks.h"
#include "tests/host/kvox_runner.h"
#include "tests/support/temp_files.h"
#include "tests/vox/vox_test_support.h"

namespace {

struct CodingCase {
  const char* alias;
  int rate_hz;
  double snr_floor_db;  // measured on a 1020 Hz tone at a quarter of full scale, less about 1 dB
};

// Measured with this test (the values print on each run): G.711 reaches 37.4 to 38.8 dB, its theoretical
// ~38 dB for a mid-level sine; ADPCM reaches 22.5 dB at 8000 Hz and 19.4 dB at 6000 Hz, where the same tone
// moves further between samples.
constexpr CodingCase Codings[] = {
    {"alaw", 8000, 36.5},   {"alaw48", 6000, 36.5}, {"ulaw", 8000, 36.5},
    {"ulaw48", 6000, 36.5}, {"adpcm", 8000, 21.5},  {"adpcm24", 6000, 18.5},
};

std::vector<int16_t> EncodeAndDecode(const Sound& source, const std::string& code, const std::string& extra = "") {
  std::string input = testing_files::NewPath(".wav");
  std::string vox = testing_files::NewPath(".vox");
  std::string decoded = testing_files::NewPath(".wav");
  WriteSound(input, source);
  std::vector<std::string> encode = {"encode", input, vox, "--format", code};
  if (!extra.empty()) encode.push_back(extra);
  KvoxRun run = RunKvox(encode);
  EXPECT_EQ(run.status, 0) << run.err;
  run = RunKvox({"decode", vox, decoded, "--format", code});
  EXPECT_EQ(run.status, 0) << run.err;
  return ReadSound(decoded).samples;
}

// 1020 Hz, as telephone test tones are, so that the tone's period does not divide the sampling grid
// and the coding error spreads like noise instead of repeating on a few sample values.
constexpr double ToneHz = 1020;

TEST(KvoxRoundTrip, EveryCodingKeepsAMidLevelToneAboveItsFloor) {
  for (const CodingCase& coding : Codings) {
    Sound tone{coding.rate_hz, 1, Tone(static_cast<size_t>(coding.rate_hz) * 2, coding.rate_hz, ToneHz, 8192)};
    std::vector<int16_t> decoded = EncodeAndDecode(tone, coding.alias);
    ASSERT_EQ(decoded.size(), tone.samples.size()) << coding.alias;
    // The first quarter second lets ADPCM's step size and DC tracker settle.
    double snr_db = ToneSnrDb(decoded, coding.rate_hz, ToneHz, static_cast<size_t>(coding.rate_hz / 4));
    std::printf("%-8s %5d Hz: SNR %.2f dB\n", coding.alias, coding.rate_hz, snr_db);
    EXPECT_GE(snr_db, coding.snr_floor_db) << coding.alias;
  }
}

// A mono 16-bit file at the coding's rate reaches the plug-in sample for sample, across block boundaries
// and with an odd sample count: the file is exactly what the codec makes of those samples.
TEST(KvoxRoundTrip, MonoSixteenBitAtTheCodingRateIsCodedExactly) {
  Sound source{8000, 1, TestSignal(3 * 8192 + 1001)};
  std::string input = testing_files::NewPath(".wav");
  WriteSound(input, source);
  const size_t count = source.samples.size();

  std::vector<uint8_t> alaw(count), ulaw(count), adpcm((count + 1) / 2);
  AlawEncodeBlock(source.samples.data(), count, alaw.data());
  MulawEncodeBlock(source.samples.data(), count, ulaw.data());
  AdpcmState state{};
  DcHistory history{};
  int32_t sum = 0;
  AdpcmEncodeBlock(state, history, sum, source.samples.data(), count, adpcm.data());

  struct Expected {
    const char* code;
    const char* tag;
    const std::vector<uint8_t>& bytes;
  };
  for (const Expected& expected :
       {Expected{"064a", "064A", alaw}, Expected{"ULAW", "064U", ulaw}, Expected{"adpcm", "032D", adpcm}}) {
    std::string tagged = testing_files::NewPath(".vox");
    std::string raw = testing_files::NewPath(".vox");
    ASSERT_EQ(RunKvox({"encode", input, tagged, "--format", expected.code}).status, 0);
    ASSERT_EQ(RunKvox({"encode", input, raw, "--format", expected.code, "--no-header"}).status, 0);
    std::string body(expected.bytes.begin(), expected.bytes.end());
    EXPECT_EQ(Slurp(tagged), expected.tag + body) << expected.code;
    EXPECT_EQ(Slurp(raw), body) << expected.code;
  }

  // Decoding writes what the codec gives for those bytes.
  std::string vox = testing_files::NewPath(".vox");
  std::string decoded = testing_files::NewPath(".wav");
  ASSERT_EQ(RunKvox({"encode", input, vox, "--format", "alaw"}).status, 0);
  ASSERT_EQ(RunKvox({"decode", vox, decoded}).status, 0);
  std::vector<int16_t> expected_samples(count);
  AlawDecodeBlock(alaw.data(), count, expected_samples.data());
  Sound sound = ReadSound(decoded);
  EXPECT_EQ(sound.rate_hz, 8000);
  EXPECT_EQ(sound.samples, expected_samples);
}

// Float samples at the coding's rate are scaled to 16 bits, not read as the tiny integers they are: a float
// WAV of k / 32768 codes exactly as the 16-bit WAV of k.
TEST(KvoxRoundTrip, FloatSamplesAtTheCodingRateAreScaledLikeEveryOtherFloat) {
  const std::string folder = NewFolder();
  const std::vector<int16_t> samples = TestSignal(20000);
  WriteSound(folder + "/short.wav", Sound{8000, 1, samples});
  SF_INFO info{};
  info.samplerate = 8000;
  info.channels = 1;
  info.format = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
  SNDFILE* file = sf_open((folder + "/float.wav").c_str(), SFM_WRITE, &info);
  ASSERT_NE(file, nullptr);
  std::vector<float> floats(samples.begin(), samples.end());
  for (float& value : floats) value /= 32768.0f;
  sf_writef_float(file, floats.data(), static_cast<sf_count_t>(floats.size()));
  sf_close(file);
  for (const char* name : {"short", "float"}) {
    ASSERT_EQ(RunKvox({"encode", folder + "/" + name + ".wav", folder + "/" + name + ".vox", "--format", "alaw"}).status,
              0);
  }
  EXPECT_EQ(Slurp(folder + "/float.vox"), Slurp(folder + "/short.vox"));
}

// Left = a + b and right = a - b mix down to a alone, at a's level; keeping one channel, or summing without
// averaging, would show b or double a.
TEST(KvoxRoundTrip, StereoAt44100IsMixedDownAndConvertedToTheCodingRate) {
  const int rate = 44100;
  const size_t frames = rate * 3 / 2;
  std::vector<int16_t> a = Tone(frames, rate, 500, 9000), b = Tone(frames, rate, 1300, 9000);
  Sound stereo{rate, 2, {}};
  for (size_t i = 0; i < frames; ++i) {
    stereo.samples.push_back(static_cast<int16_t>(a[i] + b[i]));
    stereo.samples.push_back(static_cast<int16_t>(a[i] - b[i]));
  }
  std::vector<int16_t> decoded = EncodeAndDecode(stereo, "ulaw48");
  EXPECT_NEAR(static_cast<double>(decoded.size()), 1.5 * 6000, 2);
  const size_t skip = 600;  // past the resampler's start
  std::vector<int16_t> middle(decoded.begin(), decoded.end() - 600);
  EXPECT_NEAR(ToneAmplitude(middle, 6000, 500, skip), 9000, 9000 * 0.02);
  EXPECT_GT(ToneSnrDb(middle, 6000, 500, skip), 30);
}

TEST(KvoxRoundTrip, ARawFileReadsLikeTheTaggedOneWhetherItsCodingIsNamedOrDetected) {
  Sound source{8000, 1, TestSignal(20000)};
  std::string input = testing_files::NewPath(".wav");
  WriteSound(input, source);
  std::string tagged = testing_files::NewPath(".vox"), raw = testing_files::NewPath(".vox");
  ASSERT_EQ(RunKvox({"encode", input, tagged, "--format", "adpcm"}).status, 0);
  ASSERT_EQ(RunKvox({"encode", input, raw, "--format", "adpcm", "--no-header"}).status, 0);

  std::string named = testing_files::NewPath(".wav"), detected = testing_files::NewPath(".wav");
  std::string from_tagged = testing_files::NewPath(".wav");
  ASSERT_EQ(RunKvox({"decode", raw, named, "--format", "032d"}).status, 0);
  ASSERT_EQ(RunKvox({"decode", raw, detected}).status, 0);
  // A tag decides whatever --format says; kvox says so.
  KvoxRun run = RunKvox({"decode", tagged, from_tagged, "--format", "alaw"});
  ASSERT_EQ(run.status, 0);
  EXPECT_NE(run.err.find("note: " + tagged + ": tagged 032D"), std::string::npos) << run.err;
  EXPECT_EQ(ReadSound(named).samples, ReadSound(from_tagged).samples);
  EXPECT_EQ(ReadSound(detected).samples, ReadSound(from_tagged).samples);
  EXPECT_EQ(ReadSound(named).samples.size(), 20000u);
}

TEST(KvoxInfo, ReportsWhatThePluginSaysOfTaggedAndRawFiles) {
  Sound source{6000, 1, TestSignal(6000)};
  std::string input = testing_files::NewPath(".wav");
  WriteSound(input, source);
  std::string tagged = testing_files::NewPath(".vox"), raw = testing_files::NewPath(".vox");
  ASSERT_EQ(RunKvox({"encode", input, tagged, "--format", "048u"}).status, 0);
  ASSERT_EQ(RunKvox({"encode", input, raw, "--format", "adpcm24", "--no-header"}).status, 0);

  KvoxRun run = RunKvox({"info", tagged, raw});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find(tagged + ": tagged 048U, Kestrovan 48KB U-Law, 6000 Hz, 1.000 s, 12000 bytes"),
            std::string::npos)
      << run.out;
  EXPECT_NE(run.out.find(raw + ": raw, Kestrovan Unknown Format ("), std::string::npos) << run.out;

  // Under a named coding a raw ADPCM file decodes to four PCM bytes per file byte.
  run = RunKvox({"info", "--json", "--format", "adpcm24", raw});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("\"form\": \"raw\", \"tag\": null, \"options_word\": 6, \"display_name\": \"Kestrovan 24KB "
                         "ADPCM\", \"rate_hz\": 6000, \"duration_s\": 1.000000, \"decoded_bytes\": 12000"),
            std::string::npos)
      << run.out;

  std::string missing = testing_files::NewPath(".vox");
  run = RunKvox({"info", "--json", tagged, missing});
  EXPECT_EQ(run.status, 1);
  EXPECT_EQ(run.out.front(), '[');
  EXPECT_NE(run.out.find("\"options_word\": 4"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("\"error\": \"" + missing + ": No such file or directory\"}\n]"), std::string::npos)
      << run.out;
}

TEST(KvoxFormats, ListsEveryCodingAndTakesTagsAndAliasesInAnyCase) {
  KvoxRun run = RunKvox({"formats"});
  EXPECT_EQ(run.status, 0);
  for (const char* row :
       {"064A  alaw        8000      64  Kestrovan 64KB A-Law", "048A  alaw48      6000      48  Kestrovan 48KB A-Law",
        "064U  ulaw        8000      64  Kestrovan 64KB U-Law", "048U  ulaw48      6000      48  Kestrovan 48KB U-Law",
        "032D  adpcm       8000      32  Kestrovan 32KB ADPCM",
        "024D  adpcm24     6000      24  Kestrovan 24KB ADPCM"}) {
    EXPECT_NE(run.out.find(row), std::string::npos) << row << "\n" << run.out;
  }

  std::string input = testing_files::NewPath(".wav");
  WriteSound(input, Sound{6000, 1, TestSignal(5000)});
  std::string by_alias = testing_files::NewPath(".vox"), by_tag = testing_files::NewPath(".vox");
  ASSERT_EQ(RunKvox({"encode", input, by_alias, "--format", "ALAW48"}).status, 0);
  ASSERT_EQ(RunKvox({"encode", input, by_tag, "--format", "048a"}).status, 0);
  EXPECT_EQ(Slurp(by_alias), Slurp(by_tag));
  EXPECT_EQ(Slurp(by_tag).substr(0, 4), "048A");

  run = RunKvox({"encode", input, testing_files::NewPath(".vox"), "--format", "gsm"});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("unknown coding 'gsm'"), std::string::npos) << run.err;
}

TEST(KvoxDecode, WritesTheTypeItsExtensionNames) {
  std::string input = testing_files::NewPath(".wav"), vox = testing_files::NewPath(".vox");
  WriteSound(input, Sound{8000, 1, TestSignal(9000)});
  ASSERT_EQ(RunKvox({"encode", input, vox, "--format", "ulaw"}).status, 0);
  std::string wav = testing_files::NewPath(".wav"), flac = testing_files::NewPath(".FLAC");
  ASSERT_EQ(RunKvox({"decode", vox, wav}).status, 0);
  ASSERT_EQ(RunKvox({"decode", vox, flac}).status, 0);
  EXPECT_EQ(Slurp(flac).substr(0, 4), "fLaC");
  EXPECT_EQ(ReadSound(flac).samples, ReadSound(wav).samples);

  std::string odd = testing_files::NewPath(".xyz");
  KvoxRun run = RunKvox({"decode", vox, odd});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find(odd + ": cannot write a .xyz file"), std::string::npos) << run.err;
  EXPECT_FALSE(Exists(odd));
}

}  // namespace
