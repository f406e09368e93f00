// The page's way into the plug-in: what kvox does with a file, as plain C calls for the page's worker.
// Files reach it through Emscripten's in-memory file system, and every VOX byte is read and written by the
// plug-in's exports (through kvox's VoxReader and VoxWriter); raw files are judged by kvox's own rules.
#include <emscripten/emscripten.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "host/codes.h"
#include "host/errors.h"
#include "host/json_text.h"
#include "host/raw_format.h"
#include "host/vox_file.h"

// kvox takes this from its output files, which the page does not link.
std::string SystemReason(int error_number) { return std::strerror(error_number); }

namespace {

// The rate the content points to, if any: decided by tones, or hinted by a single event.
int LikelyRate(const RawVoxDetection& detection) { return detection.rate.value_or(detection.rate_hint.value_or(8000)); }

// What kvox's advice says, naming the page's choices (display names) instead of --format values, the
// likeliest first.
std::string PageAdvice(const RawVoxDetection& detection) {
  if (const std::optional<DetectedCoding> coding = ReportedCoding(detection)) {
    const OptionsWord fast = WordFor(*coding, 8000), slow = WordFor(*coding, 6000);
    const bool slow_first = LikelyRate(detection) == 6000;
    return "try " + std::string(DisplayName(slow_first ? slow : fast)) + " or " + DisplayName(slow_first ? fast : slow);
  }
  return "if it is VOX audio all the same, choose its coding";
}

// What kvox info says after the display name, for a raw file whose coding the content settled.
std::string PageChoiceNote(const RawVoxDetection& detection) {
  if (detection.rate && detection.rate_confidence >= ActOnConfidence) return "coding and rate from content";
  return "coding from content, 8000 Hz assumed; " + std::string(DisplayName(WordFor(*detection.coding, 6000))) +
         " reads it at 6000 Hz";
}

// The first bytes of a tag, with nothing after them: a tagged file cut off.
bool StartsATag(const std::string& path, int64_t size) {
  if (size <= 0 || size >= FileTagLength) return false;
  char bytes[FileTagLength] = {};
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  const size_t got = std::fread(bytes, 1, sizeof(bytes), file);
  std::fclose(file);
  if (got != static_cast<size_t>(size)) return false;
  for (const CodingSpelling& name : CodingNames) {
    if (TagOf(name.word).starts_with(std::string_view(bytes, got))) return true;
  }
  return false;
}

class JsonObject {
 public:
  void Text(const char* key, const std::string& value) { Add(key, JsonQuoted(value)); }
  void Number(const char* key, double value) {
    char text[64];
    std::snprintf(text, sizeof(text), "%.17g", value);
    Add(key, text);
  }
  void Flag(const char* key, bool value) { Add(key, value ? "true" : "false"); }
  std::string Close() const { return "{" + body_ + "}"; }

 private:
  void Add(const char* key, const std::string& value) {
    if (!body_.empty()) body_ += ", ";
    body_ += JsonQuoted(key) + ": " + value;
  }
  std::string body_;
};

// The last answer handed to the page, kept until the next call so the page can copy it out.
std::string& Answer() {
  static std::string answer;
  return answer;
}

const char* Give(const std::string& text) {
  Answer() = text;
  return Answer().c_str();
}

void CopyError(const std::exception& failure, char* error, int capacity) {
  if (error == nullptr || capacity <= 0) return;
  std::snprintf(error, static_cast<size_t>(capacity), "%s", failure.what());
}

// `chosen` is the coding the user picked for a raw file (0: none), as --format is kvox's.
std::string Facts(const std::string& path, OptionsWord chosen) {
  JsonObject facts;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) throw FileError(path, SystemReason(errno));
  if (info.st_size == 0) throw FileError(path, "is empty: it holds no audio");
  if (!PluginTakes(path)) {
    facts.Flag("vox", false);
    facts.Text("error", path + ": not a VOX file: it has no coding tag and its name does not end in .vox");
    return facts.Close();
  }
  if (StartsATag(path, info.st_size)) {
    throw FileError(path, "cut short: it ends inside its four-byte coding tag, before any audio");
  }
  VoxReader reader(path);
  facts.Flag("vox", true);
  facts.Flag("tagged", reader.Tagged());
  OptionsWord word = reader.OpenedWord();
  if (reader.Tagged()) {
    facts.Text("tag", std::string(TagOf(word)));
    if (reader.SizeBytes() == 0) throw FileError(path, "no audio: it holds only its four-byte coding tag");
  } else {
    const RawFormatChoice choice = ChooseRawFormat(path, std::nullopt, "--format");
    const RawVoxDetection& detection = *choice.detection;
    facts.Text("detected", DetectionSummary(detection));
    if (chosen != 0) {
      word = chosen;
      reader.SetFormat(word);
      facts.Text("note", "coding chosen on this page");
    } else if (choice.word) {
      word = *choice.word;
      reader.SetFormat(word);
      facts.Text("note", PageChoiceNote(detection));
    } else {
      facts.Text("note", "coding not settled; " + PageAdvice(detection));
    }
  }
  facts.Number("word", word);
  facts.Text("display_name", reader.DisplayName());
  if (word != 0) facts.Number("rate_hz", reader.RateHz());
  return facts.Close();
}

}  // namespace

