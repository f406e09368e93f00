// The six codings by name, the version and the error texts.
#include <algorithm>
#include <array>
#include <cctype>
#include <cerrno>
#include <string_view>

#include "kestrovan_vox_version.h"
#include "libkvox/internal.h"

namespace {

using kvox_internal::WordOf;

// kvox's readable names, in the catalogue's order of format codes.
constexpr std::array<std::string_view, KVOX_CODING_COUNT> Aliases = {"alaw", "alaw48", "ulaw", "ulaw48", "adpcm",
                                                                      "adpcm24"};
static_assert(Aliases[KVOX_ULAW48 - 1] == "ulaw48" && Aliases[KVOX_ADPCM24 - 1] == "adpcm24");

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

struct ErrorText {
  int code;
  const char* text;
};

constexpr ErrorText ErrorTexts[] = {
    {KVOX_OK, "success"},
    {KVOX_EINVAL, "invalid argument"},
    {KVOX_ECODING, "not one of the six VOX codings"},
    {KVOX_ENOMEM, "Cannot allocate memory"},
    {KVOX_ENOENT, "No such file or directory"},
    {KVOX_EISDIR, "is a folder, not a file"},
    {KVOX_EACCES, "Permission denied"},
    {KVOX_ENOTREG, "not a regular file (a pipe or a device)"},
    {KVOX_EEMPTY, "the file is empty: it holds no audio"},
    {KVOX_ETRUNCATED, "cut short: it ends inside its four-byte coding tag, before any audio"},
    {KVOX_EUNDECIDED, "a raw VOX file whose content does not settle its coding: name its coding"},
    {KVOX_EIO, "Input/output error"},
    {KVOX_ENOSPC, "No space left on device"},
    {KVOX_ETOOLONG, "too long for a VOX file: the plug-in cannot measure one of 4 GiB or more"},
    {KVOX_ESYSTEM, "the operating system refused"},
};

}  // namespace

namespace kvox_internal {

int ErrorFromErrno(int error_number, int fallback) {
  switch (error_number) {
    case 0:
      return fallback;
    case ENOENT:
    case ENOTDIR:
      return KVOX_ENOENT;
    case EISDIR:
      return KVOX_EISDIR;
    case EACCES:
    case EPERM:
    case EROFS:
      return KVOX_EACCES;
    case ENOSPC:
    case EDQUOT:
      return KVOX_ENOSPC;
    case ENOMEM:
      return KVOX_ENOMEM;
    case EFBIG:
      return KVOX_ETOOLONG;
    case EIO:
      return KVOX_EIO;
    default:
      return KVOX_ESYSTEM;
  }
}

}  // namespace kvox_internal

extern "C" {

int kvox_coding_from_name(const char* name, kvox_coding* out) {
  if (out != nullptr) *out = KVOX_CODING_NONE;
  if (name == nullptr || out == nullptr) return KVOX_EINVAL;
  for (int value = 1; value <= KVOX_CODING_COUNT; ++value) {
    const auto coding = static_cast<kvox_coding>(value);
    if (SameIgnoringCase(name, Aliases[value - 1]) || SameIgnoringCase(name, kvox_coding_tag(coding))) {
      *out = coding;
      return KVOX_OK;
    }
  }
  return KVOX_ECODING;
}

const char* kvox_coding_tag(kvox_coding coding) {
  const auto word = WordOf(coding);
  return word ? FormatCatalogue[*word].tag : nullptr;
}

const char* kvox_coding_alias(kvox_coding coding) {
  const auto word = WordOf(coding);
  return word ? Aliases[*word - 1].data() : nullptr;
}

const char* kvox_coding_display_name(kvox_coding coding) {
  // 0 has the plug-in's name for a raw file whose coding is not set.
  if (coding == KVOX_CODING_NONE) return DisplayName(0);
  const auto word = WordOf(coding);
  return word ? DisplayName(*word) : nullptr;
}

int kvox_coding_rate(kvox_coding coding) {
  const auto word = WordOf(coding);
  return word ? SampleRate(*word) : 0;
}

int kvox_coding_bits(kvox_coding coding) {
  const auto word = WordOf(coding);
  return word ? 16 / PcmBytesPerFileByte(*word) : 0;
}

kvox_coding kvox_coding_at_rate(kvox_coding coding, int rate) {
  if (!WordOf(coding) || (rate != 8000 && rate != 6000)) return KVOX_CODING_NONE;
  // The codings come in pairs, 8000 Hz first: 1 and 2, 3 and 4, 5 and 6.
  const int first = (static_cast<int>(coding) - 1) / 2 * 2 + 1;
  return static_cast<kvox_coding>(rate == 6000 ? first + 1 : first);
}

const char* kvox_version(void) { return KVOX_VERSION_STRING; }

const char* kvox_strerror(int error) {
  for (const ErrorText& entry : ErrorTexts) {
    if (entry.code == error) return entry.text;
  }
  return "unknown error";
}

}  // extern "C"
