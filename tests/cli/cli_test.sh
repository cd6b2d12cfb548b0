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

# The command line: help, unknown commands and options, missing arguments.
run --help > "$work/help.txt" 2>&1
check "--help lists the commands (exit 0)" grep -q 'import' "$work/help.txt"
run list --help > "$work/help.txt" 2>&1
check "a command's --help shows its options" grep -q -- '--subset' "$work/help.txt"
run list "$work/sample" --no-such-option > /dev/null 2>&1
check "an unknown option is a usage error" test $? -eq 2
run no-such-command > /dev/null 2>&1
check "an unknown command is a usage error" test $? -eq 2
run show "$work/sample" > /dev/null 2>&1
check "a missing argument is a usage error" test $? -eq 2
run list "$work/sample" --count -3 > /dev/null 2>&1
check "a negative count is a usage error" test $? -eq 2
run list "$work/sample" --subset "$work/no-such-subset" > /dev/null 2>&1
check "a missing subset file is a usage error" test $? -eq 2

# ---- search (header conditions, --count, --out and --subset) ----
all=$(run search "$work/sample-games" --count)
check "search without conditions counts every game ($all)" test "$all" = "$(run list "$work/sample-games" | wc -l)"
wins=$(run search "$work/sample-games" --result 1-0 --count)
losses=$(run search "$work/sample-games" --result 0-1 --count)
both=$(run search "$work/sample-games" --result 1-0 --result 0-1 --count)
check "repeated --result options add up ($wins + $losses = $both)" test $((wins + losses)) -eq "$both"
first=$(run list "$work/sample-games" --count 1 | sed -n 's/^ *0  \(.\{22\}\).*/\1/p' | sed 's/ *$//')
whites=$(run search "$work/sample-games" --white "$first" --count)
players=$(run search "$work/sample-games" --player "$first" --count)
check "a player of either colour finds at least the White games ($whites <= $players)" test "$whites" -ge 1 -a "$players" -ge "$whites"
run search "$work/sample-games" --white "$first" > "$work/found.txt"
check "search lists the games as list does" grep -q '^ *0  ' "$work/found.txt"
check "a name that is not in the library finds nothing" test "$(run search "$work/sample-games" --white 'No Such Player' --count)" = 0
run search "$work/sample-games" --date 1990..1999 --out "$work/nineties.sub" > /dev/null
nineties=$(run search "$work/sample-games" --date 1990..1999 --count)
check "--out saves what --subset reads back ($nineties)" test "$(run list "$work/sample-games" --subset "$work/nineties.sub" | wc -l)" = "$nineties"
run search "$work/sample-games" --date 19x --count > /dev/null 2>&1
check "a bad date is a usage error" test $? -eq 2
run search "$work/sample-games" --eco Z10 --count > /dev/null 2>&1
check "a bad ECO code is a usage error" test $? -eq 2

# ---- search: position, material and annotation conditions ----
sic=$(run search "$work/sample-games" --moves "e4 c5" --count)
sic2=$(run search "$work/sample-games" --fen "rnbqkbnr/pp1ppppp/8/2p5/4P3/8/PPPP1PPP/RNBQKBNR w KQkq - 0 2" --count)
check "--moves and --fen of the same position agree ($sic = $sic2)" test "$sic" = "$sic2"
qless=$(run search "$work/sample-games" --material "Q=0 q=0" --count)
check "queenless games are some of the games ($qless of $all)" test "$qless" -ge 1 -a "$qless" -le "$all"
sicWins=$(run search "$work/sample-games" --moves "e4 c5" --result 1-0 --count)
check "position and header conditions combine ($sicWins <= $sic)" test "$sicWins" -le "$sic"
short=$(run search "$work/sample-games" --plies 0..40 --count)
long=$(run search "$work/sample-games" --plies 41.. --count)
check "--plies splits the games ($short + $long = $all)" test $((short + long)) -eq "$all"
run search "$work/sample-games" --moves "e4 e5 Ke3 Nc6" --count > /dev/null 2>&1
check "moves that cannot be played are a usage error" test $? -eq 2
run search "$work/sample-games" --material "X=1" --count > /dev/null 2>&1
check "a bad material condition is a usage error" test $? -eq 2

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

echo "cli: $passes passed, $failures failed"
test "$failures" -eq 0
