// kvox convert --files-from LIST: the inputs named in a list, as object-store listings and `find` give
// them. One name a line (a line may end in CR LF; empty lines are passed over), or with -0 each name ends
// in a NUL byte, as `find -print0` writes them (the last may lack it).
#pragma once

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

// A list that cannot be read (exit status 1), or one that is not what the command line says (exit status 2:
// a NUL byte in a list read by lines).
struct ListError : std::runtime_error {
  ListError(const std::string& message, bool usage) : std::runtime_error(message), usage_error(usage) {}
  bool usage_error;
};

// Reads every name from `stream`; `shown_name` is the list's name in errors ("-" is standard input).
std::vector<std::string> ReadNames(std::FILE* stream, bool nul_separated, const std::string& shown_name);

// Reads the list at `path`, or standard input for "-".
std::vector<std::string> ReadNameList(const std::string& path, bool nul_separated);
