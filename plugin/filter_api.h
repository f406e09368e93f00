// The host's filter interface: the 21 exported functions and the registration record FilterInfo.
//
// On Windows every export is stdcall with a fixed number of 32-bit arguments (the module-definition file
// maps each name to its decorated symbol, so a wrong argument count fails the link). 16-bit values travel
// in 32-bit slots, of which only the low 16 bits count; they are declared as 32-bit integers here.
// The native library exports the same names with C linkage and the same argument lists.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

#ifdef _WIN32
#define FILTER_CALL __stdcall
#else
#define FILTER_CALL
#endif

// The handle of an open file's state record (a global memory block); 0 means failure.
using FilterHandle = HGLOBAL;
using OptionsWord = uint32_t;

inline constexpr int32_t BlockSize = 16384;  // bytes of PCM moved by one read or write at most

static_assert(std::endian::native == std::endian::little, "FilterInfo and the VOX layout are little-endian");

// Registration record owned by the host. QueryMirlFilter fills part of it and leaves the other bytes as
// the host gave them; the layout is fixed by byte offset.
struct FilterInfo {
  char filter_name[24];        // "Kestrovan"
  char type_name[80];          // "Kestrovan VOX"
  uint16_t capabilities_a[4];  // offsets 104..111: 0
  uint16_t host_word_112;      // left as the host gave it
  uint16_t capabilities_b[4];  // offsets 114..121: 0
  uint16_t host_word_122;      // left as the host gave it
  uint16_t capability_mask;    // 0x00FF
  uint16_t capabilities_c[2];  // offsets 126..129: 0
  uint16_t host_word_130;      // left as the host gave it
  uint32_t filter_flags;       // 271
  char extension[4];           // "VOX"
  uint32_t block_size_bytes;   // BlockSize
};
static_assert(offsetof(FilterInfo, filter_name) == 0);
static_assert(offsetof(FilterInfo, type_name) == 24);
static_assert(offsetof(FilterInfo, capabilities_a) == 104);
static_assert(offsetof(FilterInfo, host_word_112) == 112);
static_assert(offsetof(FilterInfo, capabilities_b) == 114);
static_assert(offsetof(FilterInfo, host_word_122) == 122);
static_assert(offsetof(FilterInfo, capability_mask) == 124);
static_assert(offsetof(FilterInfo, capabilities_c) == 126);
static_assert(offsetof(FilterInfo, host_word_130) == 130);
static_assert(offsetof(FilterInfo, filter_flags) == 132);
static_assert(offsetof(FilterInfo, extension) == 136);
static_assert(offsetof(FilterInfo, block_size_bytes) == 140);
static_assert(sizeof(FilterInfo) >= 144);

