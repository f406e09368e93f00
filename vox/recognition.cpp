// Whether a path names a VOX file: by the tag in its first four bytes, else by its extension.
#include "plugin/catalogue.h"
#include "plugin/filter_api.h"
#include "vox/layout.h"

namespace {

constexpr char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool HasVoxExtension(const char* path) {
  int length = lstrlenA(path);
  if (length < 4) return false;
  const char* extension = path + length - 4;
  return extension[0] == '.' && LowerAscii(extension[1]) == 'v' && LowerAscii(extension[2]) == 'o' &&
         LowerAscii(extension[3]) == 'x';
}

}  // namespace

OptionsWord ReadFileTag(HFILE file) {
  char tag_text[FileTagLength + 1] = {};
  UINT got = _lread(file, tag_text, FileTagLength);
  if (got != static_cast<UINT>(FileTagLength)) return 0;
  return CodeForTag(tag_text);
}

extern "C" int32_t FILTER_CALL FilterUnderstandsFormat(const char* path) {
  if (path == nullptr) return 0;
  HFILE file = _lopen(path, OF_READ);
  if (file != HFILE_ERROR) {
    OptionsWord code = ReadFileTag(file);
    _lclose(file);
    if (code != 0) return 1;
  }
  return HasVoxExtension(path) ? 1 : 0;
}
