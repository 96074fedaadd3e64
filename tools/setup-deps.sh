#!/usr/bin/env bash
# Installs what the builds and the Wine tests need on a Debian 12 machine (the fuzz
# build: clang 14, its libFuzzer runtime, and llvm-symbolizer for readable reports).
# Every check looks first, so a second run installs nothing.
set -euo pipefail

need=()
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(cmake ninja-build g++ zlib1g-dev googletest gzip
      g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686
      libz-mingw-w64-dev gcc-mingw-w64-x86-64-posix wine wine64 wine32:i386 xvfb x11-apps x11-utils imagemagick python3
      clang-14 libclang-rt-14-dev llvm-14 libusb-1.0-0-dev umockdev libumockdev-dev)
for p in "${pkgs[@]}"; do have_pkg "$p" || need+=("$p"); done

if [ ${#need[@]} -eq 0 ]; then
  exit 0
fi

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO=sudo
echo "setup: installing ${need[*]}"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  $SUDO dpkg --add-architecture i386
fi
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq "${need[@]}" >/dev/null
