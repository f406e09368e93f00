// Scratch files for tests, in a fresh folder per test program run (works natively and under Wine).
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testing_files {

// A folder that exists for the life of the test program and is removed at its end.
const std::filesystem::path& ScratchFolder();

// A path in the scratch folder, unique per call, with the given file name suffix (such as ".vox").
std::string NewPath(const std::string& suffix);

// Writes the bytes to a new scratch file and returns its path.
std::string WriteFile(const std::vector<uint8_t>& bytes, const std::string& suffix);
std::string WriteFile(const std::string& bytes, const std::string& suffix);

std::vector<uint8_t> ReadFile(const std::string& path);

}  // namespace testing_files
