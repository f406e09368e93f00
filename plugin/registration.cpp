// Library entry, registration and the sample-type suggestion. Nothing here keeps state.
#include "plugin/catalogue.h"
#include "plugin/filter_api.h"

#ifdef _WIN32
// The plug-in keeps no per-process or per-thread state, so every reason succeeds.
extern "C" BOOL WINAPI DllMain(HINSTANCE /*module*/, DWORD /*reason*/, LPVOID /*reserved*/) { return TRUE; }
#endif

extern "C" {

int16_t FILTER_CALL QueryMirlFilter(FilterInfo* info) {
  // Only each text and its terminator are written; the host's bytes after them stay.
  lstrcpyA(info->filter_name, "Kestrovan");
  lstrcpyA(info->type_name, "Kestrovan VOX");
  lstrcpyA(info->extension, "VOX");
  info->block_size_bytes = BlockSize;
  info->filter_flags = 0x10F;
  info->capability_mask = 0x00FF;
  for (uint16_t& word : info->capabilities_a) word = 0;
  for (uint16_t& word : info->capabilities_b) word = 0;
  for (uint16_t& word : info->capabilities_c) word = 0;
  return 0x0482;
}

void FILTER_CALL GetSuggestedSampleType2(int32_t* sample_rate, int16_t* bits_per_sample, int16_t* channels,
                                         OptionsWord options) {
  *sample_rate = SampleRate(options);
  *bits_per_sample = 16;
  *channels = 1;
}

int32_t FILTER_CALL FilterCanWriteSpecial(int32_t, int32_t) { return 0; }
int32_t FILTER_CALL FilterCanReadSpecial(int32_t, int32_t) { return 0; }
int32_t FILTER_CALL FilterWriteSpecial(int32_t, int32_t, int32_t, int32_t) { return 0; }
int32_t FILTER_CALL FilterReadSpecial(int32_t, int32_t, int32_t, int32_t) { return 0; }

}  // extern "C"
