// The options word of an open input: its queries and changes touch that word and nothing else. A new word
// takes effect at the next read; the file position, decoded size and decoder state stay as they are.
#include "plugin/filter_api.h"
#include "vox/state.h"

extern "C" {

OptionsWord FILTER_CALL FilterOptions(FilterHandle handle) {
  LockedRecord<InputState> input(handle);
  return input ? input->options : 0;
}

OptionsWord FILTER_CALL FilterOptionsString(FilterHandle handle, char* display_name) {
  LockedRecord<InputState> input(handle);
  if (!input) return 0;
  // Codes 7..15 have no name: the caller's text stays as it was.
  const char* name = DisplayName(input->options);
  if (name != nullptr && display_name != nullptr) lstrcpyA(display_name, name);
  return input->options;
}

OptionsWord FILTER_CALL FilterSetOptions(FilterHandle handle, OptionsWord options, int32_t, int32_t, int32_t) {
  LockedRecord<InputState> input(handle);
  if (!input) return 0;
  OptionsWord previous = input->options;
  input->options = options;
  return previous;
}

OptionsWord FILTER_CALL FilterSetOptions2(FilterHandle handle, OptionsWord options, int32_t* sample_rate, int32_t,
                                          int32_t) {
  LockedRecord<InputState> input(handle);
  if (!input) return 0;
  OptionsWord previous = input->options;
  input->options = options;
  if (sample_rate) *sample_rate = SampleRate(options);
  return previous;
}

}  // extern "C"
