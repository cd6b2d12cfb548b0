#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer + UndefinedBehaviorSanitizer, in
# build/fuzz) and runs them: scripts/fuzz.sh [TARGET|all] [SECONDS]. Every target by default,
# 60 seconds each, one after the other. The seed corpora come from ../shared/data and from small
# valid files that fuzz_seeds writes; what a run learns is kept in build/fuzz/corpus/<target>.
# A finding fails the script: the reproducing input is printed in the log (base64 and hex) and
# kept under build/fuzz/findings/; commit it as tests/fuzz/regressions/<target>-<name> once fixed.
set -euo pipefail
cd "$(dirname "$0")/.."

target="${1:-all}"
seconds="${2:-60}"
all=(pgn_moves pgn_game pgn_file native_game dos_game volume subset native_base)

# The compiler and its fuzzer runtime (Debian packages), installed only when missing.
want=(cmake ninja-build clang-14 libclang-rt-14-dev)
missing=()
for p in "${want[@]}"; do dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p"); done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  if [ "$(id -u)" != 0 ]; then sudo="sudo"; fi
  echo "fuzz: installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi

# The fuzz build is the one clang build: its warnings are reported, not made errors (the gcc
# builds of every target treat warnings as errors), so that a warning only clang gives cannot
# hide the fuzzing itself.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
cmake -S . -B build/fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
  -DCMAKE_CXX_COMPILER=clang++-14 -DLUDREX_FUZZ=ON -DLUDREX_WERROR=OFF "${launcher[@]}" >/dev/null
cmake --build build/fuzz --target fuzz_seeds $(printf 'fuzz_%s ' "${all[@]}")

out=build/fuzz
rm -rf "$out/seeds"
"$out/bin/fuzz_seeds" "$out/seeds" "${LUDREX_SHARED_DATA:-../shared/data}"

if [ "$target" = all ]; then targets=("${all[@]}"); else targets=("$target"); fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
status=0
for t in "${targets[@]}"; do
  if [ ! -x "$out/bin/fuzz_$t" ]; then
    echo "fuzz: no target $t (targets: ${all[*]})" >&2
    exit 2
  fi
  mkdir -p "$out/corpus/$t" "$out/findings" "$out/seeds/$t"
  echo "== fuzz: $t for $seconds s"
  log="$out/findings/$t.log"
  set +e
  TMPDIR="$out" "$out/bin/fuzz_$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=65536 -print_final_stats=1 -artifact_prefix="$out/findings/$t-" \
    "$out/corpus/$t" "$out/seeds/$t" >"$log" 2>&1
  rc=$?
  set -e
  rm -rf "$out"/ludrex_fuzz_*  # the targets' scratch folders
  grep -E "^stat::number_of_executed_units|^#[0-9]+ +DONE" "$log" | tail -2 || true
  if [ $rc -ne 0 ]; then
    status=1
    tail -60 "$log"
    for f in $(grep -oE "Test unit written to [^ ]+" "$log" | awk '{print $5}'); do
      echo "fuzz: finding of $t: $f ($(stat -c %s "$f") bytes)"
      echo "fuzz: base64:"
      base64 -w 76 "$f"
      echo "fuzz: hex:"
      od -An -tx1 -v "$f" | head -200
    done
  fi
done
exit $status
