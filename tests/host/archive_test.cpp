// kvox convert on archives: every output type with the bytes of decode and encode, a run resumed after
// kill -9, shards that cover a tree exactly once, the lists of --files-from, the report, and the values
// that are refused.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "host/name_lists.h"
#include "host/shards.h"
#include "tests/detect/signals.h"
#include "tests/host/kvox_runner.h"
#include "tests/vox/vox_test_support.h"

namespace fs = std::filesystem;

namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream stream(text);
  for (std::string line; std::getline(stream, line);) lines.push_back(line);
  return lines;
}

// The value of a field of one report line, as written: "\"converted\"", "0.99", "null".
std::string Field(const std::string& line, const std::string& name) {
  const std::string start = "\"" + name + "\": ";
  const size_t at = line.find(start);
  if (at == std::string::npos) return "(missing)";
  const size_t value = at + start.size();
  if (line[value] == '"') return line.substr(value, line.find('"', value + 1) + 1 - value);
  return line.substr(value, line.find_first_of(",}", value) - value);
}

std::string Quoted(const std::string& text) { return "\"" + text + "\""; }

// A report line as kvox writes it: one object, every field in its place.
bool WholeLine(const std::string& line) {
  if (!line.starts_with("{\"path\": \"") || !line.ends_with("}")) return false;
  for (const char* name : {"output", "status", "reason", "tagged", "coding", "coding_from", "confidence", "rate",
                           "rate_from", "duration", "bytes_in", "bytes_out"}) {
    if (Field(line, name) == "(missing)") return false;
  }
  return true;
}

// Ogg pages with their stream serial number and checksum set to zero: libsndfile draws the serial number
// at random for every Ogg file it writes, and nothing else differs between two writes of the same audio.
std::string WithoutOggSerials(std::string bytes) {
  for (size_t page = 0; page + 27 <= bytes.size() && bytes.compare(page, 4, "OggS") == 0;) {
    const size_t segments = static_cast<unsigned char>(bytes[page + 26]);
    if (page + 27 + segments > bytes.size()) break;
    size_t size = 27 + segments;
    for (size_t i = 0; i < segments; ++i) size += static_cast<unsigned char>(bytes[page + 27 + i]);
    for (size_t i = 14; i < 18; ++i) bytes[page + i] = 0;
    for (size_t i = 22; i < 26; ++i) bytes[page + i] = 0;
    page += size;
  }
  return bytes;
}

// Raw mu-law bytes of speech that its content settles at 0.99.
std::string RawSpeech(double seconds, uint64_t seed) {
  const std::vector<uint8_t> bytes = Encode(DetectedCoding::Mulaw, SpeechLike(seconds, 8000, seed));
  return std::string(bytes.begin(), bytes.end());
}

void WriteBytes(const std::string& path, const std::string& bytes) {
  fs::create_directories(fs::path(path).parent_path());
  std::ofstream(path, std::ios::binary) << bytes;
}

// The names of the non-hidden files below `folder`, relative to it.
std::set<std::string> FilesBelow(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    if (entry.is_regular_file() && !entry.path().filename().string().starts_with(".")) {
      names.insert(entry.path().lexically_relative(folder).string());
    }
  }
  return names;
}

