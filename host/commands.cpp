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

// What info learns about one file through the plug-in.
struct FileFacts {
  std::string file;
  std::string error;  // empty when the plug-in took and opened the file
  bool tagged = false;
  OptionsWord opened_word = 0;
  OptionsWord read_word = 0;  // the word reads use (a raw file's chosen coding)
  std::string display_name;
  std::optional<int32_t> rate_hz;
  std::optional<int64_t> decoded_bytes;
  bool decoded_at_least = false;  // the plug-in's figure is its ceiling: the file decodes to more
  std::string note;
  std::optional<RawVoxDetection> detection;  // what a raw file's content says of it
};

// How the coding of a raw file that reads was chosen, in a few words.
std::string ChoiceNote(const RawFormatChoice& choice) {
  if (choice.source != "content") return "coding from " + choice.source;
  const RawVoxDetection& detection = *choice.detection;
  if (detection.rate && detection.rate_confidence >= ActOnConfidence) return "coding and rate from content";
  return "coding from content, 8000 Hz assumed; --format " + std::string(AliasOf(WordFor(*detection.coding, 6000))) +
         " reads it at 6000 Hz";
}

FileFacts InspectFile(const std::string& path, std::optional<OptionsWord> raw_format) {
  FileFacts facts;
  facts.file = path;
  try {
    CheckInputFile(path);
    if (!PluginTakes(path)) {
      throw FileError(path, "not a VOX file: it has no coding tag and its name does not end in .vox");
    }
    VoxReader reader(path);
    facts.tagged = reader.Tagged();
    facts.opened_word = facts.read_word = reader.OpenedWord();
    if (facts.tagged) {
      facts.rate_hz = reader.RateHz();
      facts.decoded_bytes = reader.SizeBytes();
      // Past its ceiling the plug-in reports the ceiling, or 0 for a file too long to measure at all.
      if (reader.ExpectedBytes() > LargestReportedBytes &&
          (*facts.decoded_bytes == LargestReportedBytes || *facts.decoded_bytes == 0)) {
        facts.decoded_bytes = LargestReportedBytes;
        facts.decoded_at_least = true;
      }
    } else {
      const RawFormatChoice choice = ChooseRawFormat(path, raw_format, "--format");
      // info reports the content even when --format names the coding, so the two can be compared.
      facts.detection = choice.detection ? *choice.detection : DetectRawFile(path);
      if (choice.word) {
        reader.SetFormat(*choice.word);
        facts.read_word = *choice.word;
        facts.rate_hz = reader.RateHz();
        facts.note = ChoiceNote(choice);
        // The plug-in's decoded size stays as computed before the coding was set, so count what reads give.
        int16_t block[BlockSize / 2];
        while (reader.Read(block) > 0) {
        }
        facts.decoded_bytes = reader.DeliveredBytes();
      } else {
        facts.note = "coding not settled; " + choice.advice;
      }
    }
    facts.display_name = reader.DisplayName();
  } catch (const std::exception& failure) {
    facts.error = failure.what();
  }
  return facts;
}

std::optional<double> DurationSeconds(const FileFacts& facts) {
  if (!facts.rate_hz || !facts.decoded_bytes || *facts.rate_hz <= 0) return std::nullopt;
  const double seconds = static_cast<double>(*facts.decoded_bytes / 2) / *facts.rate_hz;
  // A lower bound is cut down to the figures shown, never rounded up past what is known.
  return facts.decoded_at_least ? std::floor(seconds * 1e6) / 1e6 : seconds;
}

