#include "host/version.h"

#include <dlfcn.h>
#include <kvox.h>

#include <filesystem>

#include "kestrovan_vox_version.h"

std::string VersionReport() {
  std::string report = "kvox " KVOX_VERSION_STRING "\nlibkvox ";
  report += kvox_version();
  // The file the loader took the library from, so a stray copy on the search path shows.
  Dl_info where{};
  if (dladdr(reinterpret_cast<void*>(&kvox_version), &where) != 0 && where.dli_fname != nullptr) {
    report += " (" + std::filesystem::path(where.dli_fname).lexically_normal().string() + ")";
  }
  return report;
}
