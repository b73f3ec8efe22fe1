#!/usr/bin/env bash
# Installs what the Windows and 32-bit builds (presets windows-x86, windows-x64, linux-i386)
# need, from Debian's packages: the MinGW-w64 cross compilers for i686 and x86-64 with the posix
# threading model, Wine with its 32-bit and 64-bit loaders to run the tests, GoogleTest's
# sources to build it for those targets, GCC's multilib support for -m32, and qemu-i386-static
# to run i386 programs where the kernel does not, and clang with lld-link, which link as
# Microsoft's tools do, to check the MSVC import library. Installs only what is missing, so it can run
# any number of times; the package lists are updated once, and only when something has to be
# installed.
set -euo pipefail

packages=(cmake googletest
          g++-mingw-w64-i686-posix binutils-mingw-w64-i686
          g++-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64
          wine wine32:i386 wine64
          g++-multilib qemu-user-static
          clang lld)

installed() {
  [ "$(dpkg-query -W -f='${db:Status-Status}' "$1" 2>/dev/null)" = installed ]
}

missing=()
for package in "${packages[@]}"; do
  installed "$package" || missing+=("$package")
done
if [ ${#missing[@]} -eq 0 ]; then
  echo "windows toolchain: all present"
  exit 0
fi
echo "windows toolchain: installing ${missing[*]}"

as_root=()
[ "$(id -u)" -eq 0 ] || as_root=(sudo)

# Wine's 32-bit half comes from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  "${as_root[@]}" dpkg --add-architecture i386
fi
export DEBIAN_FRONTEND=noninteractive
"${as_root[@]}" apt-get update -qq
"${as_root[@]}" apt-get install -y -qq "${missing[@]}"
