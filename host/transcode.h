// One file from one form to another: a VOX file (read through the plug-in) or any audio file libsndfile
// reads, into a VOX file of a chosen coding (written through the plug-in) or an audio file libsndfile
// writes. decode, encode and every job of convert are this one operation.
#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "host/codes.h"

struct TranscodeRequest {
  std::string input;                      // a path, or "-" for standard input when standard_streams is set
  std::string output;                     // a path, or "-" for standard output when standard_streams is set
  std::optional<VoxOutputKind> vox_output;  // write a VOX file of this coding, with or without the tag
  int sound_format = 0;                   // otherwise an audio file of this libsndfile format
  std::optional<kvox_coding> raw_format;    // the coding the user named for raw VOX inputs
  std::string raw_option_name = "--format";
  bool vox_input_only = false;                         // decode takes VOX files only
  bool standard_streams = false;                       // "-" means standard input or output (decode and encode)
  bool read_ahead = true;                              // read each step on a second thread while the last is written
  std::function<void(double fraction_done)> progress;  // called after each block, if set
};

struct TranscodeOutcome {
  double audio_seconds = 0;        // length of the audio written
  std::vector<std::string> notes;  // things the user may want to know, each naming the file
};

// Throws FileError (or another std::exception) naming the file at fault; no output is left behind then.
TranscodeOutcome Transcode(const TranscodeRequest& request);

// Rejects, with the system's reason, an input that is missing, a folder, a pipe or device, unreadable or
// empty, before any library sees it. Errors name `shown_path` (`path` when empty).
void CheckInputFile(const std::string& path, const std::string& shown_path = "");
