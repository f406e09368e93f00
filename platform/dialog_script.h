// Test seam of the native dialog model: modules with an export table and dialog templates, and the
// steps a user takes in the next modal dialog. Only the native build has it; on Windows the real
// dialog manager runs the real template.
#pragma once

#include <vector>

#include "platform/platform.h"

namespace compat {

enum class ControlKind { RadioButton, CheckBox, PushButton, DefaultPushButton, Frame };

struct ControlSpec {
  int id;
  ControlKind kind;
};

// The controls of one dialog template, in creation order. All radio buttons of a template form one group.
struct DialogTemplateSpec {
  int template_id;
  std::vector<ControlSpec> controls;
};

struct ExportSpec {
  int ordinal;
  const char* name;
  FARPROC procedure;
};

struct ModuleSpec {
  std::vector<ExportSpec> exports;
  std::vector<DialogTemplateSpec> dialogs;
};

template <typename Function>
FARPROC AsFarProc(Function* function) {
  return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

// A module handle for GetProcAddress and DialogBoxParamA; valid until unregistered.
HMODULE RegisterModule(ModuleSpec module);
void UnregisterModule(HMODULE module);

enum class StepKind {
  Click,        // a mouse click on a control: auto buttons change state, then the click is notified
  PressEnter,   // the default push button's command
  PressEscape,  // IDCANCEL's command
  CloseBox,     // the caption's close box: WM_CLOSE
  Message,      // any message, handed to the procedure as given
  SetCheck,     // another party sets a button's check state (`wparam`), with no notification
  Look,         // records every control's state in the run
};

struct DialogStep {
  StepKind kind;
  int control_id = 0;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};

inline DialogStep Click(int control_id) { return {StepKind::Click, control_id}; }
inline DialogStep PressEnter() { return {StepKind::PressEnter}; }
inline DialogStep PressEscape() { return {StepKind::PressEscape}; }
inline DialogStep CloseBox() { return {StepKind::CloseBox}; }
inline DialogStep Look() { return {StepKind::Look}; }
inline DialogStep SetCheck(int control_id, UINT check) { return {StepKind::SetCheck, control_id, 0, check}; }
inline DialogStep SendToDialog(UINT message, WPARAM wparam, LPARAM lparam) {
  return {StepKind::Message, 0, message, wparam, lparam};
}

// The steps of the next DialogBoxParamA call; also forgets the previous run.
void ScriptDialog(std::vector<DialogStep> steps);

struct ControlState {
  int id;
  ControlKind kind;
  UINT check;
  bool enabled;
};

struct DeliveredMessage {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
  INT_PTR procedure_result;
};

// What the last DialogBoxParamA call did.
struct DialogRun {
  bool called = false;
  bool shown = false;  // the template and the procedure were found and WM_INITDIALOG was delivered
  bool ended = false;  // the procedure called EndDialog
  HWND owner = nullptr;
  int template_id = 0;
  LPARAM init_param = 0;
  std::vector<DeliveredMessage> delivered;       // WM_INITDIALOG first
  std::vector<std::vector<ControlState>> looks;  // one per Look step, controls in creation order
  size_t steps_left = 0;                         // scripted steps not taken when the dialog ended
  size_t posted_left = 0;                        // posted messages still queued when it ended
};
DialogRun LastDialogRun();

}  // namespace compat
