#include "host/codes.h"

#include <algorithm>
#include <cctype>

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
         });
}

}  // namespace

std::string_view TagOf(OptionsWord word) {
  const char* tag = TagForWriting(word);
  return tag ? std::string_view(tag, FileTagLength) : std::string_view();
}

std::string_view AliasOf(OptionsWord word) {
  for (const CodingSpelling& name : CodingNames) {
    if (name.word == word) return name.alias;
  }
  return {};
}

std::optional<OptionsWord> ParseCodingName(std::string_view text) {
  for (const CodingSpelling& name : CodingNames) {
    if (SameIgnoringCase(text, name.alias) || SameIgnoringCase(text, TagOf(name.word))) return name.word;
  }
  return std::nullopt;
}

std::string CodingNameList() {
  std::string list;
  for (const CodingSpelling& name : CodingNames) {
    if (!list.empty()) list += ", ";
    list += std::string(TagOf(name.word)) + "|" + std::string(name.alias);
  }
  return list;
}
