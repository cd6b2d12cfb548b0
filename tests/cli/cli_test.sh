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

# ---- check, repair, compact, merge-names, clean-names --------------------------------------
run check "$work/sample-games" > "$work/check.txt"
check "check of a sound base exits 0" test $? -eq 0
check "check prints the findings as UTF-8" grep -q 'Проверка закончена' "$work/check.txt"
cp "$work/sample-games.axx" "$work/sample-games.axx.saved"
printf '\xff' > "$work/sample-games.axx"
run check "$work/sample-games" --log "$work/check.log" > "$work/check.txt"
check "check of a damaged base exits 1" test $? -eq 1
check "check names the damage" grep -q 'C005' "$work/check.txt"
check "check --log writes the log" test -s "$work/check.log"
cp "$work/sample-games.axx.saved" "$work/sample-games.axx"
run repair "$work/sample-games" "$work/repaired" > "$work/repair.txt" 2>&1
check "repair exits 0" test $? -eq 0
games=$(run info "$work/sample-games" | sed -n 's/^games: *//p' | tr -d '\r')
held=$(run info "$work/repaired" | sed -n 's/^games: *//p' | tr -d '\r')
check "repair copies every game of a sound base ($held of $games)" test "$held" = "$games"
run repair "$work/sample-games" "$work/repaired" > /dev/null 2>&1
check "repair refuses to replace a base without --force" test $? -eq 1
run compact "$work/sample-games" "$work/compact" > /dev/null 2>&1
check "compact exits 0" test $? -eq 0
check "compact keeps the games" test "$(run list "$work/compact" | wc -l)" = "$(run list "$work/sample-games" | wc -l)"
run list "$work/sample-games" > "$work/before.txt"
white=$(run export "$work/sample-games" --count 1 | sed -n 's/^\[White "\(.*\)"\]/\1/p' | tr -d '\r')
black=$(run export "$work/sample-games" --count 1 | sed -n 's/^\[Black "\(.*\)"\]/\1/p' | tr -d '\r')
cp "$work/sample-games.kvx" "$work/sample-games.kvx.saved"
run merge-names "$work/sample-games" Players "$black" "$white" > /dev/null 2>&1
check "merge-names exits 0" test $? -eq 0
first=$(run export "$work/sample-games" --count 1 | sed -n 's/^\[Black "\(.*\)"\]/\1/p' | tr -d '\r')
check "merge-names makes the black player the white one ($first)" test "$first" = "$white"
run merge-names "$work/sample-games" Players "No Such Player" "$white" > /dev/null 2>&1
check "merge-names of an unknown name fails" test $? -eq 1
run check "$work/sample-games" > /dev/null
check "the merged base is sound" test $? -eq 0
run clean-names "$work/sample-games" > /dev/null 2>&1
check "clean-names exits 0" test $? -eq 0
check "clean-names keeps the games" test "$(run list "$work/sample-games" | wc -l)" = "$(wc -l < "$work/before.txt")"
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

# ---- dups: the duplicate finder ----------------------------------------------------------------
# The sample games, then two more copies of the first game (one with another event).
awk '/^\[Event / { n++ } n == 1' "$data/sample-games.pgn" > "$work/first.pgn"
cat "$data/sample-games.pgn" "$work/first.pgn" > "$work/dups.pgn"
sed 's/^\[Event "/[Event "Copy /' "$work/first.pgn" >> "$work/dups.pgn"
run import "$work/dups.pgn" "$work/dups" > /dev/null 2>&1
total=$(run info "$work/dups" | sed -n 's/^games: *//p' | tr -d '\r')
base_count=$(run dups "$work/sample-games" --count | tr -d '\r')
count=$(run dups "$work/dups" --count | tr -d '\r')
read -r base_groups base_games <<< "$base_count"
read -r groups games <<< "$count"
check "dups --count prints two integers ($count)" test -n "$games"
check "dups finds the planted copies ($base_count, then $count)" \
  test "$groups" -eq $((base_groups + 1)) -a "$games" -eq $((base_games + 3))
