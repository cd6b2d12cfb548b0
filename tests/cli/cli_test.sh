#!/usr/bin/env bash
# The ludrex command end to end: import, info, list, show, export, refusals and Ctrl-C.
# Usage: cli_test.sh LUDREX DATA_DIR [EMULATOR]
set -u
ludrex_bin=$1
data=$2
emulator=${3:-}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
passes=0

run() { $emulator "$ludrex_bin" "$@"; }
# Games in a PGN file: tag lines that follow a line that is no tag line.
games_in() { awk '/^\[/ { if (!tag) n++; tag = 1; next } { tag = 0 } END { print n + 0 }' "$1"; }
check() {  # check NAME CONDITION...
  local name=$1
  shift
  if "$@"; then passes=$((passes + 1)); else failures=$((failures + 1)); echo "FAILED: $name"; fi
}

# Import and export every data file; the exported games carry the same tags and moves.
for pgn in "$data"/*.pgn; do
  stem=$(basename "$pgn" .pgn)
  cp "$pgn" "$work/$stem.pgn"
  run import "$work/$stem.pgn" "$work/$stem" > "$work/$stem.import.txt" 2> "$work/$stem.err"
  check "import $stem" test $? -eq 0
  games=$(games_in "$pgn")
  held=$(run info "$work/$stem" | sed -n 's/^games: *//p' | tr -d '\r')
  check "info $stem counts $games games (got $held)" test "$held" = "$games"
  run export "$work/$stem" "$work/$stem.out.pgn" 2> /dev/null
  check "export $stem" test $? -eq 0
  out=$(games_in "$work/$stem.out.pgn")
  check "export $stem writes $games games (got $out)" test "$out" = "$games"
  # The tags the input has come out in the same order with the same values.
  for tag in Event Site Date Round White Black Result WhiteElo BlackElo ECO Annotator; do
    grep -a "^\[$tag " "$pgn" | tr -d '\r' > "$work/a.txt"
    [ -s "$work/a.txt" ] || continue
    [ "$(wc -l < "$work/a.txt")" -eq "$games" ] || continue  # the tag is missing from some games
    grep -a "^\[$tag " "$work/$stem.out.pgn" | tr -d '\r' > "$work/b.txt"
    check "export $stem keeps $tag" cmp -s "$work/a.txt" "$work/b.txt"
  done
done

# Importing the export and exporting again gives the same text: nothing is lost on the way.
run import "$work/sample-games.out.pgn" "$work/again" > /dev/null 2>&1
run export "$work/again" "$work/again.pgn" 2> /dev/null
check "second round trip is identical" cmp -s "$work/sample-games.out.pgn" "$work/again.pgn"

# list and show.
lines=$(run list "$work/sample-games" --count 5 | wc -l)
check "list --count 5" test "$lines" -eq 5
run show "$work/sample-games" 0 > "$work/show.pgn"
check "show 0 is a game" grep -q '^\[White ' "$work/show.pgn"
run show "$work/sample-games" 100000 > /dev/null 2>&1
check "show past the end fails" test $? -ne 0

# Refusals: an existing base without --force, a missing input.
run import "$data/sample-games.pgn" "$work/sample-games" > /dev/null 2> "$work/err.txt"
check "existing base refused" test $? -ne 0
check "existing base message" grep -q -- '--force' "$work/err.txt"
run import "$work/missing.pgn" "$work/x" > /dev/null 2> "$work/err.txt"
check "missing input refused" test $? -ne 0
run info "$work/nothing" > /dev/null 2> "$work/err.txt"
check "missing base refused" test $? -ne 0
check "missing base error text" grep -q 'Error # 503' "$work/err.txt"

# A file with a broken game in the middle imports the others.
{ cat "$data/sample-games.pgn" | head -c 30000; printf '\r\n\r\n[Event "broken"]\r\n[White "x"]\r\n[Black "y"]\r\n\r\n1. e4 e5 2. Qh9 Nc6 *\r\n\r\n'; cat "$data/sample-games.pgn"; } > "$work/broken.pgn"
run import "$work/broken.pgn" "$work/broken" > "$work/broken.txt" 2>&1
check "broken file imports" test $? -eq 0
check "the broken game is counted" grep -q '^1 of them only as far' "$work/broken.txt"

# Ctrl-C during a long import leaves a base that opens and reads back what it holds.
if [ -z "$emulator" ]; then
  for i in $(seq 1 40); do cat "$data/sample-games.pgn"; done > "$work/big.pgn"
  run import "$work/big.pgn" "$work/big" > /dev/null 2>&1 &
  pid=$!
  sleep 1.5
  kill -INT "$pid" 2> /dev/null
  wait "$pid"
  rc=$?
  check "interrupted import ends cleanly (rc $rc)" test "$rc" -eq 130 -o "$rc" -eq 0
  held=$(run info "$work/big" | sed -n 's/^games: *//p')
  listed=$(run list "$work/big" 2> /dev/null | wc -l)
  check "interrupted base reads back its $held games (listed $listed)" test "$held" = "$listed"
fi

# --- Durable import -----------------------------------------------------------------------------
# An import killed (SIGKILL) at a random moment leaves no base yet, or a base that opens with
# the games of its last checkpoint, each one equal to the same game of a complete import.
if [ -z "$emulator" ]; then
  for i in $(seq 1 10); do cat "$data/sample-games.pgn"; done > "$work/kill.pgn"
  total=$(games_in "$work/kill.pgn")
  LUDREX_IMPORT_CHECKPOINT=500 run import "$work/kill.pgn" "$work/whole" > /dev/null 2>&1
  check "checkpointed import is whole" test "$(run info "$work/whole" | sed -n 's/^games: *//p')" = "$total"
  for round in $(seq 1 12); do
    rm -f "$work"/killed.*
    LUDREX_IMPORT_CHECKPOINT=500 "$ludrex_bin" import "$work/kill.pgn" "$work/killed" > /dev/null 2>&1 &
    pid=$!
    sleep "$((RANDOM % 3)).$((RANDOM % 10))"
    kill -KILL "$pid" 2> /dev/null
    wait "$pid" 2> /dev/null
    [ -e "$work/killed.kvx" ] || { check "killed import $round: no base yet" true; continue; }
    held=$(run info "$work/killed" 2> "$work/err.txt" | sed -n 's/^games: *//p')
    check "killed import $round opens ($(head -c 200 "$work/err.txt"))" test -n "$held"
    [ -n "$held" ] || continue
    check "killed import $round holds whole checkpoints ($held)" \
      test $((held % 500)) -eq 0 -o "$held" -eq "$total"
    run export "$work/killed" "$work/killed.out.pgn" 2> /dev/null
    run export "$work/whole" "$work/whole.part.pgn" --count "$held" 2> /dev/null
    cmp -s "$work/killed.out.pgn" "$work/whole.part.pgn" ||
      diff "$work/killed.out.pgn" "$work/whole.part.pgn" | head -8
    check "killed import $round keeps its $held games" cmp -s "$work/killed.out.pgn" "$work/whole.part.pgn"
  done
fi

echo "cli: $passes passed, $failures failed"
test "$failures" -eq 0
