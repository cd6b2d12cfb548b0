#!/usr/bin/env bash
# Builds the library, the command and the tests. Targets: native (build/native), asan
# (build/asan: AddressSanitizer + UndefinedBehaviorSanitizer), win32 (build/win32: the 32-bit
# Windows DLL, cross-built), win64 (build/win64: the same for 64-bit Windows, whose tests run
# where 32-bit programs cannot), release (build/release: the plain Release configuration exactly as
# a user builds it). With no argument: native, asan and win32. Every target but release treats
# warnings as errors (LUDREX_WERROR); a user's own build does not, whatever the compiler warns.
set -euo pipefail
cd "$(dirname "$0")/.."

targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(native asan win32)

for t in "${targets[@]}"; do
  case "$t" in
    native) cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUDREX_BENCH=ON -DLUDREX_WERROR=ON >/dev/null ;;
    release) cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null ;;
    asan) cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUDREX_SANITIZE=ON -DLUDREX_WERROR=ON >/dev/null ;;
    win32) cmake -S . -B build/win32 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
             -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake -DLUDREX_WERROR=ON \
             -DLUDREX_TEST_PROGRAMS="${LUDREX_WIN32_TEST_PROGRAMS:-ON}" >/dev/null ;;
    win64) cmake -S . -B build/win64 -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
             -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw.cmake -DLUDREX_WERROR=ON >/dev/null ;;
    *) echo "build.sh: unknown target $t" >&2; exit 2 ;;
  esac
  echo "build: $t"
  cmake --build "build/$t"
done
