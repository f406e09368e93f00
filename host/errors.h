// Failures of one file's work. The message always starts with the file it concerns, so a batch can print
// it as it is: "calls/0412.vox: not a VOX file ...".
#pragma once

#include <stdexcept>
#include <string>

struct FileError : std::runtime_error {
  FileError(const std::string& path, const std::string& reason) : std::runtime_error(path + ": " + reason) {}
};

// The text of the C library's error number, such as "No such file or directory".
std::string SystemReason(int error_number);
