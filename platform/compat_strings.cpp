#include <cstring>

#include "platform/platform.h"

LPSTR lstrcpyA(LPSTR destination, LPCSTR source) {
  if (destination == nullptr || source == nullptr) return nullptr;
  return std::strcpy(destination, source);
}

int lstrcmpA(LPCSTR first, LPCSTR second) {
  if (first == nullptr || second == nullptr) return first == second ? 0 : (first == nullptr ? -1 : 1);
  int order = std::strcmp(first, second);
  return order < 0 ? -1 : order > 0 ? 1 : 0;
}

int lstrlenA(LPCSTR text) { return text == nullptr ? 0 : static_cast<int>(std::strlen(text)); }
