// Text as a JSON string, for kvox info --json and the page's bridge alike.
#pragma once

#include <cstdio>
#include <string>

// Text inside double quotes in JSON: quotes and backslashes escaped, control characters as \u00XX.
inline std::string JsonQuoted(const std::string& text) {
  std::string quoted = "\"";
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      quoted += '\\';
      quoted += static_cast<char>(c);
    } else if (c < 0x20) {
      char escape[8];
      std::snprintf(escape, sizeof(escape), "\\u%04x", c);
      quoted += escape;
    } else {
      quoted += static_cast<char>(c);
    }
  }
  return quoted + "\"";
}
