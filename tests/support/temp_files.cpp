#include "tests/support/temp_files.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <iterator>
#include <stdexcept>

namespace testing_files {
namespace {

struct Scratch {
  std::filesystem::path folder;
  Scratch() {
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    folder = std::filesystem::temp_directory_path() / ("kvox-test-" + std::to_string(stamp));
    std::filesystem::create_directories(folder);
  }
  ~Scratch() {
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
  }
};

}  // namespace

const std::filesystem::path& ScratchFolder() {
  static Scratch scratch;
  return scratch.folder;
}

std::string NewPath(const std::string& suffix) {
  static std::atomic<int> counter{0};
  return (ScratchFolder() / ("file" + std::to_string(counter++) + suffix)).string();
}

std::string WriteFile(const std::vector<uint8_t>& bytes, const std::string& suffix) {
  std::string path = NewPath(suffix);
  std::ofstream out(path, std::ios::binary);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

std::string WriteFile(const std::string& bytes, const std::string& suffix) {
  return WriteFile(std::vector<uint8_t>(bytes.begin(), bytes.end()), suffix);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + path);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace testing_files
