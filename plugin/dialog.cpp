// The format options dialog.
#include "plugin/filter_api.h"

extern "C" {

int32_t FILTER_CALL FilterGetOptions(HWND, HINSTANCE, int32_t, int32_t, int32_t, OptionsWord) { return 0; }
INT_PTR FILTER_CALL DIALOGMsgProc(HWND, UINT, WPARAM, LPARAM) { return 0; }

}  // extern "C"
