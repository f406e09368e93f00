// Saving 16-bit PCM block by block as a VOX file.
#include "plugin/filter_api.h"

extern "C" {

FilterHandle FILTER_CALL OpenFilterOutput(const char*, int32_t, int32_t, int32_t, int32_t, int32_t*, OptionsWord) {
  return nullptr;
}
int32_t FILTER_CALL WriteFilterOutput(FilterHandle, uint8_t*, int32_t) { return 0; }
void FILTER_CALL CloseFilterOutput(FilterHandle) {}

}  // extern "C"
