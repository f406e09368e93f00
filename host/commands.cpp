#include "host/commands.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <exception>

#include "host/audio_file.h"
#include "host/codes.h"
#include "host/errors.h"
#include "host/json_text.h"
#include "host/raw_format.h"
#include "host/transcode.h"
#include "host/vox_file.h"

namespace {

// What info learns about one file through libkvox.
struct FileFacts {
  std::string file;
  std::string error;  // empty when the file was taken and opened
  kvox_info info{};   // info.coding is 0 while a raw file's coding is not settled
  std::string note;
  std::optional<kvox_detection> detection;  // what a raw file's content says of it
};

// How the coding of a raw file that reads was chosen, in a few words.
std::string ChoiceNote(const kvox_info& info) {
  if (info.coding_from == KVOX_FROM_NAMED) return "coding from --format";
  if (info.rate_from == KVOX_FROM_CONTENT) return "coding and rate from content";
  return "coding from content, 8000 Hz assumed; --format " + std::string(AliasOf(AtRate(info.coding, 6000))) +
         " reads it at 6000 Hz";
}

FileFacts InspectFile(const std::string& path, std::optional<kvox_coding> raw_format) {
  FileFacts facts;
  facts.file = path;
  try {
    CheckInputFile(path);
    if (!PluginTakes(path)) {
      throw FileError(path, "not a VOX file: it has no coding tag and its name does not end in .vox");
    }
    int error = KVOX_OK;
    kvox_file* file = kvox_open(path.c_str(), raw_format.value_or(KVOX_CODING_NONE), &facts.info, &error);
    kvox_close(file);
    if (file == nullptr && error != KVOX_EUNDECIDED) {
      throw FileError(path, error == KVOX_EIO ? "the plug-in cannot open it" : kvox_strerror(error));
    }
    if (!facts.info.tagged) {
      // info reports the content even when --format names the coding, so the two can be compared.
      facts.detection = facts.info.detection;
      if (!facts.info.detected) {
        kvox_detection detection{};
        error = kvox_detect_file(path.c_str(), &detection);
        if (error != KVOX_OK) throw FileError(path, kvox_strerror(error));
        facts.detection = detection;
      }
      facts.note = file != nullptr ? ChoiceNote(facts.info)
                                   : "coding not settled; " + Advice(*facts.detection, "--format");
    }
  } catch (const std::exception& failure) {
    facts.error = failure.what();
  }
  return facts;
}

std::optional<double> DurationSeconds(const FileFacts& facts) {
  if (facts.info.coding == KVOX_CODING_NONE || facts.info.rate <= 0) return std::nullopt;
  return static_cast<double>(facts.info.frames) / facts.info.rate;
}

const char* ShownDisplayName(const FileFacts& facts) { return kvox_coding_display_name(facts.info.coding); }

void PrintText(const FileFacts& facts) {
  const kvox_info& info = facts.info;
  std::string line = facts.file + ": " + (info.tagged ? "tagged " + std::string(TagOf(info.coding)) : "raw");
  line += std::string(", ") + ShownDisplayName(facts);
  if (auto seconds = DurationSeconds(facts)) {
    char figures[200];
    std::snprintf(figures, sizeof(figures), ", %d Hz, %.3f s, %" PRId64 " bytes of 16-bit mono PCM", info.rate,
                  *seconds, info.frames * 2);
    line += figures;
  }
  if (!facts.note.empty()) line += " (" + facts.note + ")";
  std::printf("%s\n", line.c_str());
  if (facts.detection) std::printf("  detected: %s\n", DetectionSummary(*facts.detection).c_str());
}

std::string JsonNumber(double number, int decimals) {
  char text[64];
  std::snprintf(text, sizeof(text), "%.*f", decimals, number);
  return text;
}

std::string JsonCount(int value) { return value != 0 ? std::to_string(value) : "null"; }

// The detector's names for the coding families, as scripts already read them.
const char* DetectedName(kvox_coding coding) {
  switch (AtRate(coding, 8000)) {
    case KVOX_ALAW:
      return "alaw";
    case KVOX_ULAW:
      return "mulaw";
    case KVOX_ADPCM:
      return "adpcm";
    default:
      return nullptr;
  }
}

std::string DetectionJson(const kvox_detection& detection) {
  const char* coding = DetectedName(detection.coding);
  std::string json = "{\"coding\": " + (coding ? JsonQuoted(coding) : std::string("null"));
  json += ", \"confidence\": " + JsonNumber(detection.confidence, 6);
  json += ", \"reason\": " + JsonQuoted(detection.reason);
  json += ", \"rate\": " + JsonCount(detection.rate);
  json += ", \"rate_confidence\": " + JsonNumber(detection.rate_confidence, 2);
  json += ", \"rate_hint\": " + JsonCount(detection.rate_hint);
  json += ", \"t\": " + JsonNumber(detection.t, 3);
  json += ", \"best\": " + (detection.best[0] == '\0' ? std::string("null") : JsonQuoted(detection.best));
  return json + "}";
}

void PrintJson(const FileFacts& facts, bool last) {
  const kvox_info& info = facts.info;
  std::string tag = info.tagged ? JsonQuoted(std::string(TagOf(info.coding))) : "null";
  std::printf("  {\"path\": %s, \"tagged\": %s, \"format\": %s, \"file\": %s, ", JsonQuoted(facts.file).c_str(),
              info.tagged ? "true" : "false", tag.c_str(), JsonQuoted(facts.file).c_str());
  if (!facts.error.empty()) {
    std::printf("\"vox\": false, \"error\": %s}%s\n", JsonQuoted(facts.error).c_str(), last ? "" : ",");
    return;
  }
  std::printf("\"vox\": true, \"form\": \"%s\", \"tag\": %s, \"options_word\": %d, \"display_name\": %s, ",
              info.tagged ? "tagged" : "raw", tag.c_str(), static_cast<int>(info.coding),
              JsonQuoted(ShownDisplayName(facts)).c_str());
  if (auto seconds = DurationSeconds(facts)) {
    // Sizes come from the file's length, exact at any length, so the duration is never a lower bound.
    std::printf("\"rate_hz\": %d, \"duration_s\": %.6f, \"decoded_bytes\": %" PRId64 ", \"duration_at_least\": false",
                info.rate, *seconds, info.frames * 2);
  } else {
    std::printf("\"rate_hz\": null, \"duration_s\": null, \"decoded_bytes\": null, \"duration_at_least\": null");
  }
  if (!facts.note.empty()) std::printf(", \"note\": %s", JsonQuoted(facts.note).c_str());
  if (facts.detection) std::printf(", \"detected\": %s", DetectionJson(*facts.detection).c_str());
  std::printf("}%s\n", last ? "" : ",");
}

void PrintError(const std::string& message) { std::fprintf(stderr, "kvox: %s\n", message.c_str()); }

int RunOne(const TranscodeRequest& request) {
  try {
    TranscodeOutcome outcome = Transcode(request);
    for (const std::string& note : outcome.notes) std::fprintf(stderr, "kvox: note: %s\n", note.c_str());
    return 0;
  } catch (const std::exception& failure) {
    PrintError(failure.what());
    return 1;
  }
}

}  // namespace

