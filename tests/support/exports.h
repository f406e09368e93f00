// The plug-in's exports as a host sees them: the built library loaded at run time (the .so natively, the
// real .flt under Wine) and its functions found by name, called through correctly typed pointers.
#pragma once

#include "plugin/filter_api.h"

struct FilterExports {
  QueryMirlFilterFn QueryMirlFilter;
  OpenFilterOutputFn OpenFilterOutput;
  CloseFilterOutputFn CloseFilterOutput;
  WriteFilterOutputFn WriteFilterOutput;
  CloseFilterInputFn CloseFilterInput;
  ReadFilterInputFn ReadFilterInput;
  FilterUnderstandsFormatFn FilterUnderstandsFormat;
  FilterCanWriteSpecialFn FilterCanWriteSpecial;
  FilterCanReadSpecialFn FilterCanReadSpecial;
  FilterWriteSpecialFn FilterWriteSpecial;
  FilterReadSpecialFn FilterReadSpecial;
  OpenFilterInputFn OpenFilterInput;
  OpenFilterInput2Fn OpenFilterInput2;
  GetSuggestedSampleType2Fn GetSuggestedSampleType2;
  FilterOptionsStringFn FilterOptionsString;
  FilterGetOptionsFn FilterGetOptions;
  FilterGetFileSizeFn FilterGetFileSize;
  DIALOGMsgProcFn DIALOGMsgProc;
  FilterOptionsFn FilterOptions;
  FilterSetOptionsFn FilterSetOptions;
  FilterSetOptions2Fn FilterSetOptions2;
};

// The export names in ordinal order (2..24 without 6 and 22).
inline constexpr const char* ExportNames[21] = {
    "QueryMirlFilter",      "OpenFilterOutput",        "CloseFilterOutput",       "WriteFilterOutput",
    "CloseFilterInput",     "ReadFilterInput",         "FilterUnderstandsFormat", "FilterCanWriteSpecial",
    "FilterCanReadSpecial", "FilterWriteSpecial",      "FilterReadSpecial",       "OpenFilterInput",
    "OpenFilterInput2",     "GetSuggestedSampleType2", "FilterOptionsString",     "FilterGetOptions",
    "FilterGetFileSize",    "DIALOGMsgProc",           "FilterOptions",           "FilterSetOptions",
    "FilterSetOptions2"};
inline constexpr int ExportOrdinals[21] = {2, 3, 4, 5, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 23, 24};

// Loads the library once; fails the calling test when a name is missing.
const FilterExports& Exports();

// The exports linked into the test program itself (native tests that reach the compatibility layer's
// fault seam link the plug-in's code directly).
const FilterExports& LinkedExports();

// Finds one symbol by name in the loaded library (nullptr when absent).
void* FindExport(const char* name);

// The loaded library's module handle (HINSTANCE on Windows, dlopen handle natively).
void* LibraryModule();
