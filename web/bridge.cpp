// The page's way into libkvox: what kvox does with a file, as plain C calls for the page's worker. Files
// reach it through Emscripten's in-memory file system; libkvox reads and writes every VOX byte with the
// plug-in's own code and judges raw files by its own rules.
#include <emscripten/emscripten.h>
#include <kvox.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "host/json_text.h"

namespace {

kvox_coding AtRate(kvox_coding coding, int rate_hz) { return kvox_coding_at_rate(coding, rate_hz); }

// What kvox's advice says, naming the page's choices (display names) instead of --format values, the
// likeliest first.
std::string PageAdvice(const kvox_detection& detection) {
  if (detection.coding != KVOX_CODING_NONE) {
    const int likely_rate = detection.rate != 0 ? detection.rate : detection.rate_hint;
    const bool slow_first = likely_rate == 6000;
    return std::string("try ") + kvox_coding_display_name(AtRate(detection.coding, slow_first ? 6000 : 8000)) +
           " or " + kvox_coding_display_name(AtRate(detection.coding, slow_first ? 8000 : 6000));
  }
  return "if it is VOX audio all the same, choose its coding";
}

// What kvox info says after the display name, for a raw file whose coding the content settled.
std::string PageChoiceNote(const kvox_info& info) {
  if (info.rate_from == KVOX_FROM_CONTENT) return "coding and rate from content";
  return "coding from content, 8000 Hz assumed; " + std::string(kvox_coding_display_name(AtRate(info.coding, 6000))) +
         " reads it at 6000 Hz";
}

std::string Summary(const kvox_detection& detection) {
  char text[512];
  kvox_detection_summary(&detection, text, sizeof(text));
  return text;
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

void CopyError(const std::string& message, char* error, int capacity) {
  if (error == nullptr || capacity <= 0) return;
  std::snprintf(error, static_cast<size_t>(capacity), "%s", message.c_str());
}

std::string Failure(const std::string& path, int error) { return path + ": " + kvox_strerror(error); }

// `chosen` is the coding the user picked for a raw file (0: none), as --format is kvox's.
std::string Facts(const std::string& path, kvox_coding chosen) {
  JsonObject facts;
  struct stat info {};
  if (stat(path.c_str(), &info) != 0 || info.st_size == 0) {
    facts.Text("error", path + ": is empty: it holds no audio");
    return facts.Close();
  }
  if (kvox_is_vox(path.c_str()) != 1) {
    facts.Flag("vox", false);
    facts.Text("error", path + ": not a VOX file: it has no coding tag and its name does not end in .vox");
    return facts.Close();
  }
  kvox_info opened{};
  int error = KVOX_OK;
  kvox_file* file = kvox_open(path.c_str(), KVOX_CODING_NONE, &opened, &error);
  kvox_close(file);
  if (file == nullptr && error != KVOX_EUNDECIDED) {
    facts.Text("error", Failure(path, error));
    return facts.Close();
  }
  facts.Flag("vox", true);
  facts.Flag("tagged", opened.tagged != 0);
  kvox_coding coding = opened.coding;
  if (opened.tagged) {
    facts.Text("tag", kvox_coding_tag(coding));
    if (opened.frames == 0) {
      JsonObject failed;
      failed.Text("error", path + ": no audio: it holds only its four-byte coding tag");
      return failed.Close();
    }
  } else {
    facts.Text("detected", Summary(opened.detection));
    if (chosen != KVOX_CODING_NONE) {
      coding = chosen;
      facts.Text("note", "coding chosen on this page");
    } else if (file != nullptr) {
      facts.Text("note", PageChoiceNote(opened));
    } else {
      facts.Text("note", "coding not settled; " + PageAdvice(opened.detection));
    }
  }
  facts.Number("word", coding);
  facts.Text("display_name", kvox_coding_display_name(coding));
  if (coding != KVOX_CODING_NONE) facts.Number("rate_hz", kvox_coding_rate(coding));
  return facts.Close();
}

struct PageReader {
  kvox_file* file;
  kvox_info info;
};

}  // namespace

extern "C" {

// What kvox info learns of the file at `path`, as a JSON object: "vox" (taken by the plug-in), "tagged",
// "tag", "word" (the coding reads use; 0 while a raw file's coding is not settled), "display_name",
// "rate_hz", and for a raw file "detected" (what its content says) and "note"; or "error".
// `chosen` is the coding the user picked for a raw file, or 0.
EMSCRIPTEN_KEEPALIVE const char* kvw_inspect(const char* path, int chosen) {
  return Give(Facts(path, static_cast<kvox_coding>(chosen & 0x0F)));
}

// Opens a VOX file for reading with `word` (0 keeps the tag's coding); null with the reason in `error`.
EMSCRIPTEN_KEEPALIVE PageReader* kvw_reader_open(const char* path, int word, char* error, int capacity) {
  auto* reader = new PageReader{};
  int status = KVOX_OK;
  reader->file = kvox_open(path, static_cast<kvox_coding>(word & 0x0F), &reader->info, &status);
  if (reader->file == nullptr) {
    CopyError(status == KVOX_EUNDECIDED ? std::string(path) + ": coding not settled: choose its coding before it plays"
                                        : Failure(path, status),
              error, capacity);
    delete reader;
    return nullptr;
  }
  return reader;
}

EMSCRIPTEN_KEEPALIVE int32_t kvw_reader_rate(PageReader* reader) { return reader->info.rate; }

// Samples the file holds, counted from its length.
EMSCRIPTEN_KEEPALIVE double kvw_reader_expected_samples(PageReader* reader, double /*file_bytes*/) {
  return static_cast<double>(reader->info.frames);
}

// Reads into `samples` (room for `capacity` samples); returns the samples read, 0 at the end of the file,
// -1 with the reason in `error`.
EMSCRIPTEN_KEEPALIVE int32_t kvw_reader_read(PageReader* reader, int16_t* samples, int32_t capacity, char* error,
                                             int error_capacity) {
  const int64_t got = kvox_read(reader->file, samples, static_cast<size_t>(capacity));
  if (got < 0) {
    CopyError(std::string("reading failed: ") + kvox_strerror(static_cast<int>(got)), error, error_capacity);
    return -1;
  }
  return static_cast<int32_t>(got);
}

EMSCRIPTEN_KEEPALIVE void kvw_reader_close(PageReader* reader) {
  kvox_close(reader->file);
  delete reader;
}

// Creates a VOX file at `path` for the coding in the low four bits of `word`, without its tag when 0x10 is
// set; null with the reason.
EMSCRIPTEN_KEEPALIVE kvox_file* kvw_writer_open(const char* path, int word, char* error, int capacity) {
  int status = KVOX_OK;
  kvox_file* file =
      kvox_create(path, static_cast<kvox_coding>(word & 0x0F), (word & 0x10) != 0 ? KVOX_NO_TAG : 0, &status);
  if (file == nullptr) CopyError(Failure(path, status), error, capacity);
  return file;
}

EMSCRIPTEN_KEEPALIVE int32_t kvw_writer_rate(kvox_file* /*writer*/) { return 0; }

// Codes and writes samples; 0 on success, -1 with the reason.
EMSCRIPTEN_KEEPALIVE int32_t kvw_writer_append(kvox_file* writer, int16_t* samples, int32_t count, char* error,
                                               int capacity) {
  const int64_t written = kvox_write(writer, samples, static_cast<size_t>(count));
  if (written >= 0) return 0;
  CopyError(std::string("writing failed: ") + kvox_strerror(static_cast<int>(written)), error, capacity);
  return -1;
}

// Writes the rest and closes the file, freeing the writer; 0 on success, -1 with the reason.
EMSCRIPTEN_KEEPALIVE int32_t kvw_writer_finish(kvox_file* writer, char* error, int capacity) {
  const int status = kvox_close(writer);
  if (status == KVOX_OK) return 0;
  CopyError(std::string("writing failed: ") + kvox_strerror(status), error, capacity);
  return -1;
}

// The six codings as the page lists them: [{"word", "tag", "alias", "display_name", "rate_hz"}, ...].
EMSCRIPTEN_KEEPALIVE const char* kvw_codings() {
  std::string list;
  for (int word = 1; word <= KVOX_CODING_COUNT; ++word) {
    const auto coding = static_cast<kvox_coding>(word);
    JsonObject entry;
    entry.Number("word", word);
    entry.Text("tag", kvox_coding_tag(coding));
    entry.Text("alias", kvox_coding_alias(coding));
    entry.Text("display_name", kvox_coding_display_name(coding));
    entry.Number("rate_hz", kvox_coding_rate(coding));
    list += (list.empty() ? "" : ", ") + entry.Close();
  }
  return Give("[" + list + "]");
}

}  // extern "C"
