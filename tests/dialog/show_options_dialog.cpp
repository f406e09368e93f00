// Shows the options dialog of a built .flt the way a host does, and prints the word it returns.
// Usage: show_options_dialog [options word] [seconds before the close box is pressed]
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <thread>

#include "plugin/filter_api.h"

int main(int argc, char** argv) {
  auto word = static_cast<OptionsWord>(argc > 1 ? std::strtoul(argv[1], nullptr, 0) : 0);
  int close_after_seconds = argc > 2 ? std::atoi(argv[2]) : 0;

  HMODULE flt = LoadLibraryA("kestrovan_vox.flt");
  if (flt == nullptr) {
    std::fprintf(stderr, "show_options_dialog: kestrovan_vox.flt could not be loaded\n");
    return 2;
  }
  auto get_options =
      reinterpret_cast<FilterGetOptionsFn>(reinterpret_cast<void (*)()>(GetProcAddress(flt, "FilterGetOptions")));
  if (get_options == nullptr) return 2;

  // Brings the dialog to the front once it shows (the host would own it), and presses its close box later.
  std::thread([close_after_seconds] {
    HWND dialog = nullptr;
    for (int attempt = 0; attempt < 200 && dialog == nullptr; ++attempt) {
      Sleep(50);
      dialog = FindWindowA("#32770", "Kestrovan VOX");
    }
    if (dialog == nullptr) return;
    SetForegroundWindow(dialog);
    if (close_after_seconds > 0) {
      Sleep(static_cast<DWORD>(close_after_seconds) * 1000);
      PostMessageA(dialog, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
  }).detach();
  int32_t result = get_options(nullptr, flt, 0, 0, 0, word);
  std::printf("0x%02lx\n", static_cast<unsigned long>(result));
  return result == -1 ? 1 : 0;
}
