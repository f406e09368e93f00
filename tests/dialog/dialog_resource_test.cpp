// The resources of the built .flt, read back through the loader: the options dialog's template, control by
// control, and the version information a user sees in the file's properties.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "plugin/catalogue.h"
#include "tests/support/exports.h"

namespace {

constexpr WORD EnglishUnitedStates = 1033;

struct ControlTemplate {
  DWORD style;
  DWORD extended_style;
  int x, y, width, height;
  int id;  // -1 for the frames
  std::string class_name;
  std::string text;
};

struct DialogTemplate {
  DWORD style;
  DWORD extended_style;
  int x, y, width, height;
  std::string menu, class_name, caption;
  int point_size;
  std::string font;
  std::vector<ControlTemplate> controls;
};

// Reads the classic (not extended) dialog template layout: little-endian words, texts in UTF-16, every
// control record aligned to four bytes.
class TemplateReader {
 public:
  TemplateReader(const uint8_t* bytes, size_t size) : bytes_(bytes), size_(size) {}

  bool ok() const { return ok_; }

  WORD Word() {
    if (offset_ + 2 > size_) {
      ok_ = false;
      return 0;
    }
    WORD value = static_cast<WORD>(bytes_[offset_] | bytes_[offset_ + 1] << 8);
    offset_ += 2;
    return value;
  }
  DWORD Dword() {
    DWORD low = Word();
    return low | static_cast<DWORD>(Word()) << 16;
  }
  int Short() { return static_cast<int16_t>(Word()); }

  std::string Text() {
    std::string text;
    while (ok_) {
      WORD unit = Word();
      if (unit == 0) break;
      text += unit < 0x80 ? static_cast<char>(unit) : '?';
    }
    return text;
  }

  // A text, or 0xFFFF and a number, or nothing. The predefined classes go by their names.
  std::string TextOrNumber() {
    if (offset_ + 2 <= size_ && bytes_[offset_] == 0xFF && bytes_[offset_ + 1] == 0xFF) {
      Word();
      WORD number = Word();
      switch (number) {
        case 0x80:
          return "Button";
        case 0x81:
          return "Edit";
        case 0x82:
          return "Static";
        default: {
          char text[8];
          std::snprintf(text, sizeof text, "#%u", static_cast<unsigned>(number));
          return text;
        }
      }
    }
    return Text();
  }

  void AlignToDword() { offset_ = (offset_ + 3) & ~size_t{3}; }

 private:
  const uint8_t* bytes_;
  size_t size_;
  size_t offset_ = 0;
  bool ok_ = true;
};

bool ReadTemplate(const uint8_t* bytes, size_t size, DialogTemplate& out) {
  TemplateReader in(bytes, size);
  out.style = in.Dword();
  out.extended_style = in.Dword();
  int count = in.Word();
  out.x = in.Short();
  out.y = in.Short();
  out.width = in.Short();
  out.height = in.Short();
  out.menu = in.TextOrNumber();
  out.class_name = in.TextOrNumber();
  out.caption = in.Text();
  if (out.style & DS_SETFONT) {
    out.point_size = in.Word();
    out.font = in.Text();
  }
  for (int i = 0; i < count && in.ok(); ++i) {
    in.AlignToDword();
    ControlTemplate control{};
    control.style = in.Dword();
    control.extended_style = in.Dword();
    control.x = in.Short();
    control.y = in.Short();
    control.width = in.Short();
    control.height = in.Short();
    control.id = in.Short();
    control.class_name = in.TextOrNumber();
    control.text = in.TextOrNumber();
    WORD creation_data_bytes = in.Word();
    for (WORD skipped = 0; skipped < creation_data_bytes; skipped += 2) in.Word();
    out.controls.push_back(control);
  }
  return in.ok() && out.controls.size() == static_cast<size_t>(count);
}

BOOL CALLBACK CollectLanguage(HMODULE, LPCSTR, LPCSTR, WORD language, LONG_PTR context) {
  reinterpret_cast<std::vector<WORD>*>(context)->push_back(language);
  return TRUE;
}

}  // namespace

