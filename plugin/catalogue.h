// The format catalogue and the rules that turn an options word into a rate, a coding, a tag, a display
// name and a size factor. Every other part of the plug-in asks these rules; none restates them.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

using OptionsWord = uint32_t;

inline constexpr OptionsWord FormatCodeMask = 0x0F;
inline constexpr OptionsWord NoHeaderFlag = 0x10;      // files written under the word carry no tag
inline constexpr OptionsWord HeaderLockedFlag = 0x20;  // the dialog shows the header box unchecked and disabled

enum class Coding { None, Alaw, Mulaw, Adpcm };

struct CatalogueRow {
  const char* tag;           // four ASCII bytes, no terminator in a file; nullptr for code 0
  const char* display_name;  // shown to the user and returned to the host
  int32_t sample_rate;       // Hz
  Coding coding;
  int32_t pcm_bytes_per_file_byte;
};

// Rows 0..6; codes 7..15 have no row.
inline constexpr std::array<CatalogueRow, 7> FormatCatalogue{{
    {nullptr, "Kestrovan Unknown Format", 8000, Coding::None, 2},
    {"064A", "Kestrovan 64KB A-Law", 8000, Coding::Alaw, 2},
    {"048A", "Kestrovan 48KB A-Law", 6000, Coding::Alaw, 2},
    {"064U", "Kestrovan 64KB U-Law", 8000, Coding::Mulaw, 2},
    {"048U", "Kestrovan 48KB U-Law", 6000, Coding::Mulaw, 2},
    {"032D", "Kestrovan 32KB ADPCM", 8000, Coding::Adpcm, 4},
    {"024D", "Kestrovan 24KB ADPCM", 6000, Coding::Adpcm, 4},
}};

inline constexpr int FileTagLength = 4;

constexpr uint32_t FormatCode(OptionsWord word) { return word & FormatCodeMask; }

constexpr bool HasCatalogueRow(uint32_t format_code) { return format_code < FormatCatalogue.size(); }

constexpr int32_t SampleRate(OptionsWord word) {
  uint32_t code = FormatCode(word);
  return code == 2 || code == 4 || code == 6 ? 6000 : 8000;
}

constexpr Coding CodingOf(OptionsWord word) {
  uint32_t code = FormatCode(word);
  return HasCatalogueRow(code) ? FormatCatalogue[code].coding : Coding::None;
}

constexpr bool IsAdpcm(OptionsWord word) { return CodingOf(word) == Coding::Adpcm; }

constexpr int32_t PcmBytesPerFileByte(OptionsWord word) { return IsAdpcm(word) ? 4 : 2; }

// The whole word is compared with 1..6, so a flag bit (no header, header locked) suppresses the tag.
constexpr const char* TagForWriting(OptionsWord word) {
  return word >= 1 && word <= 6 ? FormatCatalogue[word].tag : nullptr;
}

// The display name of the word's format code, or nullptr for codes 7..15.
constexpr const char* DisplayName(OptionsWord word) {
  uint32_t code = FormatCode(word);
  return HasCatalogueRow(code) ? FormatCatalogue[code].display_name : nullptr;
}

// The format code named by four bytes read from a file (made a zero-terminated text, so a zero byte ends
// it), compared exactly and case-sensitively in catalogue order; 0 when no tag matches.
OptionsWord CodeForTag(const char (&tag_text)[FileTagLength + 1]);

static_assert(SampleRate(0) == 8000 && SampleRate(0x16) == 6000 && SampleRate(0x07) == 8000);
static_assert(TagForWriting(0x22) == nullptr && TagForWriting(2) != nullptr);
static_assert(PcmBytesPerFileByte(0x15) == 4 && PcmBytesPerFileByte(7) == 2);
static_assert(std::string_view(FormatCatalogue[0].display_name).size() == 24);
