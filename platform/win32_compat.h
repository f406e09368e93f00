// A small stand-in for the part of the Win32 API that the plug-in uses, for builds on other systems.
// Each call keeps the contract of its Win32 original as far as the plug-in relies on it: integer file
// handles with -1 for failure, movable global memory addressed only while locked, plain ANSI texts.
#pragma once

#include <cstddef>
#include <cstdint>

#define WINAPI
#define CALLBACK

using BOOL = int;
using BYTE = uint8_t;
using WORD = uint16_t;
using DWORD = uint32_t;
using LONG = int32_t;
using UINT = uint32_t;
using INT_PTR = intptr_t;
using UINT_PTR = uintptr_t;
using LONG_PTR = intptr_t;
using WPARAM = uintptr_t;
using LPARAM = intptr_t;
using LRESULT = intptr_t;
using HFILE = int;
using HANDLE = void*;
using HGLOBAL = HANDLE;
using HWND = HANDLE;
using HINSTANCE = HANDLE;
using HMODULE = HINSTANCE;
using LPVOID = void*;
using LPSTR = char*;
using LPCSTR = const char*;
using FARPROC = INT_PTR (*)();
using DLGPROC = INT_PTR (*)(HWND, UINT, WPARAM, LPARAM);

inline constexpr BOOL TRUE = 1;
inline constexpr BOOL FALSE = 0;

// Files.
inline constexpr HFILE HFILE_ERROR = -1;
inline constexpr int OF_READ = 0x0000;
inline constexpr int OF_WRITE = 0x0001;
inline constexpr int OF_READWRITE = 0x0002;
inline constexpr int FILE_BEGIN = 0;
inline constexpr int FILE_CURRENT = 1;
inline constexpr int FILE_END = 2;

HFILE _lopen(LPCSTR path, int read_write);
HFILE _lcreat(LPCSTR path, int attribute);
UINT _lread(HFILE file, LPVOID buffer, UINT byte_count);
UINT _lwrite(HFILE file, LPCSTR buffer, UINT byte_count);
LONG _llseek(HFILE file, LONG offset, int origin);
HFILE _lclose(HFILE file);

// Global memory.
inline constexpr UINT GMEM_FIXED = 0x0000;
inline constexpr UINT GMEM_MOVEABLE = 0x0002;
inline constexpr UINT GMEM_ZEROINIT = 0x0040;
inline constexpr UINT GMEM_SHARE = 0x2000;
inline constexpr UINT GMEM_DDESHARE = GMEM_SHARE;
inline constexpr UINT GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

HGLOBAL GlobalAlloc(UINT flags, size_t byte_count);
LPVOID GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
HGLOBAL GlobalFree(HGLOBAL memory);

// Texts.
LPSTR lstrcpyA(LPSTR destination, LPCSTR source);
int lstrcmpA(LPCSTR first, LPCSTR second);
int lstrlenA(LPCSTR text);

// Modules and dialogs (a model of a dialog's controls, driven by tests).
#include "platform/dialog_compat.h"