extern "C" {

// Ordinal 2: fills FilterInfo, returns 0x0482.
int16_t FILTER_CALL QueryMirlFilter(FilterInfo* info);
// Ordinal 3.
FilterHandle FILTER_CALL OpenFilterOutput(const char* path, int32_t sample_rate, int32_t bits_per_sample,
                                          int32_t channels, int32_t size, int32_t* block_size_out, OptionsWord options);
// Ordinal 4.
void FILTER_CALL CloseFilterOutput(FilterHandle handle);
// Ordinal 5: codes the block in place and appends it; returns the PCM bytes coded.
int32_t FILTER_CALL WriteFilterOutput(FilterHandle handle, uint8_t* pcm, int32_t pcm_bytes);
// Ordinal 7.
void FILTER_CALL CloseFilterInput(FilterHandle handle);
// Ordinal 8: returns the PCM bytes delivered, 0 at the end of the file.
int32_t FILTER_CALL ReadFilterInput(FilterHandle handle, uint8_t* pcm, int32_t requested_bytes);
// Ordinal 9: 1 when the file is a VOX file by its tag or its name.
int32_t FILTER_CALL FilterUnderstandsFormat(const char* path);
// Ordinals 10 to 13: no special chunks.
int32_t FILTER_CALL FilterCanWriteSpecial(int32_t, int32_t);
int32_t FILTER_CALL FilterCanReadSpecial(int32_t, int32_t);
int32_t FILTER_CALL FilterWriteSpecial(int32_t, int32_t, int32_t, int32_t);
int32_t FILTER_CALL FilterReadSpecial(int32_t, int32_t, int32_t, int32_t);
// Ordinals 14 and 15. bits and channels are 16-bit values.
FilterHandle FILTER_CALL OpenFilterInput(const char* path, int32_t* sample_rate, int16_t* bits_per_sample,
                                         int16_t* channels, int32_t unused, int32_t* block_size_out);
FilterHandle FILTER_CALL OpenFilterInput2(const char* path, int32_t* sample_rate, int16_t* bits_per_sample,
                                          int16_t* channels, int32_t unused, int32_t* block_size_out, int32_t unused2);
// Ordinal 16.
void FILTER_CALL GetSuggestedSampleType2(int32_t* sample_rate, int16_t* bits_per_sample, int16_t* channels,
                                         OptionsWord options);
// Ordinal 17: writes the display name (buffer of at least 25 bytes), returns the options word.
OptionsWord FILTER_CALL FilterOptionsString(FilterHandle handle, char* display_name);
// Ordinal 18: runs the options dialog; returns the chosen word or 0 on cancel.
int32_t FILTER_CALL FilterGetOptions(HWND owner, HINSTANCE module, int32_t, int32_t, int32_t, OptionsWord options);
// Ordinal 19.
int32_t FILTER_CALL FilterGetFileSize(FilterHandle handle);
// Ordinal 20: the options dialog's procedure (found by FilterGetOptions by this ordinal).
INT_PTR FILTER_CALL DIALOGMsgProc(HWND dialog, UINT message, WPARAM wparam, LPARAM lparam);
// Ordinal 21.
OptionsWord FILTER_CALL FilterOptions(FilterHandle handle);
// Ordinal 23: returns the previous word.
OptionsWord FILTER_CALL FilterSetOptions(FilterHandle handle, OptionsWord options, int32_t, int32_t, int32_t);
// Ordinal 24: returns the previous word and writes the new word's sample rate.
OptionsWord FILTER_CALL FilterSetOptions2(FilterHandle handle, OptionsWord options, int32_t* sample_rate, int32_t,
                                          int32_t);

}  // extern "C"

// Typed pointers to the exports, for hosts that load the library at run time.
using QueryMirlFilterFn = decltype(&QueryMirlFilter);
using OpenFilterOutputFn = decltype(&OpenFilterOutput);
using CloseFilterOutputFn = decltype(&CloseFilterOutput);
using WriteFilterOutputFn = decltype(&WriteFilterOutput);
using CloseFilterInputFn = decltype(&CloseFilterInput);
using ReadFilterInputFn = decltype(&ReadFilterInput);
using FilterUnderstandsFormatFn = decltype(&FilterUnderstandsFormat);
using FilterCanWriteSpecialFn = decltype(&FilterCanWriteSpecial);
using FilterCanReadSpecialFn = decltype(&FilterCanReadSpecial);
using FilterWriteSpecialFn = decltype(&FilterWriteSpecial);
using FilterReadSpecialFn = decltype(&FilterReadSpecial);
using OpenFilterInputFn = decltype(&OpenFilterInput);
using OpenFilterInput2Fn = decltype(&OpenFilterInput2);
using GetSuggestedSampleType2Fn = decltype(&GetSuggestedSampleType2);
using FilterOptionsStringFn = decltype(&FilterOptionsString);
using FilterGetOptionsFn = decltype(&FilterGetOptions);
using FilterGetFileSizeFn = decltype(&FilterGetFileSize);
using DIALOGMsgProcFn = decltype(&DIALOGMsgProc);
using FilterOptionsFn = decltype(&FilterOptions);
using FilterSetOptionsFn = decltype(&FilterSetOptions);
using FilterSetOptions2Fn = decltype(&FilterSetOptions2);
