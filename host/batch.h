// kvox convert: many files, and every file inside the folders given, into one output folder, several at a
// time. A failed file is reported and the batch goes on; the exit status tells whether any failed.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/codes.h"

struct BatchRequest {
  std::vector<std::string> paths;  // files and folders
  std::string output_folder;
  std::optional<VoxOutputKind> vox_output;  // --to CODE (and --no-header); empty for --to wav
  std::optional<kvox_coding> raw_format;    // --from CODE, for raw VOX inputs
  int jobs = 1;
  bool progress_bar = false;  // only on a terminal
};

// One input and the output made from it.
struct BatchItem {
  std::string input;
  std::string output;
  std::string error;  // set when the item cannot be made at all (a clash of names)
};

// The inputs in a stable order, each with its output name: a file given by name lands in the output folder
// under its own name; a file found in a folder keeps its place below that folder. The extension becomes
// .vox or .wav. Files whose names begin with a full stop are skipped inside folders, and links to folders
// are not followed; an entry that cannot be listed or read (a dangling link, a folder without permission,
// one that vanished during the walk) is an item that fails with its reason.
std::vector<BatchItem> PlanBatch(const BatchRequest& request);

int RunConvert(const BatchRequest& request);
