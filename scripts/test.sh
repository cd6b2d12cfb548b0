#!/usr/bin/env bash
# Sets up, builds and runs every test: native, under ASan+UBSan, and the Windows build under wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
bash scripts/build.sh native asan win32

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
if [ ! -d "${WINEPREFIX:-$HOME/.wine}" ]; then
  echo "test: preparing wine"
  timeout 300 wineboot -i >/dev/null 2>&1 || true
fi

status=0
for t in native asan win32; do
  echo "== tests: $t"
  ctest --test-dir "build/$t" --output-on-failure || status=1
done
exit $status
