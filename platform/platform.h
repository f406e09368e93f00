// The Win32 calls the plug-in makes. On Windows these are the real ones; on other systems they come from
// our compatibility layer, which behaves as the plug-in expects of the originals.
#pragma once

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#else
#include "platform/win32_compat.h"
#endif
