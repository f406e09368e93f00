// The real options dialog of the built .flt under Wine: FilterGetOptions runs it modally on the test's
// thread while a helper thread finds it by its caption, reads its controls, and acts as a user would.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/dialog/options_dialog_facts.h"
#include "tests/support/exports.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto DialogAppearLimit = std::chrono::seconds(10);
constexpr auto DialogEndLimit = std::chrono::seconds(5);
constexpr auto FocusMoveLimit = std::chrono::seconds(5);
constexpr UINT SendLimit_ms = 5000;

using namespace options_dialog;

std::string Hex(uint32_t value) {
  std::ostringstream text;
  text << "0x" << std::hex << value;
  return text.str();
}

HMODULE Flt() { return static_cast<HMODULE>(LibraryModule()); }

// What the helper thread reads from the dialog at one moment.
struct Look {
  int checked_radio = 0;  // 0 when none is checked, -1 when several are
  UINT header_check = 0;
  bool header_enabled = false;
  int focus_id = 0;  // the control with the keyboard focus, 0 when none has it
};

struct Outcome {
  int32_t result = 0;
  bool appeared = false;
  bool forced_down = false;  // the dialog did not end by itself and was stopped
  std::string caption;
  HWND owner = nullptr;
  std::vector<Look> looks;  // the first is taken as soon as the dialog shows
};

// The user's hands on the running dialog, used from the helper thread.
class Hands {
 public:
  Hands(HWND dialog, Outcome& outcome) : dialog_(dialog), outcome_(outcome) {}

  int FocusId() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &info) || info.hwndFocus == nullptr) {
      return 0;
    }
    return GetDlgCtrlID(info.hwndFocus);
  }

  void TakeLook() {
    Look look;
    for (int id : Radios) {
      if (IsDlgButtonChecked(dialog_, id) != BST_UNCHECKED) look.checked_radio = look.checked_radio ? -1 : id;
    }
    look.header_check = IsDlgButtonChecked(dialog_, HeaderBox);
    look.header_enabled = IsWindowEnabled(GetDlgItem(dialog_, HeaderBox)) != FALSE;
    look.focus_id = FocusId();
    outcome_.looks.push_back(look);
  }

  // A mouse click on a control, as the button itself takes it.
  void Click(int control_id) {
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(GetDlgItem(dialog_, control_id), BM_CLICK, 0, 0, SMTO_ABORTIFHUNG, SendLimit_ms, &ignored);
  }

  // A key pressed where the focus is; the dialog manager's loop turns Enter, Escape and Tab into commands.
  void Press(WPARAM virtual_key) {
    HWND target = dialog_;
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (GetGUIThreadInfo(GetWindowThreadProcessId(dialog_, nullptr), &info) && info.hwndFocus) {
      target = info.hwndFocus;
    }
    PostMessageA(target, WM_KEYDOWN, virtual_key, 1);
    PostMessageA(target, WM_KEYUP, virtual_key, 1 | 3u << 30);
  }

  // Tab, then waits until the focus has moved; returns the new focus.
  int PressTab() {
    int before = FocusId();
    Press(VK_TAB);
    for (auto deadline = Clock::now() + FocusMoveLimit; Clock::now() < deadline;) {
      if (FocusId() != before) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return FocusId();
  }

  // The close box in the caption: the system menu's close command.
  void CloseBox() { PostMessageA(dialog_, WM_SYSCOMMAND, SC_CLOSE, 0); }

 private:
  HWND dialog_;
  Outcome& outcome_;
};

struct Search {
  HWND found = nullptr;
};