extern "C" {

// What kvox info learns of the file at `path`, as a JSON object: "vox" (taken by the plug-in), "tagged",
// "tag", "word" (the options word reads use; 0 while a raw file's coding is not settled), "display_name",
// "rate_hz", and for a raw file "detected" (what its content says) and "note"; or "error".
// `chosen` is the coding the user picked for a raw file, or 0.
EMSCRIPTEN_KEEPALIVE const char* kvw_inspect(const char* path, OptionsWord chosen) {
  try {
    return Give(Facts(path, chosen & FormatCodeMask));
  } catch (const std::exception& failure) {
    JsonObject facts;
    facts.Text("error", failure.what());
    return Give(facts.Close());
  }
}

// Opens a VOX file for reading with `word` (0 keeps the tag's coding); null with the reason in `error`.
EMSCRIPTEN_KEEPALIVE VoxReader* kvw_reader_open(const char* path, OptionsWord word, char* error, int capacity) {
  try {
    auto reader = std::make_unique<VoxReader>(path);
    if (!reader->Tagged()) {
      if (word == 0) throw FileError(path, "coding not settled: choose its coding before it plays");
      reader->SetFormat(word);
    }
    return reader.release();
  } catch (const std::exception& failure) {
    CopyError(failure, error, capacity);
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE int32_t kvw_reader_rate(VoxReader* reader) { return reader->RateHz(); }

// Samples the file is expected to hold: the plug-in's size for a tagged file; for a raw one the plug-in's
// size dates from before its coding was set, so the file's bytes under the chosen coding.
EMSCRIPTEN_KEEPALIVE double kvw_reader_expected_samples(VoxReader* reader, double file_bytes) {
  if (reader->Tagged()) return static_cast<double>(reader->SizeBytes() / 2);
  return file_bytes * PcmBytesPerFileByte(reader->CurrentWord()) / 2;
}

// Reads whole blocks into `samples` (room for `capacity` samples, at least one block); returns the samples
// read, 0 at the end of the file, -1 with the reason in `error`.
EMSCRIPTEN_KEEPALIVE int32_t kvw_reader_read(VoxReader* reader, int16_t* samples, int32_t capacity, char* error,
                                             int error_capacity) {
  try {
    int32_t filled = 0;
    while (filled + BlockSize / 2 <= capacity) {
      const size_t got = reader->Read(samples + filled);
      filled += static_cast<int32_t>(got);
      if (got < BlockSize / 2) break;
    }
    return filled;
  } catch (const std::exception& failure) {
    CopyError(failure, error, error_capacity);
    return -1;
  }
}

EMSCRIPTEN_KEEPALIVE void kvw_reader_close(VoxReader* reader) { delete reader; }

// Creates a VOX file at `path` for the full options word (coding and no-tag flag); null with the reason.
EMSCRIPTEN_KEEPALIVE VoxWriter* kvw_writer_open(const char* path, OptionsWord word, char* error, int capacity) {
  try {
    return new VoxWriter(path, path, word);
  } catch (const std::exception& failure) {
    CopyError(failure, error, capacity);
    return nullptr;
  }
}

EMSCRIPTEN_KEEPALIVE int32_t kvw_writer_rate(VoxWriter* writer) { return writer->RateHz(); }

// Hands samples to the plug-in (they are coded in place, so overwritten); 0 on success, -1 with the reason.
EMSCRIPTEN_KEEPALIVE int32_t kvw_writer_append(VoxWriter* writer, int16_t* samples, int32_t count, char* error,
                                               int capacity) {
  try {
    writer->Append(samples, static_cast<size_t>(count));
    return 0;
  } catch (const std::exception& failure) {
    CopyError(failure, error, capacity);
    return -1;
  }
}

// Writes the last block and closes the file, then frees the writer; 0 on success, -1 with the reason.
EMSCRIPTEN_KEEPALIVE int32_t kvw_writer_finish(VoxWriter* writer, char* error, int capacity) {
  int32_t status = 0;
  try {
    writer->Finish();
  } catch (const std::exception& failure) {
    CopyError(failure, error, capacity);
    status = -1;
  }
  delete writer;
  return status;
}

// The six codings as the page lists them: [{"word", "tag", "alias", "display_name", "rate_hz"}, ...].
EMSCRIPTEN_KEEPALIVE const char* kvw_codings() {
  std::string list;
  for (const CodingSpelling& name : CodingNames) {
    JsonObject coding;
    coding.Number("word", name.word);
    coding.Text("tag", std::string(TagOf(name.word)));
    coding.Text("alias", std::string(name.alias));
    coding.Text("display_name", DisplayName(name.word));
    coding.Number("rate_hz", SampleRate(name.word));
    list += (list.empty() ? "" : ", ") + coding.Close();
  }
  return Give("[" + list + "]");
}

}  // extern "C"
