# Cross toolchain for the 32-bit Windows plug-in (Debian's g++-mingw-w64-i686).
# The -posix compilers carry std::mutex and std::thread, which GoogleTest needs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(KVOX_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${KVOX_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KVOX_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${KVOX_MINGW_PREFIX}-windres)
set(CMAKE_OBJDUMP ${KVOX_MINGW_PREFIX}-objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${KVOX_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test executables run under Wine, in a prefix of this build tree's own.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run)
