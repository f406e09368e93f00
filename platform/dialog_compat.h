// Modules and dialogs for builds on other systems: a model of one modal dialog's controls (checked and
// enabled state), the calls a dialog procedure makes on it, and a module's export table by name and by
// ordinal. Tests register modules and script the dialog through platform/dialog_script.h.
#pragma once

inline constexpr UINT WM_CLOSE = 0x0010;
inline constexpr UINT WM_INITDIALOG = 0x0110;
inline constexpr UINT WM_COMMAND = 0x0111;
inline constexpr int IDOK = 1;
inline constexpr int IDCANCEL = 2;
inline constexpr UINT BST_UNCHECKED = 0;
inline constexpr UINT BST_CHECKED = 1;
inline constexpr WORD BN_CLICKED = 0;

inline constexpr WORD LOWORD(uintptr_t value) { return static_cast<WORD>(value & 0xFFFF); }
inline constexpr WORD HIWORD(uintptr_t value) { return static_cast<WORD>((value >> 16) & 0xFFFF); }
inline constexpr WPARAM MAKEWPARAM(WORD low, WORD high) {
  return static_cast<WPARAM>(low) | static_cast<WPARAM>(high) << 16;
}

// A resource or export named by a number instead of a text: the number in the low 16 bits of a pointer.
inline LPSTR MAKEINTRESOURCEA(uintptr_t number) {
  return reinterpret_cast<LPSTR>(static_cast<uintptr_t>(static_cast<WORD>(number)));
}
inline bool IS_INTRESOURCE(LPCSTR name) { return (reinterpret_cast<uintptr_t>(name) >> 16) == 0; }

// The procedure exported under `name` (a text, or an ordinal made by MAKEINTRESOURCEA); nullptr when the
// module is unknown or has no such export.
FARPROC GetProcAddress(HMODULE module, LPCSTR name);

// Runs the dialog `template_name` of `module` modally: WM_INITDIALOG with `init_param`, then the messages
// the test scripted, until the procedure calls EndDialog. Returns the EndDialog result; -1 when the
// template or the procedure is missing or the script ends first; 0 when `owner` is not a window.
INT_PTR DialogBoxParamA(HINSTANCE module, LPCSTR template_name, HWND owner, DLGPROC procedure, LPARAM init_param);
BOOL EndDialog(HWND dialog, INT_PTR result);
BOOL CheckDlgButton(HWND dialog, int control_id, UINT check);
UINT IsDlgButtonChecked(HWND dialog, int control_id);
HWND GetDlgItem(HWND dialog, int control_id);
// Returns nonzero when the window was disabled before the call.
BOOL EnableWindow(HWND window, BOOL enable);
BOOL IsWindowEnabled(HWND window);
// Queues the message for the dialog; it is delivered before the next scripted step.
BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
