#!/usr/bin/env bash
# Installs everything the build and the tests need (Debian packages). Safe to run again: it only
# calls apt-get when a package is missing.
set -euo pipefail

native=(cmake ninja-build g++ googletest libgtest-dev libbenchmark-dev binutils libcli11-dev)
windows=(g++-mingw-w64-i686-posix gcc-mingw-w64-i686-posix binutils-mingw-w64-i686 wine wine32:i386
         g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 wine64)

want=("${native[@]}")
if [ "${LUDREX_NATIVE_ONLY:-0}" != 1 ]; then want+=("${windows[@]}"); fi

missing=()
for p in "${want[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then exit 0; fi

sudo=""
if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
if [ "${LUDREX_NATIVE_ONLY:-0}" != 1 ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  $sudo dpkg --add-architecture i386
fi
echo "setup: installing ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
