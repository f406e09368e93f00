// The names a user gives a VOX coding on the command line: the four-letter tag ("064A") in any case, or a
// readable alias ("alaw"). Each names one options word of the plug-in, always one of 1 to 6.
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

#include "plugin/catalogue.h"

struct CodingSpelling {
  OptionsWord word;        // 1..6, the plug-in's format code with no flags
  std::string_view alias;  // kvox's own readable name
};

inline constexpr std::array<CodingSpelling, 6> CodingNames{{
    {1, "alaw"},
    {2, "alaw48"},
    {3, "ulaw"},
    {4, "ulaw48"},
    {5, "adpcm"},
    {6, "adpcm24"},
}};
static_assert(CodingNames[3].word == 4 && CodingNames[3].alias == "ulaw48");

// The plug-in's tag for a word 1..6 (the catalogue's, so it is never restated here).
std::string_view TagOf(OptionsWord word);
std::string_view AliasOf(OptionsWord word);

// The word named by a tag or alias, compared without regard to case; nothing for any other text.
std::optional<OptionsWord> ParseCodingName(std::string_view text);

// "064A|alaw, 048A|alaw48, ..." for error messages and help texts.
std::string CodingNameList();