run dups "$work/dups" > "$work/dups.txt"
check "dups prints one line per group and a summary" \
  test "$(grep -c '^[0-9]*:' "$work/dups.txt")" -eq "$groups"
check "dups marks one best game per group" \
  test "$(grep '^[0-9]*:' "$work/dups.txt" | grep -o '\*' | wc -l)" -eq "$groups"
run dups "$work/dups" --out "$work/dups.sub" > /dev/null
check "dups --out writes a subset file" test -s "$work/dups.sub"
kept=$(run list "$work/dups" --exclude "$work/dups.sub" | wc -l)
check "list --exclude leaves out every copy but the best ($kept of $total)" \
  test "$kept" -eq $((total - games + groups))
run export "$work/dups" "$work/removed.pgn" --subset "$work/dups.sub" 2> /dev/null
check "export --subset writes the removed copies" test "$(games_in "$work/removed.pgn")" -eq $((games - groups))
again=$(run dups "$work/dups" --count --exclude "$work/dups.sub" | tr -d '\r')
check "no duplicates are left after the removal ($again)" test "$again" = "0 0"
run dups "$work/dups" --with "$work/sample-games" --count > "$work/with.txt"
read -r wgroups wgames < "$work/with.txt"
check "dups --with finds every game of the smaller base again ($wgroups $wgames)" \
  test "$wgames" -ge "$total"
run dups "$work/dups" --plies 5 > /dev/null 2>&1
check "dups --plies without .. is a usage error" test $? -eq 2
run dups "$work/dups" --fields white,nonsense > /dev/null 2>&1
check "dups with an unknown field is a usage error" test $? -eq 2
# ---- end of dups ---------------------------------------------------------------------------------
# --- bench: import measured on three corpora, and the step-by-step import ---
cp "$data/sample-games.pgn" "$work/corpus.pgn"
run bench "$work/corpus.pgn" --games 1000 --corpus "$work/corpus.pgn" > "$work/bench.txt" 2>&1
check "bench imports three corpora" test "$(grep -c '^  import' "$work/bench.txt")" -eq 3
check "bench names the corpus with new names" grep -q 'half of the players new' "$work/bench.txt"
run bench flat "$work/corpus.pgn" --step 250 > "$work/flat.txt" 2>&1
check "bench flat prints a line per step" test "$(grep -c '^ *[0-9][0-9]* *250 ' "$work/flat.txt")" -ge 2
run bench flat "$work/no-such.pgn" > /dev/null 2>&1
check "bench flat on a missing file fails" test $? -eq 1
# --- end of bench block ---
# ---- Bases of any type by extension; read-only bases through a reference file ----------------
export XDG_DATA_HOME="$work/xdg"
head -40 "$data/sample-games.pgn" > "$work/ro.pgn"
chmod 444 "$work/ro.pgn"
run info "$work/ro.pgn" > "$work/ro-info.txt" 2>&1
check "a read-only PGN file opens through a reference" grep -q '^games: *2$' "$work/ro-info.txt"
run list "$work/ro.pgn" > /dev/null 2>&1
# Under wine the reference files go to %APPDATA%\ludrex, not to $XDG_DATA_HOME.
if [ -z "$emulator" ]; then
  check "the reference file lives in the user's data directory" \
    test "$(ls "$work/xdg/ludrex/CD-Refer" 2> /dev/null | grep -c '\.ror$')" -eq 1
  ror=$(ls "$work/xdg/ludrex/CD-Refer"/*.ror 2> /dev/null | head -1)
  run list "$ror" > "$work/ro-list.txt" 2>&1
  check "a .ror base lists its target's games" test "$(wc -l < "$work/ro-list.txt")" -eq 2
fi
run import "$work/ro.pgn" "$work/from-ro" > /dev/null 2>&1
check "import reads a read-only PGN file" test -f "$work/from-ro.kvx"
if [ -z "$emulator" ]; then
  run import "$ror" "$work/from-ror" > /dev/null 2>&1
  check "import copies a .ror base into a native base" \
    test "$(run list "$work/from-ror" 2> /dev/null | wc -l)" -eq 2
fi
chmod 644 "$work/ro.pgn"
unset XDG_DATA_HOME
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