TEST(KvoxArchive, EveryOutputTypeGivesTheBytesOfDecodeOrEncode) {
  const std::string in = NewFolder();
  WriteBytes(in + "/raw.vox", RawSpeech(1.5, 7));
  WriteSound(in + "/source.wav", Sound{16000, 2, TestSignal(16000 * 2, 3)});
  ASSERT_EQ(RunKvox({"encode", in + "/source.wav", in + "/tagged.vox", "--format", "adpcm"}).status, 0);

  struct OutputType {
    std::string to;
    bool vox = false;                // a coding: kvox encode is the reference, else kvox decode
    std::vector<std::string> extra;  // after --to TYPE
  };
  const std::vector<OutputType> types = {
      {"wav", false, {}},    {"flac", false, {}},  {"ogg", false, {}},    {"opus", false, {}},
      {"mp3", false, {}},    {"w64", false, {}},   {"rf64", false, {}},   {"caf", false, {}},
      {"aiff", false, {}},   {"au", false, {}},    {"alaw", true, {}},    {"048A", true, {}},
      {"ulaw", true, {}},    {"ulaw48", true, {}}, {"adpcm", true, {}},   {"adpcm24", true, {}},
      {"alaw", true, {"--no-header"}},
  };
  for (const OutputType& type : types) {
    SCOPED_TRACE("--to " + type.to);
    const std::string out = NewFolder();
    std::vector<std::string> arguments = {"convert", "--to", type.to, "-j", "2", "-o", out, in};
    arguments.insert(arguments.end(), type.extra.begin(), type.extra.end());
    const KvoxRun run = RunKvox(arguments);
    ASSERT_EQ(run.status, 0) << run.err;
    const bool vox = type.vox;
    const std::string extension = vox ? ".vox" : "." + type.to;
    EXPECT_EQ(FilesBelow(out), (std::set<std::string>{"raw" + extension, "source" + extension, "tagged" + extension}));
    // VOX inputs as kvox decode makes them; with a coding, every input as kvox encode makes it.
    for (const std::string name : {"raw", "tagged", "source"}) {
      if (!vox && name == "source") continue;
      const std::string reference = NewFolder() + "/" + name + extension;
      std::vector<std::string> single = vox ? std::vector<std::string>{"encode", in + "/" + name + (name == "source" ? ".wav" : ".vox"),
                                                                         reference, "--format", type.to}
                                            : std::vector<std::string>{"decode", in + "/" + name + ".vox", reference};
      single.insert(single.end(), type.extra.begin(), type.extra.end());
      ASSERT_EQ(RunKvox(single).status, 0) << name;
      const std::string made = Slurp(out + "/" + name + extension), expected = Slurp(reference);
      ASSERT_GT(made.size(), 100u) << name;
      if (type.to == "ogg" || type.to == "opus") {
        EXPECT_TRUE(WithoutOggSerials(made) == WithoutOggSerials(expected)) << name;
        EXPECT_EQ(ReadSound(out + "/" + name + extension).samples, ReadSound(reference).samples) << name;
      } else {
        EXPECT_TRUE(made == expected) << name << ": " << made.size() << " bytes against " << expected.size();
      }
    }
  }
}

