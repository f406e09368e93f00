// The one place that decides how a raw VOX file (one without a coding tag) is read. A raw file stores no
// coding and no rate, so today the user must name the coding; a later content detector plugs in here, and
// every command (info, decode, encode, convert) follows whatever this decides.
#pragma once

#include <optional>
#include <string>

#include "plugin/catalogue.h"

struct RawFormatChoice {
  std::optional<OptionsWord> word;  // the coding to read the file with; empty when undecided
  std::string source;               // how it was decided, for the user ("--format")
  std::string reason;               // when undecided: why, and what the user can do
};

// `requested` is the coding the user named for raw inputs (--format or --from), if any. `option_name` is
// the option's spelling in the command at hand, so the advice names it.
RawFormatChoice ChooseRawFormat(const std::string& path, std::optional<OptionsWord> requested,
                                const std::string& option_name);