BOOL CALLBACK FindOptionsDialog(HWND window, LPARAM context) {
  char class_name[32] = {};
  char caption[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  GetWindowTextA(window, caption, sizeof caption);
  // Visible only once WM_INITDIALOG has set the controls up.
  if (std::string(class_name) == "#32770" && std::string(caption) == "Kestrovan VOX" && IsWindowVisible(window)) {
    reinterpret_cast<Search*>(context)->found = window;
    return FALSE;
  }
  return TRUE;
}

// Runs FilterGetOptions on this thread while a helper thread waits for the dialog, looks at it, and hands
// it to `act`. Every wait is bounded: a dialog that never shows fails, one that never ends is stopped.
Outcome RunDialog(OptionsWord word, const std::function<void(Hands&)>& act, HMODULE module = Flt(),
                  HWND owner = nullptr) {
  Outcome outcome;
  DWORD dialog_thread = GetCurrentThreadId();
  std::atomic<bool> returned{false};
  std::thread helper([&] {
    Search search;
    for (auto deadline = Clock::now() + DialogAppearLimit; !search.found && !returned && Clock::now() < deadline;) {
      EnumThreadWindows(dialog_thread, FindOptionsDialog, reinterpret_cast<LPARAM>(&search));
      if (!search.found) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (HWND dialog = search.found) {
      outcome.appeared = true;
      char caption[64] = {};
      GetWindowTextA(dialog, caption, sizeof caption);
      outcome.caption = caption;
      outcome.owner = GetWindow(dialog, GW_OWNER);
      Hands hands(dialog, outcome);
      hands.TakeLook();
      act(hands);
      for (auto deadline = Clock::now() + DialogEndLimit; !returned && Clock::now() < deadline;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
      }
    }
    if (!returned) {
      outcome.forced_down = true;
      PostThreadMessageA(dialog_thread, WM_QUIT, 0, 0);  // ends any modal loop, whatever its procedure does
    }
  });
  outcome.result = Exports().FilterGetOptions(owner, module, 0, 0, 0, word);
  returned = true;
  helper.join();
  MSG left;
  while (PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE)) {
  }
  return outcome;
}

void ExpectEndedByItself(const Outcome& outcome) {
  EXPECT_TRUE(outcome.appeared) << "the dialog never showed";
  EXPECT_FALSE(outcome.forced_down) << "the dialog did not end by itself";
  EXPECT_EQ(outcome.caption, "Kestrovan VOX");
  ASSERT_FALSE(outcome.looks.empty());
}

}  // namespace

TEST(LiveOptionsDialog, EdgeWordsOpenAsListedAndOkReturnsTheirWord) {
  for (const options_dialog::EdgeWord& c : options_dialog::EdgeWords) {
    SCOPED_TRACE("word " + Hex(c.word));
    // OK by mouse for half of them, by Enter for the others.
    bool by_enter = c.word & 1;
    Outcome outcome = RunDialog(c.word, [&](Hands& hands) { by_enter ? hands.Press(VK_RETURN) : hands.Click(IDOK); });
    ExpectEndedByItself(outcome);
    EXPECT_EQ(outcome.result, c.ok_result);
    EXPECT_EQ(outcome.looks[0].checked_radio, c.radio);
    EXPECT_EQ(outcome.looks[0].header_check, c.header_checked ? BST_CHECKED : BST_UNCHECKED);
    EXPECT_EQ(outcome.looks[0].header_enabled, c.header_enabled);
    // WM_INITDIALOG leaves the focus to the dialog manager: the first tab stop, OK, unless it counts the
    // checked radio button as its group's stop, as Wine's does.
    int focus = outcome.looks[0].focus_id;
    EXPECT_TRUE(focus == IDOK || (focus == c.radio && c.radio != 0)) << "focus on " << focus;
  }
}

