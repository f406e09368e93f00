// Modules and modal dialogs, modelled for builds on other systems. A module is an export table (names
// and ordinals) with dialog templates that a test registers; a dialog is its controls' checked and
// enabled states plus a queue of posted messages, run by DialogBoxParamA against a script of user steps.
// The model runs one modal dialog at a time, as one thread of a Win32 program does.
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "platform/dialog_script.h"
#include "platform/platform.h"

namespace {

using compat::ControlKind;
using compat::DialogStep;
using compat::StepKind;

struct Control {
  compat::ControlSpec layout;
  HWND window;
  UINT check = BST_UNCHECKED;
  bool enabled = true;
};

struct PostedMessage {
  UINT message;
  WPARAM wparam;
  LPARAM lparam;
};

struct Dialog {
  HWND window;
  DLGPROC procedure;
  std::vector<Control> controls;
  std::deque<PostedMessage> posted;
  bool ended = false;
  INT_PTR result = 0;
};

// The model stands for the window manager, which every caller shares, so its state is global and
// guarded. The guard is never held while the dialog procedure runs, since the procedure calls back in.
struct Model {
  std::mutex mutex;
  std::vector<std::optional<compat::ModuleSpec>> modules;
  std::vector<DialogStep> script;
  compat::DialogRun last_run;
  Dialog* running = nullptr;
  uintptr_t next_dialog_serial = 1;
};

Model& TheModel() {
  static Model model;
  return model;
}

// Handles are tagged numbers, never addresses: modules are 6 modulo 16, windows 2 modulo 16. A window
// handle carries its dialog's serial and its control's place (0 for the dialog itself).
constexpr uintptr_t ModuleTag = 6;
constexpr uintptr_t WindowTag = 2;
constexpr size_t MaxControls = 255;

HMODULE ModuleHandleOf(size_t index) { return reinterpret_cast<HMODULE>((index + 1) << 4 | ModuleTag); }

const compat::ModuleSpec* ModuleOf(HMODULE module) {
  auto value = reinterpret_cast<uintptr_t>(module);
  if ((value & 15) != ModuleTag) return nullptr;
  size_t index = (value >> 4) - 1;
  auto& modules = TheModel().modules;
  return index < modules.size() && modules[index] ? &*modules[index] : nullptr;
}

HWND WindowHandleOf(uintptr_t dialog_serial, size_t place) {
  return reinterpret_cast<HWND>(dialog_serial << 12 | place << 4 | WindowTag);
}

bool IsDialogWindow(HWND window) {
  Dialog* dialog = TheModel().running;
  return dialog != nullptr && window != nullptr && window == dialog->window;
}

Control* ControlOfWindow(HWND window) {
  Dialog* dialog = TheModel().running;
  if (dialog == nullptr || window == nullptr) return nullptr;
  for (Control& control : dialog->controls) {
    if (control.window == window) return &control;
  }
  return nullptr;
}

Control* ControlOfId(HWND dialog_window, int control_id) {
  if (!IsDialogWindow(dialog_window)) return nullptr;
  for (Control& control : TheModel().running->controls) {
    if (control.layout.id == control_id) return &control;
  }
  return nullptr;
}

bool IsCheckable(const Control& control) {
  return control.layout.kind == ControlKind::RadioButton || control.layout.kind == ControlKind::CheckBox;
}

// Hands one message to the procedure and records it. Called without the guard.
void Deliver(Dialog& dialog, UINT message, WPARAM wparam, LPARAM lparam) {
  INT_PTR result = dialog.procedure(dialog.window, message, wparam, lparam);
  std::lock_guard lock(TheModel().mutex);
  TheModel().last_run.delivered.push_back({message, wparam, lparam, result});
}

void NotifyClick(Dialog& dialog, const Control& control) {
  Deliver(dialog, WM_COMMAND, MAKEWPARAM(static_cast<WORD>(control.layout.id), BN_CLICKED),
          reinterpret_cast<LPARAM>(control.window));
}

// What the dialog manager does for one user step. Called without the guard.
void TakeStep(Dialog& dialog, const DialogStep& step) {
  std::unique_lock lock(TheModel().mutex);
  switch (step.kind) {
    case StepKind::Click: {
      Control* control = ControlOfId(dialog.window, step.control_id);
      // Disabled controls take no clicks, and frames send no notifications.
      if (control == nullptr || !control->enabled || control->layout.kind == ControlKind::Frame) return;
      if (control->layout.kind == ControlKind::RadioButton) {
        for (Control& other : dialog.controls) {
          if (other.layout.kind == ControlKind::RadioButton) other.check = BST_UNCHECKED;
        }
        control->check = BST_CHECKED;
      } else if (control->layout.kind == ControlKind::CheckBox) {
        control->check = control->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      }
      Control clicked = *control;
      lock.unlock();
      NotifyClick(dialog, clicked);
      return;
    }
    case StepKind::PressEnter: {
      const Control* default_button = nullptr;
      for (const Control& control : dialog.controls) {
        if (control.layout.kind == ControlKind::DefaultPushButton) {
          default_button = &control;
          break;
        }
      }
      if (default_button == nullptr) default_button = ControlOfId(dialog.window, IDOK);
      if (default_button != nullptr && !default_button->enabled) return;
      Control pressed = default_button ? *default_button : Control{{IDOK, ControlKind::PushButton}, nullptr};
      lock.unlock();
      NotifyClick(dialog, pressed);
      return;
    }
    case StepKind::PressEscape: {
      const Control* cancel = ControlOfId(dialog.window, IDCANCEL);
      LPARAM cancel_window = reinterpret_cast<LPARAM>(cancel ? cancel->window : nullptr);
      lock.unlock();
      Deliver(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), cancel_window);
      return;
    }
    case StepKind::CloseBox:
      lock.unlock();
      Deliver(dialog, WM_CLOSE, 0, 0);
      return;
    case StepKind::Message:
      lock.unlock();
      Deliver(dialog, step.message, step.wparam, step.lparam);
      return;
    case StepKind::SetCheck: {
      Control* control = ControlOfId(dialog.window, step.control_id);
      if (control != nullptr && IsCheckable(*control)) control->check = static_cast<UINT>(step.wparam);
      return;
    }
    case StepKind::Look: {
      std::vector<compat::ControlState> look;
      for (const Control& control : dialog.controls) {
        look.push_back({control.layout.id, control.layout.kind, control.check, control.enabled});
      }
      TheModel().last_run.looks.push_back(std::move(look));
      return;
    }
  }
}

