#!/usr/bin/env bash
# Builds the library and the ludrex command, then imports the bundled example into a native base
# and shows what is in it.
set -euo pipefail
cd "$(dirname "$0")/.."

LUDREX_NATIVE_ONLY=1 bash scripts/setup.sh
bash scripts/build.sh native >/dev/null
bin=build/native/bin/ludrex
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$bin" version
"$bin" import examples/sample-games.pgn "$work/sample"
"$bin" info "$work/sample"
echo "-- the first ten games:"
"$bin" list "$work/sample" --count 10
echo "-- game 0:"
"$bin" show "$work/sample" 0
echo "-- exported back to PGN: $("$bin" export "$work/sample" | grep -c '^\[Event ') games"