// A run killed with SIGKILL part-way, then the same command with -n: every file converted once, none
// twice, nothing partial under a final name, and a report with a whole line for every file.
TEST(KvoxArchive, AResumedRunAfterKill9LosesNothingAndConvertsNothingTwice) {
  const std::string in = NewFolder(), out = NewFolder() + "/made", report = NewFolder() + "/report.jsonl";
  WriteSound(in + "/source.wav", Sound{8000, 1, TestSignal(8000 * 20, 5)});
  ASSERT_EQ(RunKvox({"encode", in + "/source.wav", in + "/take.vox", "--format", "adpcm"}).status, 0);
  fs::remove(in + "/source.wav");
  constexpr int Files = 40;
  for (int i = 0; i < Files; ++i) {
    fs::create_directories(in + "/day" + std::to_string(i % 4));
    fs::copy_file(in + "/take.vox", in + "/day" + std::to_string(i % 4) + "/call" + std::to_string(i) + ".vox");
  }
  fs::remove(in + "/take.vox");
  const std::vector<std::string> command = {"convert", "--to", "flac", "-n", "--report", report, "-o", out, in};

  const StartedKvox started = StartKvox(command);
  // Killed once a few files are reported, while others are under way.
  for (int wait = 0; wait < 20000 && Lines(Slurp(report)).size() < 3; ++wait) usleep(100);
  kill(started.pid, SIGKILL);
  const KvoxRun killed = FinishKvox(started);
  ASSERT_EQ(killed.status, -1) << "the first run ended before it was killed; make the files longer";

  const std::vector<std::string> first_lines = Lines(Slurp(report));
  ASSERT_GE(first_lines.size(), 3u);
  std::map<std::string, std::pair<ino_t, int64_t>> made_before;  // output, and its inode and change time
  for (const std::string& name : FilesBelow(out)) {
    struct stat info {};
    ASSERT_EQ(stat((out + "/" + name).c_str(), &info), 0);
    made_before[name] = {info.st_ino, info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec};
  }
  ASSERT_LT(made_before.size(), static_cast<size_t>(Files));
  // As if the kill had cut the last line short; the resumed run removes what is left of it.
  std::ofstream(report, std::ios::app) << "{\"path\": \"" << in << "/day0/cal";

  const KvoxRun resumed = RunKvox(command);
  ASSERT_EQ(resumed.status, 0) << resumed.err;
  EXPECT_NE(resumed.err.find("report.jsonl: its last line was cut off"), std::string::npos) << resumed.err;
  EXPECT_NE(resumed.out.find("converted " + std::to_string(Files - made_before.size()) + " of " +
                             std::to_string(Files) + " files"),
            std::string::npos)
      << resumed.out;
  EXPECT_NE(resumed.out.find(std::to_string(made_before.size()) + " skipped, 0 failed"), std::string::npos)
      << resumed.out;

  const std::set<std::string> made = FilesBelow(out);
  ASSERT_EQ(made.size(), static_cast<size_t>(Files));
  const Sound first = ReadSound(out + "/" + *made.begin());
  for (const std::string& name : made) {
    EXPECT_EQ(ReadSound(out + "/" + name).samples, first.samples) << name << " is not whole";
    if (!made_before.contains(name)) continue;
    struct stat info {};
    stat((out + "/" + name).c_str(), &info);
    EXPECT_EQ(made_before[name], std::make_pair(info.st_ino, int64_t{info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec}))
        << name << " was made again";
  }

  const std::vector<std::string> lines = Lines(Slurp(report));
  ASSERT_EQ(lines.size(), first_lines.size() + Files);
  for (size_t i = 0; i < first_lines.size(); ++i) EXPECT_EQ(lines[i], first_lines[i]);
  std::map<std::string, int> converted, seen_again;
  for (size_t i = 0; i < lines.size(); ++i) {
    ASSERT_TRUE(WholeLine(lines[i])) << lines[i];
    const std::string path = Field(lines[i], "path"), status = Field(lines[i], "status");
    if (status == "\"converted\"") ++converted[path];
    if (i >= first_lines.size()) ++seen_again[path];
    if (i >= first_lines.size()) {
      const std::string output = Field(lines[i], "output");
      const bool existed = made_before.contains(output.substr(out.size() + 2, output.size() - out.size() - 3));
      EXPECT_EQ(status, existed ? "\"skipped\"" : "\"converted\"") << lines[i];
    }
  }
  EXPECT_EQ(seen_again.size(), static_cast<size_t>(Files));
  for (const auto& [path, count] : converted) EXPECT_EQ(count, 1) << path << " converted twice";
  EXPECT_GE(converted.size(), static_cast<size_t>(Files) - 2) << "only the files under way at the kill lack a line";
}

