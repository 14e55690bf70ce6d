#!/usr/bin/env bash
# Builds the libFuzzer targets with clang in build-fuzz/ and runs each for N
# seconds (default 10) on the seed corpora of fuzz/make_corpus.sh. Fails on
# the first crash, leak, sanitizer report or timeout; the input that caused
# it is left in build-fuzz/crashes/.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-10}
build=build-fuzz
jobs=$(nproc)

launcher=()
if command -v ccache >/dev/null; then launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
# -O1 with line tables: quick to build, and a crash still names its line.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O1 -gline-tables-only" \
  -DCMAKE_CXX_COMPILER=clang++ \
  -DQV_FUZZ=ON -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF -DQV_WERROR=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$jobs" --target fuzz_targets gen_colour_chart gen_mono_page >/dev/null
fuzz/make_corpus.sh "$build" "$build/corpus"
mkdir -p "$build/crashes"

# fuzz_one NAME: one target for the given time; its result line goes to
# work/NAME.result, its log to work/NAME.log.
fuzz_one() {
  local name=$1 target=$1_fuzz work="$build/work/$1"
  # The corpus given is read only: new inputs go to a scratch directory.
  rm -rf "$work" && mkdir -p "$work"
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -artifact_prefix="$build/crashes/$name-" -print_final_stats=1 \
    "$work" "$build/corpus/$name" >"$build/work/$name.log" 2>&1; then
    runs=$(awk '/stat::number_of_executed_units/ { print $2 }' "$build/work/$name.log")
    echo "$name: ok, $runs runs in ${seconds}s" >"$build/work/$name.result"
  else
    echo "$name: FAILED (log: $build/work/$name.log)" >"$build/work/$name.result"
  fi
}

# One target per core at a time.
names=()
while read -r target; do
  [ -n "$target" ] && names+=("${target%_fuzz}")
done <"$build/fuzz_targets.txt"
running=0
for name in "${names[@]}"; do
  fuzz_one "$name" &
  running=$((running + 1))
  if [ "$running" -ge "$jobs" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait

failed=0
for name in "${names[@]}"; do
  cat "$build/work/$name.result"
  if grep -q FAILED "$build/work/$name.result"; then
    tail -n 30 "$build/work/$name.log"
    failed=1
  fi
done
exit "$failed"