std::optional<PostedMessage> NextPosted(Dialog& dialog) {
  std::lock_guard lock(TheModel().mutex);
  if (dialog.ended || dialog.posted.empty()) return std::nullopt;
  PostedMessage message = dialog.posted.front();
  dialog.posted.pop_front();
  return message;
}

bool HasEnded(const Dialog& dialog) {
  std::lock_guard lock(TheModel().mutex);
  return dialog.ended;
}

}  // namespace

namespace compat {

HMODULE RegisterModule(ModuleSpec module) {
  std::lock_guard lock(TheModel().mutex);
  auto& modules = TheModel().modules;
  size_t index = 0;
  while (index < modules.size() && modules[index]) ++index;
  if (index == modules.size()) modules.emplace_back();
  modules[index] = std::move(module);
  return ModuleHandleOf(index);
}

void UnregisterModule(HMODULE module) {
  std::lock_guard lock(TheModel().mutex);
  if (ModuleOf(module) == nullptr) return;
  TheModel().modules[(reinterpret_cast<uintptr_t>(module) >> 4) - 1].reset();
}

void ScriptDialog(std::vector<DialogStep> steps) {
  std::lock_guard lock(TheModel().mutex);
  TheModel().script = std::move(steps);
  TheModel().last_run = DialogRun{};
}

DialogRun LastDialogRun() {
  std::lock_guard lock(TheModel().mutex);
  return TheModel().last_run;
}

}  // namespace compat

FARPROC GetProcAddress(HMODULE module, LPCSTR name) {
  std::lock_guard lock(TheModel().mutex);
  const compat::ModuleSpec* described = ModuleOf(module);
  if (described == nullptr || name == nullptr) return nullptr;
  for (const compat::ExportSpec& entry : described->exports) {
    bool found = IS_INTRESOURCE(name) ? entry.ordinal == LOWORD(reinterpret_cast<uintptr_t>(name))
                                      : entry.name != nullptr && std::strcmp(entry.name, name) == 0;
    if (found) return entry.procedure;
  }
  return nullptr;
}

