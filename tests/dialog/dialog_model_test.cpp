// The options dialog's logic on the native dialog model: starting states, the word OK returns, the cancel
// paths, and how FilterGetOptions finds its template and procedure through the module it is given.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/dialog_script.h"
#include "plugin/filter_api.h"
#include "tests/dialog/options_dialog_facts.h"
#include "tests/support/exports.h"

namespace {

using compat::ControlKind;

using namespace options_dialog;

compat::DialogTemplateSpec OptionsTemplate() { return ModelTemplate(); }

std::string Hex(uint64_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

const compat::ControlState* Find(const std::vector<compat::ControlState>& look, int id) {
  for (const auto& control : look) {
    if (control.id == id) return &control;
  }
  return nullptr;
}

// The one checked radio button of a look, 0 when none is, -1 when several are.
int CheckedRadio(const std::vector<compat::ControlState>& look) {
  int checked = 0;
  for (int id : Radios) {
    if (Find(look, id)->check != BST_UNCHECKED) checked = checked == 0 ? id : -1;
  }
  return checked;
}

class OptionsDialogModel : public ::testing::Test {
 protected:
  void SetUp() override {
    module_ = compat::RegisterModule({{{20, "DIALOGMsgProc", compat::AsFarProc(&DIALOGMsgProc)}}, {OptionsTemplate()}});
  }
  void TearDown() override { compat::UnregisterModule(module_); }

  // Runs the dialog from `word` with a look at its starting state first, then `steps`.
  int32_t Run(OptionsWord word, std::vector<compat::DialogStep> steps, HMODULE module = nullptr) {
    steps.insert(steps.begin(), compat::Look());
    compat::ScriptDialog(std::move(steps));
    return FilterGetOptions(nullptr, module ? module : module_, 0, 0, 0, word);
  }

  HMODULE module_ = nullptr;
};

}  // namespace

TEST_F(OptionsDialogModel, StartingStateAndOkAtOnceForEveryCodeAndFlag) {
  for (OptionsWord high : {0x0u, 0x100u, 0xFFFFFFC0u}) {
    for (OptionsWord flags : {0x00u, 0x10u, 0x20u, 0x30u}) {
      for (OptionsWord code = 0; code < 16; ++code) {
        OptionsWord word = high | flags | code;
        SCOPED_TRACE("word " + Hex(word));
        // Word 0 stands for 1; codes 7..15 start on the first coding; code 0 checks nothing.
        OptionsWord shown_code = word == 0 ? 1 : code;
        int radio = shown_code <= 6 ? RadioOfCode[shown_code] : 1000;
        bool locked = flags & 0x20;
        bool header = !(flags & 0x10) && !locked;

        int32_t result = Run(word, {compat::PressEnter()});
        compat::DialogRun run = compat::LastDialogRun();
        ASSERT_TRUE(run.shown);
        EXPECT_EQ(run.template_id, TemplateId);
        EXPECT_EQ(static_cast<OptionsWord>(run.init_param), word == 0 ? 1u : word);
        ASSERT_EQ(run.looks.size(), 1u);
        EXPECT_EQ(CheckedRadio(run.looks[0]), radio);
        EXPECT_EQ(Find(run.looks[0], HeaderBox)->check, header ? BST_CHECKED : BST_UNCHECKED);
        EXPECT_EQ(Find(run.looks[0], HeaderBox)->enabled, !locked);

        OptionsWord ok_code = shown_code >= 1 && shown_code <= 6 ? shown_code : 1;
        EXPECT_EQ(result, static_cast<int32_t>(header ? ok_code : ok_code | 0x10));
        EXPECT_TRUE(run.ended);
        EXPECT_EQ(run.steps_left, 0u);
      }
    }
  }
}

TEST_F(OptionsDialogModel, EdgeWordsOpenAndReturnAsListed) {
  for (const options_dialog::EdgeWord& c : options_dialog::EdgeWords) {
    SCOPED_TRACE("word " + Hex(c.word));
    EXPECT_EQ(Run(c.word, {compat::Click(IDOK)}), c.ok_result);
    compat::DialogRun run = compat::LastDialogRun();
    ASSERT_EQ(run.looks.size(), 1u);
    EXPECT_EQ(CheckedRadio(run.looks[0]), c.radio);
    EXPECT_EQ(Find(run.looks[0], HeaderBox)->check != BST_UNCHECKED, c.header_checked);
    EXPECT_EQ(Find(run.looks[0], HeaderBox)->enabled, c.header_enabled);
  }
}

TEST_F(OptionsDialogModel, EachCodingWithAndWithoutHeader) {
  for (int i = 0; i < 6; ++i) {
    for (bool header : {true, false}) {
      SCOPED_TRACE("radio " + std::to_string(Radios[i]) + (header ? " with header" : " without header"));
      // Start from a different coding with the header in the opposite state, so every click matters.
      OptionsWord start = (i == 0 ? 6 : 1) | (header ? 0x10 : 0);
      std::vector<compat::DialogStep> steps{compat::Click(Radios[i]), compat::Click(HeaderBox), compat::Look(),
                                            compat::PressEnter()};
      int32_t result = Run(start, steps);
      EXPECT_EQ(result, static_cast<int32_t>(CodeOfRadio[i] | (header ? 0 : 0x10)));
      compat::DialogRun run = compat::LastDialogRun();
      ASSERT_EQ(run.looks.size(), 2u);
      EXPECT_EQ(CheckedRadio(run.looks[1]), Radios[i]);
    }
  }
}

TEST_F(OptionsDialogModel, CancelEscapeAndCloseBoxReturnZeroWhateverWasChanged) {
  const std::vector<compat::DialogStep> changes{compat::Click(1005), compat::Click(HeaderBox)};
  for (auto end : {compat::Click(IDCANCEL), compat::PressEscape(), compat::CloseBox()}) {
    for (OptionsWord word : {0x0u, 0x3u, 0x26u, 0x135u}) {
      SCOPED_TRACE("word " + Hex(word) + ", end step " + std::to_string(static_cast<int>(end.kind)));
      std::vector<compat::DialogStep> steps = changes;
      steps.push_back(end);
      steps.push_back(compat::PressEnter());  // never reached: the dialog has ended
      EXPECT_EQ(Run(word, steps), 0);
      compat::DialogRun run = compat::LastDialogRun();
      EXPECT_TRUE(run.ended);
      EXPECT_EQ(run.steps_left, 1u);
    }
  }
}

TEST_F(OptionsDialogModel, CloseBoxPostsCancelToTheDialogItself) {
  EXPECT_EQ(Run(4, {compat::CloseBox()}), 0);
  compat::DialogRun run = compat::LastDialogRun();
  ASSERT_EQ(run.delivered.size(), 3u);  // WM_INITDIALOG, WM_CLOSE, then the posted command
  EXPECT_EQ(run.delivered[1].message, WM_CLOSE);
  EXPECT_EQ(run.delivered[1].procedure_result, 1);
  EXPECT_EQ(run.delivered[2].message, WM_COMMAND);
  EXPECT_EQ(run.delivered[2].wparam, static_cast<WPARAM>(IDCANCEL));
  EXPECT_EQ(run.delivered[2].lparam, 0);
  EXPECT_EQ(run.posted_left, 0u);
}

TEST_F(OptionsDialogModel, OkTakesTheFirstCheckedCodingInItsOwnOrder) {
  struct Case {
    std::vector<int> checked;
    UINT state;
    int32_t result;
  };
  const Case cases[] = {
      {{1000, 1005, 1003}, BST_CHECKED, 3},  // 1003 comes before 1005; 1000 never wins over another
      {{1002, 1003}, BST_CHECKED, 3},        // 1003 is asked before 1002
      {{1004, 1001}, BST_CHECKED, 2},
      {{1000}, BST_CHECKED, 1},
      {{1005}, 2, 6},  // any state other than unchecked counts, an indeterminate one too
  };
  for (const Case& c : cases) {
    SCOPED_TRACE("first checked " + std::to_string(c.checked[0]));
    std::vector<compat::DialogStep> steps;
    for (int id : Radios) steps.push_back(compat::SetCheck(id, BST_UNCHECKED));
    for (int id : c.checked) steps.push_back(compat::SetCheck(id, c.state));
    steps.push_back(compat::SetCheck(HeaderBox, 2));
    steps.push_back(compat::PressEnter());
    EXPECT_EQ(Run(0x10, steps), c.result);
  }
}

TEST_F(OptionsDialogModel, ProcedureAnswersItsThreeMessagesOnly) {
  const std::vector<compat::DialogStep> steps{
      compat::SendToDialog(0x000F, 0, 0),                        // a paint request: left to the platform
      compat::SendToDialog(0x0112, 0xF060, 0),                   // a system command: left to the platform
      compat::SendToDialog(WM_COMMAND, MAKEWPARAM(1003, 0), 0),  // a radio button's click notification
      compat::SendToDialog(WM_COMMAND, MAKEWPARAM(1234, 0), 0),  // an id the dialog does not have
      compat::SendToDialog(WM_COMMAND, MAKEWPARAM(IDOK, 1), 0),  // IDOK with any notification code
  };
  EXPECT_EQ(Run(2, steps), 2);
  compat::DialogRun run = compat::LastDialogRun();
  ASSERT_EQ(run.delivered.size(), 6u);
  const INT_PTR expected[] = {1, 0, 0, 1, 1, 1};
  for (size_t i = 0; i < 6; ++i) EXPECT_EQ(run.delivered[i].procedure_result, expected[i]) << "message " << i;
  // Outside any dialog the procedure still answers and nothing breaks.
  EXPECT_EQ(DIALOGMsgProc(nullptr, WM_COMMAND, IDOK, 0), 1);
  EXPECT_EQ(DIALOGMsgProc(nullptr, WM_INITDIALOG, 0, 0x26), 1);
  EXPECT_EQ(DIALOGMsgProc(nullptr, WM_CLOSE, 0, 0), 1);
}

TEST_F(OptionsDialogModel, EachCallStartsFromTheWordHandedIn) {
  EXPECT_EQ(Run(1, {compat::Click(1005), compat::Click(HeaderBox), compat::PressEnter()}), 0x16);
  EXPECT_EQ(Run(3, {compat::PressEnter()}), 3);
  EXPECT_EQ(Run(0, {compat::Click(1001), compat::PressEscape()}), 0);
  EXPECT_EQ(Run(0, {compat::PressEnter()}), 1);
}

TEST_F(OptionsDialogModel, ProcedureIsFoundByOrdinalInTheModuleHandedIn) {
  // A module whose ordinal 20 is another procedure: that one runs, so the plug-in does not call its own
  // procedure directly.
  auto other = [](HWND dialog, UINT message, WPARAM, LPARAM lparam) -> INT_PTR {
    if (message == WM_INITDIALOG) EndDialog(dialog, 0x7700 | static_cast<INT_PTR>(lparam));
    return TRUE;
  };
  DLGPROC other_procedure = other;
  HMODULE stand_in = compat::RegisterModule({{{20, "Other", compat::AsFarProc(other_procedure)}}, {OptionsTemplate()}});
  EXPECT_EQ(Run(0, {}, stand_in), 0x7701);
  compat::UnregisterModule(stand_in);

  // The procedure under its name only, not its ordinal: the dialog cannot run.
  HMODULE by_name_only =
      compat::RegisterModule({{{21, "DIALOGMsgProc", compat::AsFarProc(&DIALOGMsgProc)}}, {OptionsTemplate()}});
  EXPECT_EQ(Run(1, {compat::PressEnter()}, by_name_only), -1);
  EXPECT_FALSE(compat::LastDialogRun().called);
  compat::UnregisterModule(by_name_only);

  // The procedure but no template 101.
  compat::DialogTemplateSpec other_template = OptionsTemplate();
  other_template.template_id = 102;
  HMODULE no_template =
      compat::RegisterModule({{{20, "DIALOGMsgProc", compat::AsFarProc(&DIALOGMsgProc)}}, {other_template}});
  EXPECT_EQ(Run(1, {compat::PressEnter()}, no_template), -1);
  EXPECT_TRUE(compat::LastDialogRun().called);
  EXPECT_FALSE(compat::LastDialogRun().shown);
  compat::UnregisterModule(no_template);

  // A module handle that names nothing, and one that was unregistered.
  HMODULE gone = compat::RegisterModule({});
  compat::UnregisterModule(gone);
  EXPECT_EQ(Run(1, {}, gone), -1);
  EXPECT_EQ(FilterGetOptions(nullptr, nullptr, 0, 0, 0, 1), -1);
}

TEST_F(OptionsDialogModel, PlatformFailureComesBackUnchanged) {
  // An owner that is not a window: the platform answers 0, and so does FilterGetOptions.
  compat::ScriptDialog({compat::PressEnter()});
  EXPECT_EQ(FilterGetOptions(reinterpret_cast<HWND>(0x1234), module_, 0, 0, 0, 4), 0);
  EXPECT_FALSE(compat::LastDialogRun().shown);
  // The built library finds nothing under a handle its own model never registered.
  EXPECT_EQ(Exports().FilterGetOptions(nullptr, LibraryModule(), 0, 0, 0, 1), -1);
}

// The model itself, as far as the dialog relies on it.
TEST_F(OptionsDialogModel, ModelKeepsAutoButtonsAndEnabledStates) {
  auto probe = [](HWND dialog, UINT message, WPARAM wparam, LPARAM) -> INT_PTR {
    if (message == WM_INITDIALOG) {
      HWND header = GetDlgItem(dialog, HeaderBox);
      bool ok = header != nullptr && GetDlgItem(dialog, 4321) == nullptr && GetDlgItem(nullptr, HeaderBox) == nullptr &&
                EnableWindow(header, FALSE) == FALSE && EnableWindow(header, FALSE) == TRUE &&
                IsWindowEnabled(header) == FALSE && EnableWindow(header, TRUE) == TRUE &&
                CheckDlgButton(dialog, 4321, BST_CHECKED) == FALSE && IsDlgButtonChecked(dialog, 4321) == 0 &&
                PostMessageA(header, WM_COMMAND, IDOK, 0) == FALSE && EndDialog(header, 5) == FALSE;
      if (!ok) EndDialog(dialog, 99);
    }
    if (message == WM_COMMAND && LOWORD(wparam) == IDOK) EndDialog(dialog, 7);
    return TRUE;
  };
  DLGPROC probe_procedure = probe;
  HMODULE probing = compat::RegisterModule({{{20, "Probe", compat::AsFarProc(probe_procedure)}}, {OptionsTemplate()}});
  int32_t result = Run(1,
                       {compat::Click(1000), compat::Click(1002), compat::Look(), compat::Click(HeaderBox),
                        compat::Click(HeaderBox), compat::Look(), compat::Click(-1), compat::PressEnter()},
                       probing);
  compat::UnregisterModule(probing);
  EXPECT_EQ(result, 7);
  compat::DialogRun run = compat::LastDialogRun();
  ASSERT_EQ(run.looks.size(), 3u);
  EXPECT_EQ(CheckedRadio(run.looks[1]), 1002);                     // auto radio buttons exclude one another
  EXPECT_EQ(Find(run.looks[2], HeaderBox)->check, BST_UNCHECKED);  // the check box toggled twice
  // Clicks on a disabled control do nothing.
  EXPECT_EQ(Run(0x21, {compat::Click(HeaderBox), compat::Look(), compat::PressEnter()}), 0x11);
  EXPECT_EQ(Find(compat::LastDialogRun().looks[1], HeaderBox)->check, BST_UNCHECKED);
  // A script that ends before the dialog does leaves it unended, with the platform's failure value.
  EXPECT_EQ(Run(1, {compat::Click(1001)}), -1);
  EXPECT_FALSE(compat::LastDialogRun().ended);
}
