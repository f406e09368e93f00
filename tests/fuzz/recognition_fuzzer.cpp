// Recognition: any name text and any first bytes. The answer must be exactly "the file begins with one of
// the six tags, or the name ends in .vox in any case", and no file may be left open.
//
// Input: one byte for the length of the name text, the name text, then the file's contents.
#include <unistd.h>

#include <cstring>
#include <string>

#include "plugin/filter_api.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using fuzzing::InputBytes;

constexpr const char* Tags[] = {"064A", "048A", "064U", "048U", "032D", "024D"};

bool BeginsWithTag(const std::vector<uint8_t>& contents) {
  if (contents.size() < 4) return false;
  for (const char* tag : Tags) {
    if (std::memcmp(contents.data(), tag, 4) == 0) return true;
  }
  return false;
}

bool EndsWithVoxExtension(const char* path) {
  size_t length = std::strlen(path);
  if (length < 4) return false;
  const char* tail = path + length - 4;
  return tail[0] == '.' && (tail[1] == 'v' || tail[1] == 'V') && (tail[2] == 'o' || tail[2] == 'O') &&
         (tail[3] == 'x' || tail[3] == 'X');
}

// A file name made from the fuzzer's text: slashes become underscores so it stays inside the scratch folder,
// a leading letter keeps it from being "." or "..", and it stays within the file system's name length.
std::string FileNameFrom(const std::vector<uint8_t>& text) {
  std::string name = "f";
  for (uint8_t byte : text) {
    if (byte == 0 || name.size() == 200) break;
    name += byte == '/' ? '_' : static_cast<char>(byte);
  }
  return name;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputBytes input(data, size);
  std::vector<uint8_t> name_text = input.Bytes(input.Byte());
  std::vector<uint8_t> contents = input.Bytes(input.Left());

  // A file that exists, named after the text: its first bytes and its name both count.
  std::string present = fuzzing::ScratchFolder() + "/" + FileNameFrom(name_text);
  fuzzing::WriteWholeFile(present, contents);
  bool expected = BeginsWithTag(contents) || EndsWithVoxExtension(present.c_str());
  int32_t answer = FilterUnderstandsFormat(present.c_str());
  unlink(present.c_str());
  FUZZ_CHECK(answer == (expected ? 1 : 0), "existing file " + present + " answered " + std::to_string(answer));

  // A path that cannot be opened, with the text as it came (slashes, dots, any byte up to a zero): the name
  // alone decides.
  std::string absent = fuzzing::ScratchFolder() + "/absent/" + std::string(name_text.begin(), name_text.end());
  const char* absent_path = absent.c_str();
  answer = FilterUnderstandsFormat(absent_path);
  FUZZ_CHECK(answer == (EndsWithVoxExtension(absent_path) ? 1 : 0),
             std::string("missing file ") + absent_path + " answered " + std::to_string(answer));

  fuzzing::CheckNothingLeftOpen("recognition");
  return 0;
}