int RunInfo(const std::vector<std::string>& files, std::optional<kvox_coding> raw_format, bool json) {
  int status = 0;
  if (json) std::printf("[\n");
  for (size_t i = 0; i < files.size(); ++i) {
    FileFacts facts = InspectFile(files[i], raw_format);
    if (!facts.error.empty()) {
      PrintError(facts.error);
      status = 1;
    }
    if (json) {
      PrintJson(facts, i + 1 == files.size());
    } else if (facts.error.empty()) {
      PrintText(facts);
    }
  }
  if (json) std::printf("]\n");
  return status;
}

int RunDecode(const std::string& input, const std::string& output, std::optional<kvox_coding> raw_format) {
  TranscodeRequest request;
  request.input = input;
  request.output = output;
  request.raw_format = raw_format;
  request.vox_input_only = true;
  request.standard_streams = true;
  try {
    request.sound_format = SoundFormatForName(output);
  } catch (const std::exception& failure) {
    PrintError(failure.what());
    return 1;
  }
  return RunOne(request);
}

int RunEncode(const std::string& input, const std::string& output, kvox_coding coding, bool no_header,
              std::optional<kvox_coding> raw_format) {
  TranscodeRequest request;
  request.input = input;
  request.output = output;
  request.raw_format = raw_format;
  request.raw_option_name = "--from";
  request.vox_output = VoxOutputKind{coding, !no_header};
  request.standard_streams = true;
  return RunOne(request);
}

int RunFormats() {
  std::printf("%-5s %-8s %7s %7s  %s\n", "TAG", "ALIAS", "RATE", "KBIT/S", "DISPLAY NAME");
  for (kvox_coding coding : AllCodings) {
    const int rate = kvox_coding_rate(coding);
    std::printf("%-5s %-8s %7d %7d  %s\n", std::string(TagOf(coding)).c_str(), std::string(AliasOf(coding)).c_str(), rate,
                rate * kvox_coding_bits(coding) / 1000, kvox_coding_display_name(coding));
  }
  return 0;
}
