# Cross build for 64-bit Windows with Debian's MinGW-w64 toolchain (posix threading model).
# Test programs run through the 64-bit Wine loader, which needs no 32-bit code, in a private
# prefix inside the build tree.
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(MARLLIB_MINGW_PREFIX x86_64-w64-mingw32)
set(MARLLIB_WINE_NAMES wine64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
