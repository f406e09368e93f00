// The one place that decides how a raw VOX file (one without a coding tag) is read. A raw file stores no
// coding and no rate: the user may name the coding, and otherwise kvox looks at the content. It acts on
// what it finds only when the coding is claimed with a confidence of 0.9 or more; the rate it takes from
// the content only when tones decide it at 0.9 or more, and otherwise reads at 8000 Hz and says how to ask
// for 6000 Hz. Every command (info, decode, encode, convert) follows whatever this decides.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "detect/detect.h"
#include "plugin/catalogue.h"

// Claims at or above this confidence are acted on, for the coding and for the rate alike.
inline constexpr double ActOnConfidence = 0.9;
// Below this a claimed coding is reported as unknown.
inline constexpr double UnsureConfidence = 0.5;

struct RawFormatChoice {
  std::optional<OptionsWord> word;           // the coding to read the file with; empty when undecided
  std::string source;                        // how it was decided: the option's name, or "content"
  std::vector<std::string> notes;            // what the user should hear about a choice made from content
  std::string reason;                        // when undecided: why, and the option values to try
  std::string advice;                        // when undecided: the option values to try alone
  std::optional<RawVoxDetection> detection;  // when the content was looked at
};

// `requested` is the coding the user named for raw inputs (--format or --from), if any; it always wins and
// the content is then not looked at. `option_name` is the option's spelling in the command at hand, so the
// advice names it. Throws FileError when the file cannot be read. Notes and errors name `shown_path`
// (`path` when empty).
RawFormatChoice ChooseRawFormat(const std::string& path, std::optional<OptionsWord> requested,
                                const std::string& option_name, const std::string& shown_path = "");

// What the content of the file at `path` says of its coding and rate. Reads only the bytes the detector
// looks at (a long file is sampled in a few chunks). Throws FileError, naming `shown_path` (`path` when
// empty), when the file cannot be read.
RawVoxDetection DetectRawFile(const std::string& path, const std::string& shown_path = "");

// "coding A-law, confidence 0.99; rate unknown from content", for people.
std::string DetectionSummary(const RawVoxDetection& detection);

// The coding reported to the user: the detector's claim at a confidence of 0.5 or more, else unknown.
std::optional<DetectedCoding> ReportedCoding(const RawVoxDetection& detection);

// Why the coding is unknown, in the user's words ("looks like 16-bit PCM, not this format"); "" when a
// coding is reported.
std::string ReadableReason(const RawVoxDetection& detection);

// The options word for a detected coding at 8000 or 6000 Hz.
OptionsWord WordFor(DetectedCoding coding, int rate_hz);

// The confidence as shown: cut down (never rounded up) to `decimals` places, so a claim below a threshold
// never reads as reaching it.
double ShownConfidence(double confidence, int decimals);
