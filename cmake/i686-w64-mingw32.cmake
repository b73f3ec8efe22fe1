# Cross build for 32-bit Windows with Debian's MinGW-w64 toolchain (posix threading model).
# Test programs run through Wine, in a private prefix inside the build tree.
set(CMAKE_SYSTEM_PROCESSOR x86)
set(MARLLIB_MINGW_PREFIX i686-w64-mingw32)
set(MARLLIB_WINE_NAMES wine)
# Every processor that runs a supported 32-bit Windows has SSE2; without the flag GCC's i686
# target keeps to the instructions of the Pentium Pro.
set(CMAKE_C_FLAGS_INIT -msse2)
set(CMAKE_CXX_FLAGS_INIT -msse2)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
