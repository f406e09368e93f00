#include "tests/support/exports.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <stdexcept>
#include <string>

#ifdef _WIN32
void* LibraryModule() {
  static HMODULE module = LoadLibraryA("kestrovan_vox.flt");
  return module;
}
void* FindExport(const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(LibraryModule()), name));
}
#else
#include <dlfcn.h>
void* LibraryModule() {
  static void* module = dlopen(KVOX_LIBRARY_PATH, RTLD_NOW | RTLD_LOCAL);
  return module;
}
void* FindExport(const char* name) { return LibraryModule() ? dlsym(LibraryModule(), name) : nullptr; }
#endif

namespace {

template <typename Fn>
void Bind(Fn& slot, const char* name) {
  slot = reinterpret_cast<Fn>(FindExport(name));
  if (slot == nullptr) throw std::runtime_error(std::string("export not found: ") + name);
}

FilterExports LoadExports() {
  if (LibraryModule() == nullptr) throw std::runtime_error("the plug-in library could not be loaded");
  FilterExports e{};
  Bind(e.QueryMirlFilter, "QueryMirlFilter");
  Bind(e.OpenFilterOutput, "OpenFilterOutput");
  Bind(e.CloseFilterOutput, "CloseFilterOutput");
  Bind(e.WriteFilterOutput, "WriteFilterOutput");
  Bind(e.CloseFilterInput, "CloseFilterInput");
  Bind(e.ReadFilterInput, "ReadFilterInput");
  Bind(e.FilterUnderstandsFormat, "FilterUnderstandsFormat");
  Bind(e.FilterCanWriteSpecial, "FilterCanWriteSpecial");
  Bind(e.FilterCanReadSpecial, "FilterCanReadSpecial");
  Bind(e.FilterWriteSpecial, "FilterWriteSpecial");
  Bind(e.FilterReadSpecial, "FilterReadSpecial");
  Bind(e.OpenFilterInput, "OpenFilterInput");
  Bind(e.OpenFilterInput2, "OpenFilterInput2");
  Bind(e.GetSuggestedSampleType2, "GetSuggestedSampleType2");
  Bind(e.FilterOptionsString, "FilterOptionsString");
  Bind(e.FilterGetOptions, "FilterGetOptions");
  Bind(e.FilterGetFileSize, "FilterGetFileSize");
  Bind(e.DIALOGMsgProc, "DIALOGMsgProc");
  Bind(e.FilterOptions, "FilterOptions");
  Bind(e.FilterSetOptions, "FilterSetOptions");
  Bind(e.FilterSetOptions2, "FilterSetOptions2");
  return e;
}

}  // namespace

const FilterExports& Exports() {
  static const FilterExports exports = LoadExports();
  return exports;
}
