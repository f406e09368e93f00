// What the library's parts share: the handles' records and the mapping of system errors to kvox codes.
#pragma once

#include <optional>
#include <string>

#include "libkvox/kvox.h"
#include "plugin/catalogue.h"

namespace kvox_internal {

// The options word of one of the six codings, or nothing for any other value.
constexpr std::optional<OptionsWord> WordOf(kvox_coding coding) {
  const int value = static_cast<int>(coding);
  if (value < 1 || value > KVOX_CODING_COUNT) return std::nullopt;
  return static_cast<OptionsWord>(value);
}

constexpr kvox_coding CodingOfWord(OptionsWord word) {
  const uint32_t code = FormatCode(word);
  return code >= 1 && code <= KVOX_CODING_COUNT ? static_cast<kvox_coding>(code) : KVOX_CODING_NONE;
}

static_assert(WordOf(KVOX_ULAW48) == 4 && !WordOf(static_cast<kvox_coding>(7)) && CodingOfWord(0x15) == KVOX_ADPCM);

// The kvox code for a C library error number; `fallback` when the number says nothing (0).
int ErrorFromErrno(int error_number, int fallback);

inline void SetError(int* err, int value) {
  if (err != nullptr) *err = value;
}

}  // namespace kvox_internal
