#include "plugin/catalogue.h"

#include "platform/platform.h"

OptionsWord CodeForTag(const char (&tag_text)[FileTagLength + 1]) {
  for (OptionsWord code = 1; code < FormatCatalogue.size(); ++code) {
    if (lstrcmpA(tag_text, FormatCatalogue[code].tag) == 0) return code;
  }
  return 0;
}
