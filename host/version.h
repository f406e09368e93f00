// What `kvox --version` prints: kvox's own version, and the version and file of the plug-in library it
// drives, read from the version note that library carries.
#pragma once

#include <string>

struct LoadedPlugin {
  std::string path;     // the library file as the loader found it; empty when no loaded object has the note
  std::string version;  // the version in its note; empty when none was found
};

LoadedPlugin FindLoadedPlugin();

std::string VersionReport();
