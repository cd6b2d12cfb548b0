#!/usr/bin/env bash
# Sets up, builds and runs every test: native, under ASan+UBSan, and the Windows build under wine.
#
# The 32-bit Windows test programs run under wine32, whose 32-bit loader these machines run
# through qemu's user-mode emulator (scripts/setup.sh registers it). Where that cannot be set up,
# the 32-bit DLL is still built and its export table checked, and the same test programs run as
# a 64-bit Windows build under wine64, which exercises the Win32 layer.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

if timeout 120 /usr/lib/wine/wine --version >/dev/null 2>&1; then
  windows=(win32)
  # A prefix of our own: one made before 32-bit programs could run lacks their half.
  export WINEPREFIX="${LUDREX_WINEPREFIX:-$PWD/build/wine32-prefix}"
else
  echo "test: this machine cannot run 32-bit programs; the 32-bit DLL is built and its export"
  echo "test: table checked, and the Windows tests run on the 64-bit build under wine64"
  windows=(win32 win64)
  export LUDREX_WIN32_TEST_PROGRAMS=OFF
fi
bash scripts/build.sh native asan "${windows[@]}"

if [ ! -f "${WINEPREFIX:-$HOME/.wine}/system.reg" ]; then
  echo "test: preparing wine (${WINEPREFIX:-$HOME/.wine})"
  timeout 600 /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
fi
# One wine server for the whole 32-bit run (every new server would wait for the prefix's
# start-up), ended with the run; it belongs to our own prefix only.
if [ "${windows[*]}" = win32 ]; then
  wineserver -p >/dev/null 2>&1 || true
  trap 'wineserver -k >/dev/null 2>&1 || true' EXIT
fi

status=0
for t in native asan "${windows[@]}"; do
  echo "== tests: $t"
  args=()
  if [ "$t" = win32 ] && [ ${#windows[@]} -gt 1 ]; then args=(-R '^exports$'); fi
  # A wine program that hangs fails its test instead of holding CI up.
  case "$t" in win32 | win64) args+=(--timeout 600) ;; esac
  # The Linux test programs keep their scratch files in this checkout, so that runs in two
  # checkouts on one machine never share names in /tmp (the Windows ones use wine's temp folder).
  scratch=""
  case "$t" in native | asan) scratch="$PWD/build/$t/tmp"; mkdir -p "$scratch" ;; esac
  start=$SECONDS
  TEST_TMPDIR="$scratch" ctest --test-dir "build/$t" --output-on-failure "${args[@]}" || status=1
  echo "== tests: $t took $((SECONDS - start)) s"
done
exit $status
