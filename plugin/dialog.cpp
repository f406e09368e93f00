// The format options dialog: the user picks one of the six codings and whether the file gets its tag.
// The dialog keeps nothing but its controls' states; each call starts from the word handed in.
#include <array>

#include "plugin/catalogue.h"
#include "plugin/filter_api.h"
#include "resources/dialog_ids.h"

namespace {

// The export under which FilterGetOptions finds DIALOGMsgProc in its own module.
constexpr WORD DialogProcedureOrdinal = 20;

constexpr OptionsWord FirstCoding = 1;
constexpr OptionsWord LastCoding = 6;

// The radio button of each format code, used in both directions; code 0 has none.
constexpr std::array<int, LastCoding + 1> RadioButtonOfCode{
    0, IDC_ALAW_64KB, IDC_ALAW_48KB, IDC_MULAW_64KB, IDC_MULAW_48KB, IDC_ADPCM_32KB, IDC_ADPCM_24KB};
static_assert(RadioButtonOfCode[3] == 1003 && RadioButtonOfCode[4] == 1002);
static_assert(RadioButtonOfCode.size() == FormatCatalogue.size());

// Codes without a catalogue row (7..15) start the dialog on the first coding.
int RadioButtonToCheck(OptionsWord word) {
  OptionsWord code = FormatCode(word);
  if (code == 0) return 0;
  return RadioButtonOfCode[code <= LastCoding ? code : FirstCoding];
}

void ShowWord(HWND dialog, OptionsWord word) {
  if (int radio = RadioButtonToCheck(word)) CheckDlgButton(dialog, radio, BST_CHECKED);
  if (!(word & NoHeaderFlag)) CheckDlgButton(dialog, IDC_INCLUDE_HEADER, BST_CHECKED);
  if (word & HeaderLockedFlag) {
    CheckDlgButton(dialog, IDC_INCLUDE_HEADER, BST_UNCHECKED);
    EnableWindow(GetDlgItem(dialog, IDC_INCLUDE_HEADER), FALSE);
  }
}

// Codings 2..6 are asked in order and the first checked one wins; with none of them checked the answer is
// coding 1, so OK always yields a coding. Of the flags only the header's comes back.
OptionsWord ChosenWord(HWND dialog) {
  OptionsWord code = FirstCoding;
  for (OptionsWord candidate = FirstCoding + 1; candidate <= LastCoding; ++candidate) {
    if (IsDlgButtonChecked(dialog, RadioButtonOfCode[candidate]) != BST_UNCHECKED) {
      code = candidate;
      break;
    }
  }
  bool with_header = IsDlgButtonChecked(dialog, IDC_INCLUDE_HEADER) != BST_UNCHECKED;
  return with_header ? code : code | NoHeaderFlag;
}

}  // namespace

extern "C" {

int32_t FILTER_CALL FilterGetOptions(HWND owner, HINSTANCE module, int32_t, int32_t, int32_t, OptionsWord options) {
  // Reached through the module's own export table, so the procedure stays exported under its ordinal.
  FARPROC found = GetProcAddress(module, MAKEINTRESOURCEA(DialogProcedureOrdinal));
  // Without its procedure the dialog cannot run: answer as the platform does for a dialog it cannot show.
  if (found == nullptr) return -1;
  auto procedure = reinterpret_cast<DLGPROC>(reinterpret_cast<void (*)()>(found));
  LPARAM start_word = options != 0 ? options : FirstCoding;
  return static_cast<int32_t>(
      DialogBoxParamA(module, MAKEINTRESOURCEA(IDD_FORMAT_OPTIONS), owner, procedure, start_word));
}

INT_PTR FILTER_CALL DIALOGMsgProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ShowWord(dialog, static_cast<OptionsWord>(lparam));
      return TRUE;  // the platform sets the focus on the first tab stop
    case WM_COMMAND:
      switch (LOWORD(wparam)) {
        case IDOK:
          EndDialog(dialog, static_cast<INT_PTR>(ChosenWord(dialog)));
          break;
        case IDCANCEL:
          EndDialog(dialog, 0);
          break;
        default:
          break;  // the buttons' own click notifications: the controls keep their state themselves
      }
      return TRUE;
    case WM_CLOSE:
      PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // extern "C"
