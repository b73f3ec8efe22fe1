#!/usr/bin/env bash
# Installs what the 32-bit Windows build (preset windows-x86) needs, from Debian's packages:
# the MinGW-w64 cross compiler with the posix threading model, Wine with its 32-bit part to
# run the tests, and GoogleTest's sources to build it for Windows. Installs only what is
# missing, so it can run any number of times; the package lists are updated once, and only
# when something has to be installed.
set -euo pipefail

packages=(cmake g++-mingw-w64-i686-posix binutils-mingw-w64-i686 googletest wine wine32:i386)

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
