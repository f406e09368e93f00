// kvox convert --report FILE: JSON Lines, one object per input, written as each input is finished. Each line
// goes to the file in one write as soon as it is made, so a run ended in any way (even kill -9) leaves a
// line for every input it finished; a resumed run appends to the same file. The fields:
//
//   path        the input, as given or found
//   output      the output it makes (null when none could be planned)
//   status      "converted", "skipped" (-n, and the output exists) or "failed"
//   reason      why it failed or was skipped; null when converted
//   tagged      true or false for a VOX input, null for other audio files (and when not learnt)
//   coding      the coding a VOX input was read with ("ulaw", "adpcm24", ...), or null
//   coding_from "tag", "content" or "named" (--from), or null
//   confidence  the content's confidence in the coding (0..1, cut down to 6 places) when a raw file's content
//               was examined, whether or not it was acted on; else null
//   rate        the input's rate in Hz, or null
//   rate_from   "tag", "named", "content" (its tones), "assumed" (8000 Hz; the content does not tell) or
//               "header" (an audio file's own), or null
//   duration    seconds of audio written, or null
//   bytes_in    the input's size, or null
//   bytes_out   the output's size, or null
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "host/transcode.h"

struct ReportEntry {
  std::string path;
  std::string output;  // "" for null
  std::string status;
  std::string reason;  // "" for null
  TranscodeFacts facts;
  std::optional<double> duration_seconds;
  std::optional<int64_t> bytes_in;
  std::optional<int64_t> bytes_out;
};

// One JSON object and its newline.
std::string ReportLine(const ReportEntry& entry);

class ReportFile {
 public:
  // Opens `path` for appending, creating it when missing. A last line that a killed run left cut off (no
  // newline at the end) is removed first, so the file stays whole JSON Lines; `repaired` tells whether that
  // happened. Throws FileError.
  explicit ReportFile(const std::string& path);
  ~ReportFile();
  ReportFile(const ReportFile&) = delete;
  ReportFile& operator=(const ReportFile&) = delete;

  bool Repaired() const { return repaired_; }
  // Writes the line whole, from any thread; throws FileError when it cannot.
  void Write(const ReportEntry& entry);

 private:
  std::string path_;
  int descriptor_ = -1;
  bool repaired_ = false;
  std::mutex mutex_;
};
