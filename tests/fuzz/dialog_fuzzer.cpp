// The options dialog's logic on the native dialog model: any starting word and any sequence of user steps
// and messages, including a second WM_INITDIALOG, commands with any id, checks set from outside with any
// value, and clicks on disabled or unknown controls. A model of the dialog, written from the dialog's rules,
// says what every look at the controls must show, what the procedure returns for each message and what the
// dialog ends with.
//
// Input: one byte for the module the dialog is shown from, the starting word, then one byte per step and
// its arguments.
#include <cstring>
#include <deque>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "platform/dialog_script.h"
#include "plugin/filter_api.h"
#include "tests/dialog/options_dialog_facts.h"
#include "tests/fuzz/format_model.h"
#include "tests/fuzz/fuzz_support.h"

namespace {

using namespace fuzzing;
using compat::ControlKind;
using compat::DialogStep;

using options_dialog::CodeOfRadio;
using options_dialog::HeaderBox;
using options_dialog::Radios;
using options_dialog::TemplateId;
constexpr int Frame = -1;
constexpr int MaxSteps = 64;

compat::DialogTemplateSpec OptionsTemplate() { return options_dialog::ModelTemplate(); }

enum class ModuleChoice { Complete, WithoutProcedure, WithoutTemplate, InvalidOwner };

HMODULE ModuleFor(ModuleChoice choice) {
  static const HMODULE complete =
      compat::RegisterModule({{{20, "DIALOGMsgProc", compat::AsFarProc(&DIALOGMsgProc)}}, {OptionsTemplate()}});
  // The procedure under its name but another ordinal: FilterGetOptions must ask by ordinal.
  static const HMODULE without_procedure =
      compat::RegisterModule({{{21, "DIALOGMsgProc", compat::AsFarProc(&DIALOGMsgProc)}}, {OptionsTemplate()}});
  static const HMODULE without_template =
      compat::RegisterModule({{{20, "DIALOGMsgProc", compat::AsFarProc(&DIALOGMsgProc)}}, {}});
  switch (choice) {
    case ModuleChoice::WithoutProcedure:
      return without_procedure;
    case ModuleChoice::WithoutTemplate:
      return without_template;
    default:
      return complete;
  }
}

// The dialog as its rules describe it: the check value of each checkable control, whether the header box
// is enabled, the messages posted to the dialog, and how it ended.
struct DialogModel {
  std::map<int, UINT> checks;  // radio buttons and the header box; 0 is unchecked, any other value checked
  bool header_enabled = true;
  std::deque<WPARAM> posted_commands;
  bool ended = false;
  INT_PTR result = 0;
};

bool IsCheckable(int id) { return id == HeaderBox || (id >= 1000 && id <= 1005); }

void ShowWord(DialogModel& model, uint32_t word) {
  const uint32_t code = word & 0x0F;
  if (code != 0) {
    // Codes without a catalogue row start on the first coding.
    model.checks[code <= 6 ? Radios[code - 1] : Radios[0]] = BST_CHECKED;
  }
  if (!(word & 0x10)) model.checks[HeaderBox] = BST_CHECKED;
  if (word & 0x20) {
    model.checks[HeaderBox] = BST_UNCHECKED;
    model.header_enabled = false;
  }
}

// The first checked radio button below the first gives the code, else the first does; then the header box.
INT_PTR ChosenWord(const DialogModel& model) {
  uint32_t code = 1;
  for (int place = 1; place < 6; ++place) {
    if (model.checks.at(Radios[place]) != BST_UNCHECKED) {
      code = CodeOfRadio[place];
      break;
    }
  }
  return model.checks.at(HeaderBox) != BST_UNCHECKED ? code : code | 0x10;
}

// What the procedure must return for a message, and what it does to the dialog.
INT_PTR Deliver(DialogModel& model, UINT message, WPARAM wparam, LPARAM lparam) {
  switch (message) {
    case WM_INITDIALOG:
      ShowWord(model, static_cast<uint32_t>(lparam));
      return 1;
    case WM_COMMAND:
      if ((wparam & 0xFFFF) == IDOK) {
        model.ended = true;
        model.result = ChosenWord(model);
      } else if ((wparam & 0xFFFF) == IDCANCEL) {
        model.ended = true;
        model.result = 0;
      }
      return 1;
    case WM_CLOSE:
      model.posted_commands.push_back(IDCANCEL);
      return 1;
    default:
      return 0;
  }
}

// A control id for a click or a check: mostly the dialog's own, sometimes any.
int SomeControl(InputBytes& input) {
  constexpr int Ids[] = {1000, 1001, 1002, 1003, 1004, 1005, HeaderBox, IDOK, IDCANCEL, Frame, 0, 1007, 999};
  uint8_t choice = input.Byte();
  return choice < 0xF0 ? Ids[choice % std::size(Ids)] : input.Int32();
}

UINT SomeMessage(InputBytes& input) {
  constexpr UINT Messages[] = {WM_COMMAND, WM_COMMAND, WM_INITDIALOG, WM_CLOSE, 0, 0x0002, 0x000F, 0x0111 + 0x10000};
  uint8_t choice = input.Byte();
  return choice < 0xF0 ? Messages[choice % std::size(Messages)] : input.Word32();
}

// Takes one step on the model, as the dialog manager takes it on the real dialog; records which messages
// reach the procedure in `expected_results`.
void TakeStep(DialogModel& model, const DialogStep& step, std::vector<INT_PTR>& expected_results) {
  auto deliver = [&](UINT message, WPARAM wparam, LPARAM lparam) {
    expected_results.push_back(Deliver(model, message, wparam, lparam));
  };
  switch (step.kind) {
    case compat::StepKind::Click: {
      const int id = step.control_id;
      const bool known = IsCheckable(id) || id == IDOK || id == IDCANCEL;
      if (!known || (id == HeaderBox && !model.header_enabled)) return;
      if (id >= 1000 && id <= 1005) {
        for (int radio : Radios) model.checks[radio] = BST_UNCHECKED;
        model.checks[id] = BST_CHECKED;
      } else if (id == HeaderBox) {
        model.checks[id] = model.checks[id] == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
      }
      deliver(WM_COMMAND, static_cast<WPARAM>(id), 0);
      return;
    }
    case compat::StepKind::PressEnter:
      deliver(WM_COMMAND, IDOK, 0);
      return;
    case compat::StepKind::PressEscape:
      deliver(WM_COMMAND, IDCANCEL, 0);
      return;
    case compat::StepKind::CloseBox:
      deliver(WM_CLOSE, 0, 0);
      return;
    case compat::StepKind::Message:
      deliver(step.message, step.wparam, step.lparam);
      return;
    case compat::StepKind::SetCheck:
      if (IsCheckable(step.control_id)) model.checks[step.control_id] = static_cast<UINT>(step.wparam);
      return;
    case compat::StepKind::Look:
      return;
  }
}

void CheckLook(const DialogModel& model, const std::vector<compat::ControlState>& look, size_t index) {
  const std::string where = "look " + std::to_string(index);
  FUZZ_CHECK(look.size() == 11, where + " has " + std::to_string(look.size()) + " controls");
  for (const compat::ControlState& control : look) {
    const std::string what = where + ", control " + std::to_string(control.id);
    const UINT expected_check = IsCheckable(control.id) ? model.checks.at(control.id) : BST_UNCHECKED;
    FUZZ_CHECK(control.check == expected_check,
               what + " has check " + std::to_string(control.check) + ", not " + std::to_string(expected_check));
    const bool expected_enabled = control.id != HeaderBox || model.header_enabled;
    FUZZ_CHECK(control.enabled == expected_enabled, what + (control.enabled ? " is enabled" : " is disabled"));
  }
}

DialogStep ReadStep(InputBytes& input) {
  switch (input.Byte() % 8) {
    case 0:
    case 1:
      return compat::Click(SomeControl(input));
    case 2:
      return compat::PressEnter();
    case 3:
      return compat::PressEscape();
    case 4:
      return compat::CloseBox();
    case 5: {
      int id = SomeControl(input);
      uint8_t value = input.Byte();
      return compat::SetCheck(id, value < 0xC0 ? value % 3 : input.Word32());
    }
    case 6: {
      UINT message = SomeMessage(input);
      // Commands carry an id in the low half and a notification in the high half; WM_INITDIALOG a word.
      WPARAM wparam =
          message == WM_COMMAND ? MAKEWPARAM(static_cast<WORD>(SomeControl(input)), input.Word16()) : input.Word32();
      LPARAM lparam = message == WM_INITDIALOG ? static_cast<LPARAM>(SomeWord(input)) : input.Int32();
      return compat::SendToDialog(message, wparam, lparam);
    }
    default:
      return compat::Look();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  InputBytes input(data, size);
  const auto module_choice = static_cast<ModuleChoice>(input.Byte() % 8 < 5 ? 0 : input.Byte() % 4);
  const uint32_t word = SomeWord(input);

  // Every run starts with a look at the starting state.
  std::vector<DialogStep> steps{compat::Look()};
  for (int k = 0; k < MaxSteps && !input.Empty(); ++k) steps.push_back(ReadStep(input));
  compat::ScriptDialog(steps);
  HWND owner = module_choice == ModuleChoice::InvalidOwner ? reinterpret_cast<HWND>(uintptr_t{0x4D0}) : nullptr;
  const int32_t result = FilterGetOptions(owner, ModuleFor(module_choice), 0, 0, 0, word);
  const compat::DialogRun run = compat::LastDialogRun();

  switch (module_choice) {
    case ModuleChoice::WithoutProcedure:
      FUZZ_CHECK(result == -1 && !run.shown, "the dialog ran without its procedure at ordinal 20");
      return 0;
    case ModuleChoice::WithoutTemplate:
      FUZZ_CHECK(result == -1 && !run.shown, "the dialog ran without its template");
      return 0;
    case ModuleChoice::InvalidOwner:
      FUZZ_CHECK(result == 0 && !run.shown, "the dialog ran over an owner that is no window");
      return 0;
    case ModuleChoice::Complete:
      break;
  }
  FUZZ_CHECK(run.shown && run.template_id == TemplateId, "the dialog was not shown from template 101");
  FUZZ_CHECK(static_cast<uint32_t>(run.init_param) == (word != 0 ? word : 1),
             "the dialog started from " + std::to_string(run.init_param));

  DialogModel model;
  for (int id : Radios) model.checks[id] = BST_UNCHECKED;
  model.checks[HeaderBox] = BST_UNCHECKED;
  std::vector<INT_PTR> expected_results{Deliver(model, WM_INITDIALOG, 0, run.init_param)};
  size_t looks = 0;
  for (size_t next = 0; !model.ended;) {
    if (!model.posted_commands.empty()) {
      WPARAM command = model.posted_commands.front();
      model.posted_commands.pop_front();
      expected_results.push_back(Deliver(model, WM_COMMAND, command, 0));
      continue;
    }
    if (next == steps.size()) break;
    const DialogStep& step = steps[next++];
    if (step.kind == compat::StepKind::Look) {
      FUZZ_CHECK(looks < run.looks.size(), "a look was not taken");
      CheckLook(model, run.looks[looks], looks);
      ++looks;
    }
    TakeStep(model, step, expected_results);
  }

  const INT_PTR expected = model.ended ? model.result : -1;
  FUZZ_CHECK(result == expected, "the dialog from word " + std::to_string(word) + " ended with " +
                                     std::to_string(result) + ", not " + std::to_string(expected));
  if (model.ended && result != 0) {
    FUZZ_CHECK(((result & ~0x10) >= 1 && (result & ~0x10) <= 6), "OK gave a word outside 1..6 and 0x11..0x16");
  }
  FUZZ_CHECK(looks == run.looks.size(), "looks taken after the dialog ended");
  FUZZ_CHECK(run.delivered.size() == expected_results.size(), std::to_string(run.delivered.size()) +
                                                                  " messages reached the procedure, not " +
                                                                  std::to_string(expected_results.size()));
  for (size_t k = 0; k < expected_results.size(); ++k) {
    FUZZ_CHECK(run.delivered[k].procedure_result == expected_results[k],
               "message " + std::to_string(run.delivered[k].message) + " answered " +
                   std::to_string(run.delivered[k].procedure_result));
  }

  // Outside a running dialog the procedure touches no control and still answers by the message alone.
  HWND stray = reinterpret_cast<HWND>(uintptr_t{0x7F2});
  FUZZ_CHECK(DIALOGMsgProc(stray, WM_COMMAND, IDOK, 0) == 1 && DIALOGMsgProc(nullptr, WM_INITDIALOG, 0, 0x35) == 1,
             "the procedure outside a dialog");
  FUZZ_CHECK(DIALOGMsgProc(stray, WM_CLOSE, 0, 0) == 1 && DIALOGMsgProc(stray, 0x0200, 0, 0) == 0,
             "the procedure outside a dialog");
  CheckNothingLeftOpen("dialog");
  return 0;
}
