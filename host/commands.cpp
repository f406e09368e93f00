#include "host/commands.h"

#include <cinttypes>
#include <cstdio>
#include <exception>

#include "host/audio_file.h"
#include "host/codes.h"
#include "host/errors.h"
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
  std::string note;
};

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
    } else if (RawFormatChoice choice = ChooseRawFormat(path, raw_format, "--format"); choice.word) {
      reader.SetFormat(*choice.word);
      facts.read_word = *choice.word;
      facts.rate_hz = reader.RateHz();
      facts.note = "coding from " + choice.source;
      // The plug-in's decoded size stays as computed before the coding was set, so count what reads give.
      int16_t block[BlockSize / 2];
      while (reader.Read(block) > 0) {
      }
      facts.decoded_bytes = reader.DeliveredBytes();
    } else {
      facts.note = choice.reason;
    }
    facts.display_name = reader.DisplayName();
  } catch (const std::exception& failure) {
    facts.error = failure.what();
  }
  return facts;
}

std::optional<double> DurationSeconds(const FileFacts& facts) {
  if (!facts.rate_hz || !facts.decoded_bytes || *facts.rate_hz <= 0) return std::nullopt;
  return static_cast<double>(*facts.decoded_bytes / 2) / *facts.rate_hz;
}

void PrintText(const FileFacts& facts) {
  std::string line = facts.file + ": " + (facts.tagged ? "tagged " + std::string(TagOf(facts.opened_word)) : "raw");
  line += ", " + facts.display_name;
  if (auto seconds = DurationSeconds(facts)) {
    char figures[160];
    std::snprintf(figures, sizeof(figures), ", %d Hz, %.3f s, %" PRId64 " bytes of 16-bit mono PCM", *facts.rate_hz,
                  *seconds, *facts.decoded_bytes);
    line += figures;
  }
  if (!facts.note.empty()) line += " (" + facts.note + ")";
  std::printf("%s\n", line.c_str());
}

void PrintJson(const FileFacts& facts, bool last) {
  std::printf("  {\"file\": %s, ", JsonQuoted(facts.file).c_str());
  if (!facts.error.empty()) {
    std::printf("\"vox\": false, \"error\": %s}%s\n", JsonQuoted(facts.error).c_str(), last ? "" : ",");
    return;
  }
  std::string tag = facts.tagged ? JsonQuoted(std::string(TagOf(facts.opened_word))) : "null";
  std::printf("\"vox\": true, \"form\": \"%s\", \"tag\": %s, \"options_word\": %u, \"display_name\": %s, ",
              facts.tagged ? "tagged" : "raw", tag.c_str(), facts.read_word, JsonQuoted(facts.display_name).c_str());
  if (auto seconds = DurationSeconds(facts)) {
    std::printf("\"rate_hz\": %d, \"duration_s\": %.6f, \"decoded_bytes\": %" PRId64, *facts.rate_hz, *seconds,
                *facts.decoded_bytes);
  } else {
    std::printf("\"rate_hz\": null, \"duration_s\": null, \"decoded_bytes\": null");
  }
  if (!facts.note.empty()) std::printf(", \"note\": %s", JsonQuoted(facts.note).c_str());
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

std::string JsonQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}

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
  try {
    request.sound_format = SoundFormatForName(output);
  } catch (const std::exception& failure) {
    PrintError(failure.what());
    return 1;
  }
  return RunOne(request);
}

int RunEncode(const std::string& input, const std::string& output, OptionsWord code, bool no_header) {
  TranscodeRequest request;
  request.input = input;
  request.output = output;
  request.vox_word = code | (no_header ? NoHeaderFlag : 0);
  return RunOne(request);
}

int RunFormats() {
  std::printf("%-5s %-8s %7s %7s  %s\n", "TAG", "ALIAS", "RATE", "KBIT/S", "DISPLAY NAME");
  for (const CodingName& name : CodingNames) {
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
