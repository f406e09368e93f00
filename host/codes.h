// The names a user gives a VOX coding on the command line: the four-letter tag ("064A") in any case, or a
// readable alias ("alaw"), as libkvox reads them.
#pragma once

#include <kvox.h>

#include <optional>
#include <string>
#include <string_view>

// The six codings in the catalogue's order.
inline constexpr kvox_coding AllCodings[KVOX_CODING_COUNT] = {KVOX_ALAW,   KVOX_ALAW48, KVOX_ULAW,
                                                              KVOX_ULAW48, KVOX_ADPCM,  KVOX_ADPCM24};

std::string_view TagOf(kvox_coding coding);
std::string_view AliasOf(kvox_coding coding);

// The coding named by a tag or alias, compared without regard to case; nothing for any other text.
std::optional<kvox_coding> ParseCodingName(std::string_view text);

// "064A|alaw, 048A|alaw48, ..." for error messages and help texts.
std::string CodingNameList();

// What a VOX output is: its coding, and whether it carries the tag.
struct VoxOutputKind {
  kvox_coding coding = KVOX_CODING_NONE;
  bool tag = true;
};
