# The part of the MinGW-w64 toolchain files that does not depend on the target processor: the
# including file sets MARLLIB_MINGW_PREFIX (the triplet) and MARLLIB_WINE_NAMES (the Wine
# loaders that run its programs, in order of preference).
set(CMAKE_SYSTEM_NAME Windows)

# Debian's compilers with the posix threading model, which std::thread and std::mutex need.
set(CMAKE_C_COMPILER ${MARLLIB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${MARLLIB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${MARLLIB_MINGW_PREFIX}-windres)
# Link-time optimisation archives and links through GCC's wrappers, which load the LTO plugin.
set(CMAKE_C_COMPILER_AR ${MARLLIB_MINGW_PREFIX}-gcc-ar-posix)
set(CMAKE_CXX_COMPILER_AR ${MARLLIB_MINGW_PREFIX}-gcc-ar-posix)
set(CMAKE_C_COMPILER_RANLIB ${MARLLIB_MINGW_PREFIX}-gcc-ranlib-posix)
set(CMAKE_CXX_COMPILER_RANLIB ${MARLLIB_MINGW_PREFIX}-gcc-ranlib-posix)

# Look for libraries and headers in the target's sysroot only; programs come from the host.
set(CMAKE_FIND_ROOT_PATH /usr/${MARLLIB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Wine runs the test programs. It needs a writable prefix of its own, which is created on
# first use; WINEDEBUG=-all keeps its diagnostics out of test output, and the overrides stop
# it from offering to install Mono and Gecko into a new prefix.
find_program(MARLLIB_WINE NAMES ${MARLLIB_WINE_NAMES} PATHS /usr/lib/wine)
if(MARLLIB_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR
      /usr/bin/env WINEPREFIX=${CMAKE_BINARY_DIR}/wine WINEDEBUG=-all
      WINEDLLOVERRIDES=mscoree,mshtml= ${MARLLIB_WINE})
endif()
