// The options word of an open input: queries and changes.
#include "plugin/filter_api.h"

extern "C" {

OptionsWord FILTER_CALL FilterOptions(FilterHandle) { return 0; }
OptionsWord FILTER_CALL FilterOptionsString(FilterHandle, char*) { return 0; }
OptionsWord FILTER_CALL FilterSetOptions(FilterHandle, OptionsWord, int32_t, int32_t, int32_t) { return 0; }
OptionsWord FILTER_CALL FilterSetOptions2(FilterHandle, OptionsWord, int32_t*, int32_t, int32_t) { return 0; }

}  // extern "C"