TEST(DialogResource, TemplateOneHundredOneIsTheOptionsDialogInUsEnglish) {
  std::vector<WORD> languages;
  EnumResourceLanguagesA(static_cast<HMODULE>(LibraryModule()), MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(101),
                         CollectLanguage, reinterpret_cast<LONG_PTR>(&languages));
  EXPECT_EQ(languages, std::vector<WORD>{EnglishUnitedStates});

  auto module = static_cast<HMODULE>(LibraryModule());
  HRSRC found = FindResourceExA(module, MAKEINTRESOURCEA(5), MAKEINTRESOURCEA(101), EnglishUnitedStates);
  ASSERT_NE(found, nullptr);
  HGLOBAL loaded = LoadResource(module, found);
  ASSERT_NE(loaded, nullptr);
  const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
  size_t size = SizeofResource(module, found);
  ASSERT_GE(size, 4u);
  ASSERT_FALSE(bytes[0] == 1 && bytes[2] == 0xFF && bytes[3] == 0xFF) << "an extended template";

  DialogTemplate dialog;
  ASSERT_TRUE(ReadTemplate(bytes, size, dialog)) << "template cut short";
  EXPECT_EQ(dialog.style,
            static_cast<DWORD>(WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT));
  EXPECT_EQ(dialog.extended_style, 0u);
  EXPECT_EQ(dialog.x, 0);
  EXPECT_EQ(dialog.y, 0);
  EXPECT_EQ(dialog.width, 162);
  EXPECT_EQ(dialog.height, 114);
  EXPECT_EQ(dialog.menu, "");
  EXPECT_EQ(dialog.class_name, "");
  EXPECT_EQ(dialog.caption, "Kestrovan VOX");
  EXPECT_EQ(dialog.point_size, 8);
  EXPECT_EQ(dialog.font, "MS Sans Serif");

  const DWORD radio = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON;
  const DWORD frame = WS_CHILD | WS_VISIBLE | SS_BLACKFRAME;
  const ControlTemplate expected[] = {
      {radio, 0, 10, 13, 89, 10, 1000, "Button", "Kestrovan 64KB A-Law"},
      {radio, 0, 10, 24, 89, 10, 1001, "Button", "Kestrovan 48KB A-Law"},
      {radio, 0, 10, 35, 89, 10, 1003, "Button", "Kestrovan 64KB U-Law"},
      {radio, 0, 10, 46, 89, 10, 1002, "Button", "Kestrovan 48KB U-Law"},
      {radio, 0, 10, 57, 93, 10, 1004, "Button", "Kestrovan 32KB ADPCM"},
      {radio, 0, 10, 68, 93, 10, 1005, "Button", "Kestrovan 24KB ADPCM"},
      {WS_CHILD | WS_VISIBLE | BS_DEFPUSHBUTTON | WS_TABSTOP, 0, 120, 6, 36, 14, IDOK, "Button", "OK"},
      {WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON | WS_TABSTOP, 0, 120, 25, 36, 14, IDCANCEL, "Button", "Cancel"},
      {frame, 0, 3, 7, 109, 76, -1, "Static", ""},
      {WS_CHILD | WS_VISIBLE | BS_AUTOCHECKBOX | WS_TABSTOP, 0, 10, 91, 75, 10, 1006, "Button", "Include File Header"},
      {frame, 0, 3, 87, 109, 19, -1, "Static", ""},
  };
  ASSERT_EQ(dialog.controls.size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    const ControlTemplate& got = dialog.controls[i];
    const ControlTemplate& want = expected[i];
    SCOPED_TRACE("control " + std::to_string(i + 1) + ", id " + std::to_string(want.id));
    EXPECT_EQ(got.id, want.id);
    EXPECT_EQ(got.class_name, want.class_name);
    EXPECT_EQ(got.text, want.text);
    EXPECT_EQ(got.style, want.style) << std::hex << got.style << " against " << want.style;
    EXPECT_EQ(got.extended_style, 0u);
    EXPECT_EQ(got.x, want.x);
    EXPECT_EQ(got.y, want.y);
    EXPECT_EQ(got.width, want.width);
    EXPECT_EQ(got.height, want.height);
    EXPECT_EQ(got.style & WS_GROUP, 0u);
  }
  // The six radio texts are the catalogue's display names of codes 1 to 6, in the radio buttons' order.
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(dialog.controls[i].text, DisplayName(static_cast<OptionsWord>(i + 1)));
}

TEST(DialogResource, VersionInformationNamesTheFilter) {
  char path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameA(static_cast<HMODULE>(LibraryModule()), path, MAX_PATH), 0u);
  DWORD ignored = 0;
  DWORD size = GetFileVersionInfoSizeA(path, &ignored);
  ASSERT_GT(size, 0u);
  std::vector<uint8_t> info(size);
  ASSERT_TRUE(GetFileVersionInfoA(path, 0, size, info.data()));

  auto value = [&](const char* name) -> std::string {
    std::string key = std::string("\\StringFileInfo\\040904E4\\") + name;
    char* text = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(info.data(), key.c_str(), reinterpret_cast<void**>(&text), &length) || !text) return "";
    return std::string(text);
  };
  EXPECT_EQ(value("FileDescription"), "Kestrovan VOX file filter");
  EXPECT_EQ(value("OriginalFilename"), "kestrovan_vox.flt");
  EXPECT_FALSE(value("FileVersion").empty());
}
