#include "tests/support/exports.h"

const FilterExports& LinkedExports() {
  static const FilterExports exports{
      QueryMirlFilter,   OpenFilterOutput,        CloseFilterOutput,     WriteFilterOutput,       CloseFilterInput,
      ReadFilterInput,   FilterUnderstandsFormat, FilterCanWriteSpecial, FilterCanReadSpecial,    FilterWriteSpecial,
      FilterReadSpecial, OpenFilterInput,         OpenFilterInput2,      GetSuggestedSampleType2, FilterOptionsString,
      FilterGetOptions,  FilterGetFileSize,       DIALOGMsgProc,         FilterOptions,           FilterSetOptions,
      FilterSetOptions2};
  return exports;
}
