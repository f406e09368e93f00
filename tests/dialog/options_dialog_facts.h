// What the options dialog must look like and answer, stated once for the tests that check it: under Wine
// on the real dialog, on the native dialog model, and in the dialog fuzzer.
#pragma once

#include <cstdint>

#include "plugin/filter_api.h"

namespace options_dialog {

inline constexpr int TemplateId = 101;
inline constexpr int HeaderBox = 1006;
// Radio buttons from top to bottom, and the format code each one stands for.
inline constexpr int Radios[6] = {1000, 1001, 1003, 1002, 1004, 1005};
inline constexpr OptionsWord CodeOfRadio[6] = {1, 2, 3, 4, 5, 6};
inline constexpr int RadioOfCode[7] = {0, 1000, 1001, 1003, 1002, 1004, 1005};

// Starting words whose look and OK result pin the dialog's rules.
struct EdgeWord {
  OptionsWord word;
  int radio;  // the checked radio button, 0 for none
  bool header_checked;
  bool header_enabled;
  int32_t ok_result;
};
inline constexpr EdgeWord EdgeWords[] = {
    {0x000, 1000, true, true, 0x01},   {0x004, 1002, true, true, 0x04}, {0x013, 1003, false, true, 0x13},
    {0x026, 1005, false, false, 0x16}, {0x010, 0, false, true, 0x11},   {0x007, 1000, true, true, 0x01},
    {0x135, 1004, false, false, 0x15},
};

}  // namespace options_dialog

#ifndef _WIN32
#include "platform/dialog_script.h"

namespace options_dialog {

// The template's controls in creation order, as the resource script lays them out, for the native model.
inline compat::DialogTemplateSpec ModelTemplate() {
  using compat::ControlKind;
  return {TemplateId,
          {{1000, ControlKind::RadioButton},
           {1001, ControlKind::RadioButton},
           {1003, ControlKind::RadioButton},
           {1002, ControlKind::RadioButton},
           {1004, ControlKind::RadioButton},
           {1005, ControlKind::RadioButton},
           {IDOK, ControlKind::DefaultPushButton},
           {IDCANCEL, ControlKind::PushButton},
           {-1, ControlKind::Frame},
           {HeaderBox, ControlKind::CheckBox},
           {-1, ControlKind::Frame}}};
}

}  // namespace options_dialog
#endif