INT_PTR DialogBoxParamA(HINSTANCE module, LPCSTR template_name, HWND owner, DLGPROC procedure, LPARAM init_param) {
  constexpr INT_PTR Failure = -1;
  std::unique_lock lock(TheModel().mutex);
  compat::DialogRun& run = TheModel().last_run;
  run = compat::DialogRun{};
  run.called = true;
  run.owner = owner;
  run.init_param = init_param;
  std::vector<DialogStep> script = std::move(TheModel().script);
  TheModel().script.clear();

  // The only windows in the model are those of a running dialog, which a second modal dialog may own.
  if (owner != nullptr && !IsDialogWindow(owner)) return 0;
  const compat::ModuleSpec* described = ModuleOf(module);
  // Templates are known by number only, as the plug-in names its one template.
  if (described == nullptr || template_name == nullptr || !IS_INTRESOURCE(template_name)) return Failure;
  int template_id = LOWORD(reinterpret_cast<uintptr_t>(template_name));
  const compat::DialogTemplateSpec* found = nullptr;
  for (const auto& dialog_template : described->dialogs) {
    if (dialog_template.template_id == template_id) found = &dialog_template;
  }
  if (found == nullptr || procedure == nullptr || found->controls.size() > MaxControls) return Failure;
  if (TheModel().running != nullptr) return Failure;  // one modal dialog at a time

  uintptr_t serial = TheModel().next_dialog_serial++;
  Dialog dialog{WindowHandleOf(serial, 0), procedure, {}, {}};
  for (size_t i = 0; i < found->controls.size(); ++i) {
    dialog.controls.push_back({found->controls[i], WindowHandleOf(serial, i + 1)});
  }
  run.template_id = template_id;
  run.shown = true;
  TheModel().running = &dialog;
  lock.unlock();

  Deliver(dialog, WM_INITDIALOG, 0, init_param);
  size_t next_step = 0;
  while (!HasEnded(dialog)) {
    if (auto posted = NextPosted(dialog)) {
      Deliver(dialog, posted->message, posted->wparam, posted->lparam);
    } else if (next_step < script.size()) {
      TakeStep(dialog, script[next_step++]);
    } else {
      break;  // a real dialog would wait for the user; the script has nothing more to do
    }
  }

  lock.lock();
  run.ended = dialog.ended;
  run.steps_left = script.size() - next_step;
  run.posted_left = dialog.posted.size();
  TheModel().running = nullptr;
  return dialog.ended ? dialog.result : Failure;
}

BOOL EndDialog(HWND dialog, INT_PTR result) {
  std::lock_guard lock(TheModel().mutex);
  if (!IsDialogWindow(dialog)) return FALSE;
  TheModel().running->ended = true;
  TheModel().running->result = result;
  return TRUE;
}

BOOL CheckDlgButton(HWND dialog, int control_id, UINT check) {
  std::lock_guard lock(TheModel().mutex);
  Control* control = ControlOfId(dialog, control_id);
  if (control == nullptr) return FALSE;
  if (IsCheckable(*control)) control->check = check;
  return TRUE;
}

UINT IsDlgButtonChecked(HWND dialog, int control_id) {
  std::lock_guard lock(TheModel().mutex);
  Control* control = ControlOfId(dialog, control_id);
  return control != nullptr && IsCheckable(*control) ? control->check : BST_UNCHECKED;
}

HWND GetDlgItem(HWND dialog, int control_id) {
  std::lock_guard lock(TheModel().mutex);
  Control* control = ControlOfId(dialog, control_id);
  return control != nullptr ? control->window : nullptr;
}

BOOL EnableWindow(HWND window, BOOL enable) {
  std::lock_guard lock(TheModel().mutex);
  Control* control = ControlOfWindow(window);
  if (control == nullptr) return FALSE;
  bool was_disabled = !control->enabled;
  control->enabled = enable != FALSE;
  return was_disabled ? TRUE : FALSE;
}

BOOL IsWindowEnabled(HWND window) {
  std::lock_guard lock(TheModel().mutex);
  if (IsDialogWindow(window)) return TRUE;
  Control* control = ControlOfWindow(window);
  return control != nullptr && control->enabled ? TRUE : FALSE;
}

BOOL PostMessageA(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  std::lock_guard lock(TheModel().mutex);
  // Only the dialog has a procedure in the model; controls' own window procedures are not modelled.
  if (!IsDialogWindow(window)) return FALSE;
  TheModel().running->posted.push_back({message, wparam, lparam});
  return TRUE;
}