TEST(LiveOptionsDialog, EachCodingWithAndWithoutHeader) {
  for (int i = 0; i < 6; ++i) {
    for (bool header : {true, false}) {
      SCOPED_TRACE("radio " + std::to_string(Radios[i]) + (header ? " with header" : " without header"));
      OptionsWord start = (i == 0 ? 6 : 1) | (header ? 0x10 : 0);
      Outcome outcome = RunDialog(start, [&](Hands& hands) {
        hands.Click(Radios[i]);
        hands.Click(HeaderBox);
        hands.TakeLook();
        hands.Click(IDOK);
      });
      ExpectEndedByItself(outcome);
      EXPECT_EQ(outcome.result, static_cast<int32_t>(CodeOfRadio[i] | (header ? 0 : 0x10)));
      ASSERT_EQ(outcome.looks.size(), 2u);
      EXPECT_EQ(outcome.looks[1].checked_radio, Radios[i]) << "the radio buttons exclude one another";
      EXPECT_EQ(outcome.looks[1].header_check, header ? BST_CHECKED : BST_UNCHECKED);
    }
  }
}

TEST(LiveOptionsDialog, CancelEscapeAndCloseBoxReturnZeroWhateverWasChanged) {
  const std::pair<const char*, std::function<void(Hands&)>> ends[] = {
      {"Cancel", [](Hands& hands) { hands.Click(IDCANCEL); }},
      {"Escape", [](Hands& hands) { hands.Press(VK_ESCAPE); }},
      {"close box", [](Hands& hands) { hands.CloseBox(); }},
  };
  for (const auto& [name, end] : ends) {
    for (OptionsWord word : {0x0u, 0x26u}) {
      SCOPED_TRACE(std::string(name) + " from word " + Hex(word));
      Outcome outcome = RunDialog(word, [&](Hands& hands) {
        hands.Click(1004);
        hands.Click(HeaderBox);
        end(hands);
      });
      ExpectEndedByItself(outcome);
      EXPECT_EQ(outcome.result, 0);
    }
  }
}

TEST(LiveOptionsDialog, TabMovesAmongOkCancelAndTheHeaderBoxOnly) {
  // With no radio button checked, the radio buttons take no part in the tab order at all.
  std::vector<int> order;
  Outcome outcome = RunDialog(0x10, [&](Hands& hands) {
    order.push_back(hands.FocusId());
    for (int i = 0; i < 3; ++i) order.push_back(hands.PressTab());
    hands.Press(VK_ESCAPE);
  });
  ExpectEndedByItself(outcome);
  EXPECT_EQ(order, (std::vector<int>{IDOK, IDCANCEL, HeaderBox, IDOK}));

  // A locked header box is disabled, and Tab passes it by.
  order.clear();
  outcome = RunDialog(0x30, [&](Hands& hands) {
    order.push_back(hands.FocusId());
    for (int i = 0; i < 2; ++i) order.push_back(hands.PressTab());
    hands.Press(VK_ESCAPE);
  });
  ExpectEndedByItself(outcome);
  EXPECT_EQ(order, (std::vector<int>{IDOK, IDCANCEL, IDOK}));
}

TEST(LiveOptionsDialog, OwnedByTheHostWindowAndFailuresComeBackUnchanged) {
  HWND host = CreateWindowA("STATIC", "host", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(host, nullptr);
  Outcome owned = RunDialog(
      5, [](Hands& hands) { hands.Click(IDOK); }, Flt(), host);
  ExpectEndedByItself(owned);
  EXPECT_EQ(owned.owner, host);
  EXPECT_EQ(owned.result, 5);
  DestroyWindow(host);

  // An owner that is no window: the platform's 0 comes back, and no dialog shows.
  Outcome bad_owner = RunDialog(
      5, [](Hands&) {}, Flt(), reinterpret_cast<HWND>(static_cast<uintptr_t>(0x7FFF0)));
  EXPECT_FALSE(bad_owner.appeared);
  EXPECT_FALSE(bad_owner.forced_down);
  EXPECT_EQ(bad_owner.result, 0);

  // A module without the procedure at ordinal 20 (this test program exports nothing): -1, no dialog.
  Outcome no_procedure = RunDialog(
      5, [](Hands&) {}, GetModuleHandleA(nullptr));
  EXPECT_FALSE(no_procedure.appeared);
  EXPECT_FALSE(no_procedure.forced_down);
  EXPECT_EQ(no_procedure.result, -1);
}
