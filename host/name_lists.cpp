#include "host/name_lists.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "host/errors.h"

std::vector<std::string> ReadNames(std::FILE* stream, bool nul_separated, const std::string& shown_name) {
  std::vector<std::string> names;
  char* buffer = nullptr;
  size_t capacity = 0;
  const std::unique_ptr<char*, void (*)(char**)> owner(&buffer, [](char** held) { std::free(*held); });
  const int separator = nul_separated ? '\0' : '\n';
  for (;;) {
    errno = 0;
    const ssize_t length = getdelim(&buffer, &capacity, separator, stream);
    if (length < 0) {
      if (std::ferror(stream)) {
        throw ListError(shown_name + ": reading the list failed: " + SystemReason(errno ? errno : EIO), false);
      }
      break;
    }
    std::string name(buffer, static_cast<size_t>(length));
    if (!name.empty() && name.back() == static_cast<char>(separator)) name.pop_back();
    if (!nul_separated) {
      if (name.find('\0') != std::string::npos) {
        throw ListError(shown_name + ": the list holds NUL bytes; for names that end in NUL (find -print0), add -0",
                        true);
      }
      if (!name.empty() && name.back() == '\r') name.pop_back();
    }
    if (!name.empty()) names.push_back(std::move(name));
  }
  return names;
}

std::vector<std::string> ReadNameList(const std::string& path, bool nul_separated) {
  if (path == "-") return ReadNames(stdin, nul_separated, "standard input");
  std::FILE* stream = std::fopen(path.c_str(), "rbe");
  if (stream == nullptr) throw ListError(path + ": cannot read the list: " + SystemReason(errno), false);
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> owner(stream, std::fclose);
  return ReadNames(stream, nul_separated, path);
}