// Four shards of one tree, each run as another machine would: every file in exactly one of them, the same
// files for a shard wherever the tree lies and in whatever order its files were made.
TEST(KvoxArchive, ShardsCoverATreeExactlyOnceWhereverItLies) {
  EXPECT_EQ(Fnv1a64(""), 14695981039346656037ull);
  EXPECT_EQ(Fnv1a64("a"), 0xaf63dc4c8601ec8cull);
  EXPECT_EQ(Fnv1a64("foobar"), 0x85944171f73967e8ull);
  EXPECT_EQ(ShardOfKey("foobar", 4), 3u);  // 0x85944171f73967e8 * 4 / 2^64 = 2.09, plus one
  EXPECT_EQ(ShardOfKey("a", 1), 1u);

  std::vector<std::string> names;
  for (int i = 0; i < 48; ++i) {
    names.push_back("20" + std::to_string(20 + i % 3) + "/" + std::to_string(1 + i % 5) + "/call-" + std::to_string(i) + ".wav");
  }
  const std::string tree = NewFolder(), elsewhere = NewFolder() + "/copy/of/archive";
  for (const std::string& name : names) {
    fs::create_directories(fs::path(tree + "/" + name).parent_path());
    WriteSound(tree + "/" + name, Sound{8000, 1, TestSignal(400, 2)});
  }
  for (auto name = names.rbegin(); name != names.rend(); ++name) {  // made the other way round
    fs::create_directories(fs::path(elsewhere + "/" + *name).parent_path());
    fs::copy_file(tree + "/" + *name, elsewhere + "/" + *name);
  }

  const std::string out = NewFolder();
  std::map<std::string, int> shard_of;
  for (int k = 1; k <= 4; ++k) {
    const std::string shard = std::to_string(k) + "/4", report = NewFolder() + "/r.jsonl";
    const KvoxRun run = RunKvox({"convert", "--to", "alaw", "-j", "2", "--shard", shard, "--report", report, "-o", out, tree});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("; shard " + shard + " of 48 inputs"), std::string::npos) << run.out;
    const std::vector<std::string> lines = Lines(Slurp(report));
    EXPECT_GT(lines.size(), 4u) << "shard " << shard << " is far below its share";
    std::set<std::string> made;
    for (const std::string& line : lines) {
      const std::string path = Field(line, "path");
      const std::string name = path.substr(tree.size() + 2, path.size() - tree.size() - 3);
      EXPECT_TRUE(shard_of.emplace(name, k).second) << name << " in shards " << shard_of[name] << " and " << k;
      EXPECT_EQ(ShardOfKey(name, 4), static_cast<uint64_t>(k)) << name;
      made.insert(fs::path(name).replace_extension(".vox").string());
    }
    // The same shard of the same tree elsewhere, walked from another folder name.
    const std::string other = NewFolder();
    ASSERT_EQ(RunKvox({"convert", "--to", "alaw", "--shard", shard, "-o", other, elsewhere}).status, 0);
    EXPECT_EQ(FilesBelow(other), made) << shard;
  }
  EXPECT_EQ(shard_of.size(), names.size());
  EXPECT_EQ(FilesBelow(out).size(), names.size());

  // Files given by name fall by their name as given, and names in a list by the name as listed.
  std::set<std::string> by_name;
  for (int k = 1; k <= 3; ++k) {
    const std::string shard = std::to_string(k) + "/3", folder = NewFolder();
    std::vector<std::string> arguments = {"convert", "--to", "ulaw", "--shard", shard, "-o", folder};
    for (int i = 0; i < 6; ++i) arguments.push_back(tree + "/" + names[static_cast<size_t>(i)]);
    ASSERT_EQ(RunKvox(arguments).status, 0);
    for (const std::string& name : FilesBelow(folder)) {
      EXPECT_TRUE(by_name.insert(name).second) << name;
      EXPECT_EQ(ShardOfKey(fs::path(tree + "/" + names[std::stoul(name.substr(name.find('-') + 1))]).string(), 3),
                static_cast<uint64_t>(k));
    }
  }
  EXPECT_EQ(by_name.size(), 6u);
}

std::vector<std::string> NamesIn(const std::string& bytes, bool nul) {
  std::FILE* stream = fmemopen(const_cast<char*>(bytes.data()), bytes.size(), "r");
  std::vector<std::string> names = ReadNames(stream, nul, "test list");
  std::fclose(stream);
  return names;
}

