# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain (posix threading model).
# Test programs run through Wine, in a private prefix inside the build tree.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)

set(MARLLIB_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${MARLLIB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARLLIB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MARLLIB_MINGW_PREFIX}-windres)

# Look for libraries and headers in the target's sysroot only; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MARLLIB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs. It needs a writable prefix of its own, which is created on
# first use; WINEDEBUG=-all keeps its diagnostics out of test output, and the overrides stop
# it from offering to install Mono and Gecko into a new prefix.
find_program(MARLLIB_WINE NAMES wine)
if(MARLLIB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${MARLLIB_WINE})
endif()
