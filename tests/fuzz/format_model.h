// The catalogue's rules as the fuzz targets expect them, restated from the file format's description and
// not taken from the plug-in's own tables, so that a fault in those tables shows as a disagreement.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "tests/fuzz/fuzz_support.h"

namespace fuzzing {

enum class ModelCoding { None, Alaw, Mulaw, Adpcm };

inline ModelCoding CodingOfWord(uint32_t word) {
  switch (word & 0x0F) {
    case 1:
    case 2:
      return ModelCoding::Alaw;
    case 3:
    case 4:
      return ModelCoding::Mulaw;
    case 5:
    case 6:
      return ModelCoding::Adpcm;
    default:
      return ModelCoding::None;
  }
}

// PCM bytes per file byte.
inline int32_t FactorOfWord(uint32_t word) { return CodingOfWord(word) == ModelCoding::Adpcm ? 4 : 2; }

inline int32_t RateOfWord(uint32_t word) {
  uint32_t code = word & 0x0F;
  return code == 2 || code == 4 || code == 6 ? 6000 : 8000;
}

inline constexpr const char* ModelTags[] = {"064A", "048A", "064U", "048U", "032D", "024D"};

// The tag a file written under this word begins with: only the exact words 1 to 6 have one.
inline const char* TagOfWord(uint32_t word) { return word >= 1 && word <= 6 ? ModelTags[word - 1] : nullptr; }

inline const char* NameOfWord(uint32_t word) {
  constexpr const char* Names[] = {"Kestrovan Unknown Format", "Kestrovan 64KB A-Law", "Kestrovan 48KB A-Law",
                                   "Kestrovan 64KB U-Law",     "Kestrovan 48KB U-Law", "Kestrovan 32KB ADPCM",
                                   "Kestrovan 24KB ADPCM"};
  uint32_t code = word & 0x0F;
  return code < 7 ? Names[code] : nullptr;
}

// The format code named by a file's first four bytes; 0 when they are no tag.
inline uint32_t CodeOfTag(const std::vector<uint8_t>& contents) {
  if (contents.size() < 4) return 0;
  for (uint32_t row = 0; row < 6; ++row) {
    if (std::memcmp(contents.data(), ModelTags[row], 4) == 0) return row + 1;
  }
  return 0;
}

// An options word: mostly small ones (codes, flags), sometimes any 32 bits.
inline uint32_t SomeWord(InputBytes& input) {
  uint8_t choice = input.Byte();
  return choice < 0xC0 ? choice & 0x3F : input.Word32();
}

}  // namespace fuzzing
