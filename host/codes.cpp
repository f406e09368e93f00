#include "host/codes.h"

std::string_view TagOf(kvox_coding coding) {
  const char* tag = kvox_coding_tag(coding);
  return tag ? std::string_view(tag) : std::string_view();
}

std::string_view AliasOf(kvox_coding coding) {
  const char* alias = kvox_coding_alias(coding);
  return alias ? std::string_view(alias) : std::string_view();
}

std::optional<kvox_coding> ParseCodingName(std::string_view text) {
  kvox_coding coding = KVOX_CODING_NONE;
  if (kvox_coding_from_name(std::string(text).c_str(), &coding) != KVOX_OK) return std::nullopt;
  return coding;
}

std::string CodingNameList() {
  std::string list;
  for (kvox_coding coding : AllCodings) {
    if (!list.empty()) list += ", ";
    list += std::string(TagOf(coding)) + "|" + std::string(AliasOf(coding));
  }
  return list;
}