TEST(KvoxArchive, ListsGiveOneNameALineOrOneNameANul) {
  using Names = std::vector<std::string>;
  EXPECT_EQ(NamesIn("a.vox\n\nb c.vox\r\nd/e.vox", false), (Names{"a.vox", "b c.vox", "d/e.vox"}));
  EXPECT_EQ(NamesIn("", false), Names{});
  EXPECT_EQ(NamesIn(std::string("new\nline.vox\0 space.vox\0\0last.vox", 33), true),
            (Names{"new\nline.vox", " space.vox", "last.vox"}));
  try {
    NamesIn(std::string("a.vox\0b.vox\0", 12), false);
    ADD_FAILURE() << "a NUL in a list read by lines";
  } catch (const ListError& error) {
    EXPECT_TRUE(error.usage_error);
    EXPECT_NE(std::string(error.what()).find("add -0"), std::string::npos) << error.what();
  }

  // End to end: names keep their folders below the output folder; folders in a list are passed over.
  const std::string in = NewFolder();
  fs::create_directory(in + "/calls");
  WriteSound(in + "/calls/a.wav", Sound{8000, 1, TestSignal(800)});
  WriteBytes(in + "/calls/odd\nname.vox", RawSpeech(1, 3));
  WriteSound(in + "/b.wav", Sound{8000, 1, TestSignal(800)});
  const std::string nul(1, '\0');
  const std::string list = in + "/calls/a.wav" + nul + in + "/calls" + nul + in + "/calls/odd\nname.vox" + nul + in + "//b.wav";
  const std::string out = NewFolder();
  KvoxRun run = RunKvoxPiped({"convert", "--to", "wav", "--files-from", "-", "-0", "-o", out}, list);
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.err.find("1 folder in the list passed over"), std::string::npos) << run.err;
  const std::string below = in.substr(1);
  EXPECT_EQ(FilesBelow(out), (std::set<std::string>{below + "/calls/a.wav", below + "/calls/odd\nname.wav", below + "/b.wav"}));

  // By lines, from a file and beside named files; a name that climbs out of its folder fails.
  const std::string lines = NewFolder() + "/list.txt", out2 = NewFolder();
  WriteBytes(lines, in + "/calls/a.wav\r\n\n../escape.wav\n");
  run = RunKvox({"convert", "--to", "alaw", "--files-from", lines, "-o", out2, in + "/b.wav"});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("../escape.wav: a name in a list may not climb out"), std::string::npos) << run.err;
  EXPECT_EQ(FilesBelow(out2), (std::set<std::string>{"b.vox", below + "/calls/a.vox"}));
}

