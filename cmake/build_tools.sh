#!/usr/bin/env bash
# Writes the exact versions of the tools that made a release, which another
# build needs to give the same bytes; it goes into the symbols zip.
#   build_tools.sh OUT.txt
set -euo pipefail
{
  echo "Duskhaven Quellstone was built with these Debian packages on Debian $(cat /etc/debian_version):"
  dpkg-query -W -f='${Package} ${Version}\n' clang-16 lld-16 llvm-16 mingw-w64-x86-64-dev \
    g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix-runtime binutils-mingw-w64-x86-64 \
    cmake ninja-build zip
} >"$1"
