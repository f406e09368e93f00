// Reading a VOX file block by block as 16-bit PCM.
#include "plugin/filter_api.h"

extern "C" {

FilterHandle FILTER_CALL OpenFilterInput(const char*, int32_t*, int16_t*, int16_t*, int32_t, int32_t*) {
  return nullptr;
}
FilterHandle FILTER_CALL OpenFilterInput2(const char*, int32_t*, int16_t*, int16_t*, int32_t, int32_t*, int32_t) {
  return nullptr;
}
int32_t FILTER_CALL ReadFilterInput(FilterHandle, uint8_t*, int32_t) { return 0; }
int32_t FILTER_CALL FilterGetFileSize(FilterHandle) { return 0; }
void FILTER_CALL CloseFilterInput(FilterHandle) {}

}  // extern "C"
