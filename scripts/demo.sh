#!/usr/bin/env bash
# Builds the library and the ludrex command, then runs the command on the bundled example.
set -euo pipefail
cd "$(dirname "$0")/.."

LUDREX_NATIVE_ONLY=1 bash scripts/setup.sh
bash scripts/build.sh native >/dev/null
bin=build/native/bin/ludrex

"$bin" version
echo "Error 903 as the library reports it:"
"$bin" message 903
