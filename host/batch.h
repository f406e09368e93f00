// kvox convert: many files, and every file inside the folders given or named in a list, into one output
// folder, several at a time. A failed file is reported and the batch goes on; the exit status tells whether
// any failed. With -n a run resumes one that was interrupted, with --shard it takes its part of a batch
// that several machines share, and with --report it records what was decided for each file.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "host/shards.h"
#include "host/codes.h"

struct BatchRequest {
  std::vector<std::string> paths;         // files and folders
  std::string files_from;                 // --files-from: a list of files, "-" for standard input; "" for none
  bool nul_separated = false;             // -0: the list's names end in NUL bytes
  std::string output_folder;
  std::optional<VoxOutputKind> vox_output;  // --to CODE (and --no-header); empty for an audio type
  std::string extension = ".wav";         // the outputs' extension: ".vox", or the audio type's (".flac")
  std::optional<kvox_coding> raw_format;    // --from CODE, for raw VOX inputs
  int jobs = 1;
  bool progress_bar = false;    // only on a terminal
  bool no_clobber = false;      // -n: an input whose output exists is skipped
  std::optional<Shard> shard;   // --shard K/N: only the inputs that fall to shard K
  std::string report_path;      // --report: JSON Lines, one object per input (host/report.h)
};

// One input and the output made from it.
struct BatchItem {
  std::string input;
  std::string output;
  std::string error;  // set when the item cannot be made at all (a clash of names, an unreadable entry)
  std::string key;    // what decides its shard: its path below the folder given, or its name as given
};

struct BatchPlan {
  std::vector<BatchItem> items;
  std::vector<std::string> notes;  // for the user, such as folders named in a list and passed over
};

// The inputs in a stable order, each with its output name and shard key:
// - a file given by name lands in the output folder under its own name; its key is its name as given;
// - a file found in a folder keeps its place below that folder, which is also its key;
// - a file named in the list `listed` keeps its name as listed below the output folder (a leading "/"
//   dropped; a name that climbs out with ".." fails), and that name is its key; folders in a list are
//   passed over with a note (a list names files, as `find -type f` gives them).
// Keys are lexically normal, with "/" between folders ("./a//b.vox" is "a/b.vox"). The extension becomes
// the request's. Files whose names begin with a full stop are skipped inside folders, and links to folders
// are not followed; an entry that cannot be listed or read (a dangling link, a folder without permission,
// one that vanished during the walk) is an item that fails with its reason. Of two inputs that would make
// one output, the one whose name sorts first makes it and the other fails, whatever the order they came in.
BatchPlan PlanBatch(const BatchRequest& request, std::vector<std::string> listed = {});

// Returns the exit status: 0, 1 when a file failed (or nothing was found to convert), 2 for a list that is
// not what the command line says.
int RunConvert(const BatchRequest& request);