TEST(KvoxArchive, TheReportSaysHowEachFileWasRead) {
  const std::string in = NewFolder(), out = NewFolder(), report = NewFolder() + "/r.jsonl";
  WriteSound(in + "/audio.wav", Sound{11025, 1, TestSignal(11025)});
  ASSERT_EQ(RunKvox({"encode", in + "/audio.wav", in + "/tagged.vox", "--format", "adpcm24"}).status, 0);
  WriteBytes(in + "/raw.vox", RawSpeech(1.5, 9));
  std::string noise(8000, '\0');
  for (size_t i = 0; i < noise.size(); ++i) noise[i] = static_cast<char>((i * 2654435761u) >> 13);
  WriteBytes(in + "/noise.vox", noise);

  KvoxRun run = RunKvox({"convert", "--to", "flac", "--report", report, "-o", out, in});
  EXPECT_EQ(run.status, 1);
  run = RunKvox({"convert", "--to", "flac", "--from", "alaw48", "--report", report, "-o", out, in + "/raw.vox"});
  EXPECT_EQ(run.status, 0) << run.err;
  const std::vector<std::string> lines = Lines(Slurp(report));
  ASSERT_EQ(lines.size(), 5u) << Slurp(report);
  std::map<std::string, std::string> line_of;
  for (const std::string& line : lines) {
    ASSERT_TRUE(WholeLine(line)) << line;
    line_of.emplace(Field(line, "path"), line);  // the first run's
  }
  struct Expected {
    std::string line, status, tagged, coding, coding_from, rate, rate_from;
  };
  for (const Expected& expected : {
           Expected{line_of[Quoted(in + "/audio.wav")], "converted", "null", "null", "null", "11025", "\"header\""},
           Expected{line_of[Quoted(in + "/tagged.vox")], "converted", "true", "\"adpcm24\"", "\"tag\"", "6000", "\"tag\""},
           Expected{line_of[Quoted(in + "/raw.vox")], "converted", "false", "\"ulaw\"", "\"content\"", "8000", "\"assumed\""},
           Expected{line_of[Quoted(in + "/noise.vox")], "failed", "false", "null", "null", "null", "null"},
           Expected{lines.back(), "converted", "false", "\"alaw48\"", "\"named\"", "6000", "\"named\""},
       }) {
    const std::string& line = expected.line;
    EXPECT_EQ(Field(line, "status"), Quoted(expected.status)) << line;
    EXPECT_EQ(Field(line, "tagged"), expected.tagged) << line;
    EXPECT_EQ(Field(line, "coding"), expected.coding) << line;
    EXPECT_EQ(Field(line, "coding_from"), expected.coding_from) << line;
    EXPECT_EQ(Field(line, "rate"), expected.rate) << line;
    EXPECT_EQ(Field(line, "rate_from"), expected.rate_from) << line;
    const bool converted = expected.status == "converted";
    EXPECT_EQ(Field(line, "reason") == "null", converted) << line;
    EXPECT_EQ(Field(line, "duration") == "null", !converted) << line;
    EXPECT_EQ(Field(line, "bytes_out") == "null", !converted) << line;
    EXPECT_NE(Field(line, "bytes_in"), "null") << line;
  }
  EXPECT_EQ(Field(line_of[Quoted(in + "/tagged.vox")], "duration"), "1.000000");
  EXPECT_EQ(Field(line_of[Quoted(in + "/tagged.vox")], "bytes_in"), "3004");
  EXPECT_EQ(Field(line_of[Quoted(in + "/tagged.vox")], "bytes_out"),
            std::to_string(fs::file_size(out + "/tagged.flac")));
  EXPECT_GE(std::stod(Field(line_of[Quoted(in + "/raw.vox")], "confidence")), 0.9);
  EXPECT_LT(std::stod(Field(line_of[Quoted(in + "/noise.vox")], "confidence")), 0.9);  // examined, refused
  EXPECT_NE(Field(line_of[Quoted(in + "/noise.vox")], "reason").find("does not settle its coding"), std::string::npos);
  EXPECT_EQ(Field(lines.back(), "confidence"), "null");  // named: the content is not looked at
}

TEST(KvoxArchive, WrongValuesAreUsageErrors) {
  const std::string in = NewFolder(), out = NewFolder();
  WriteSound(in + "/a.wav", Sound{8000, 1, TestSignal(800)});
  for (const char* shard : {"0/4", "5/4", "1/0", "text", "1/", "/4", "-1/4", "+1/4", "1/4/2", " 1/4", "1.0/4", ""}) {
    const KvoxRun run = RunKvox({"convert", "--to", "flac", "--shard", shard, "-o", out, in});
    EXPECT_EQ(run.status, 2) << "--shard '" << shard << "'";
    if (std::string(shard) == "5/4") {
      EXPECT_NE(run.err.find("1 <= K <= N"), std::string::npos) << run.err;
    }
  }
  for (const std::vector<std::string>& arguments : std::vector<std::vector<std::string>>{
           {"convert", "--to", "vox", "-o", out, in},
           {"convert", "--to", "flac.wav", "-o", out, in},
           {"convert", "--to", "flac", "-o", out},
           {"convert", "--to", "flac", "-0", "-o", out, in},
           {"convert", "--to", "flac", "--no-header", "-o", out, in},
           {"convert", "--to", "flac", "--files-from", "-", "-o", out},  // NUL bytes read by lines
       }) {
    const KvoxRun run = RunKvoxPiped(arguments, std::string("a.wav\0", 6));
    EXPECT_EQ(run.status, 2) << arguments[2] << " " << arguments[3] << "\n" << run.err;
  }
  EXPECT_EQ(Listing(out), std::vector<std::string>{});
  const KvoxRun run = RunKvox({"convert", "--to", "flac", "--files-from", in + "/none.txt", "-o", out});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.err.find("none.txt: cannot read the list: No such file or directory"), std::string::npos) << run.err;
}

}  // namespace
