// How kvox tells a user what libkvox decided for a raw VOX file (one without a coding tag): the note when
// the content settled its coding, and the option values to try when it did not. The decision itself, and
// the detection, are libkvox's (kvox_open, kvox_detect_file).
#pragma once

#include <kvox.h>

#include <string>

// "coding A-law, confidence 0.99; rate unknown from content", for people.
std::string DetectionSummary(const kvox_detection& detection);

// The note for a file whose coding came from its content: "PATH: raw; reading it as mu-law (from its
// content, confidence 0.99) at 8000 Hz: ...; if it runs at 6000 Hz, use --format ulaw48".
std::string ContentChoiceNote(const std::string& shown_path, const kvox_info& info, const std::string& option_name);

// The option values that would read the file, the likeliest first ("if it is A-law, try --format alaw or
// --format alaw48").
std::string Advice(const kvox_detection& detection, const std::string& option_name);

// Why a raw file's coding is not settled, with the values to try.
std::string UndecidedReason(const kvox_detection& detection, const std::string& option_name);

// The readable name of a detected coding family: "A-law", "mu-law", "ADPCM".
const char* ReadableCoding(kvox_coding coding);

// The same coding family at the other rate (KVOX_ALAW <-> KVOX_ALAW48, ...).
kvox_coding AtRate(kvox_coding coding, int rate_hz);
