// The VOX file layout: an optional four-byte tag, then the coded samples to the end of the file.
#pragma once

#include "platform/platform.h"
#include "plugin/catalogue.h"

// Reads four bytes from the file's current position and gives the format code of the tag they form, or 0
// when fewer than four bytes came or they are no tag.
OptionsWord ReadFileTag(HFILE file);

// Where the coded samples start.
constexpr int32_t DataOffset(OptionsWord tagged_code) { return tagged_code != 0 ? FileTagLength : 0; }