void PrintText(const FileFacts& facts) {
  std::string line = facts.file + ": " + (facts.tagged ? "tagged " + std::string(TagOf(facts.opened_word)) : "raw");
  line += ", " + facts.display_name;
  if (auto seconds = DurationSeconds(facts)) {
    if (facts.decoded_at_least) *seconds = std::floor(*seconds * 1e3) / 1e3;
    const char* at_least = facts.decoded_at_least ? "at least " : "";
    char figures[200];
    std::snprintf(figures, sizeof(figures), ", %d Hz, %s%.3f s, %s%" PRId64 " bytes of 16-bit mono PCM%s",
                  *facts.rate_hz, at_least, *seconds, at_least, *facts.decoded_bytes,
                  facts.decoded_at_least ? " (more than the plug-in can report)" : "");
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

template <typename T>
std::string JsonOptional(const std::optional<T>& value) {
  return value ? std::to_string(*value) : "null";
}

std::string DetectionJson(const RawVoxDetection& detection) {
  const std::optional<DetectedCoding> coding = ReportedCoding(detection);
  std::string json = "{\"coding\": " + (coding ? JsonQuoted(CodingName(*coding)) : std::string("null"));
  json += ", \"confidence\": " + JsonNumber(ShownConfidence(detection.confidence, 6), 6);
  json += ", \"reason\": " + JsonQuoted(ReadableReason(detection));
  json += ", \"rate\": " + JsonOptional(detection.rate);
  json += ", \"rate_confidence\": " + JsonNumber(detection.rate_confidence, 2);
  json += ", \"rate_hint\": " + JsonOptional(detection.rate_hint);
  json += ", \"t\": " + JsonNumber(detection.t, 3);
  json += ", \"best\": " + (detection.best.empty() ? std::string("null") : JsonQuoted(detection.best));
  return json + "}";
}

void PrintJson(const FileFacts& facts, bool last) {
  std::string tag = facts.tagged ? JsonQuoted(std::string(TagOf(facts.opened_word))) : "null";
  std::printf("  {\"path\": %s, \"tagged\": %s, \"format\": %s, \"file\": %s, ", JsonQuoted(facts.file).c_str(),
              facts.tagged ? "true" : "false", tag.c_str(), JsonQuoted(facts.file).c_str());
  if (!facts.error.empty()) {
    std::printf("\"vox\": false, \"error\": %s}%s\n", JsonQuoted(facts.error).c_str(), last ? "" : ",");
    return;
  }
  std::printf("\"vox\": true, \"form\": \"%s\", \"tag\": %s, \"options_word\": %u, \"display_name\": %s, ",
              facts.tagged ? "tagged" : "raw", tag.c_str(), facts.read_word, JsonQuoted(facts.display_name).c_str());
  if (auto seconds = DurationSeconds(facts)) {
    std::printf("\"rate_hz\": %d, \"duration_s\": %.6f, \"decoded_bytes\": %" PRId64 ", \"duration_at_least\": %s",
                *facts.rate_hz, *seconds, *facts.decoded_bytes, facts.decoded_at_least ? "true" : "false");
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

int RunInfo(const std::vector<std::string>& files, std::optional<OptionsWord> raw_format, bool json) {
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

int RunDecode(const std::string& input, const std::string& output, std::optional<OptionsWord> raw_format) {
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

int RunEncode(const std::string& input, const std::string& output, OptionsWord code, bool no_header,
              std::optional<OptionsWord> raw_format) {
  TranscodeRequest request;
  request.input = input;
  request.output = output;
  request.raw_format = raw_format;
  request.raw_option_name = "--from";
  request.vox_word = code | (no_header ? NoHeaderFlag : 0);
  request.standard_streams = true;
  return RunOne(request);
}

int RunFormats() {
  std::printf("%-5s %-8s %7s %7s  %s\n", "TAG", "ALIAS", "RATE", "KBIT/S", "DISPLAY NAME");
  for (const CodingSpelling& name : CodingNames) {
    int32_t rate = 0;
    int16_t bits = 0;
    int16_t channels = 0;
    GetSuggestedSampleType2(&rate, &bits, &channels, name.word);
    // A sample takes 16 / (PCM bytes per file byte) coded bits: 8 for G.711, 4 for ADPCM.
    int kbit_per_s = rate * 16 / PcmBytesPerFileByte(name.word) / 1000;
    std::printf("%-5s %-8s %7d %7d  %s\n", std::string(TagOf(name.word)).c_str(), std::string(name.alias).c_str(), rate,
                kbit_per_s, DisplayName(name.word));
  }
  return 0;
}
