// What `kvox --version` prints: kvox's own version, and the version and file of the libkvox it runs on.
#pragma once

#include <string>

std::string VersionReport();
