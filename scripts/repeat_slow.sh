#!/usr/bin/env bash
# scripts/repeat_slow.sh [N] [BUILD_DIR]: builds the slow tests and runs them N
# times in a row (default 20), each round a fresh ctest run, and prints one
# line per round and the count of rounds that passed and failed. A failing
# round's output is kept in BUILD_DIR/repeat_slow/round-K.log.
set -euo pipefail
cd "$(dirname "$0")/.."
rounds=${1:-20}
build=${2:-build}
jobs=$(nproc)

cmake --build "$build" -j "$jobs" --target qv_slowtests
logs="$build/repeat_slow"
rm -rf "$logs" && mkdir -p "$logs"
passed=0
failed=0
for ((round = 1; round <= rounds; round++)); do
  start=$SECONDS
  if ctest --test-dir "$build" -L '^slow$' -j "$jobs" --output-on-failure \
    >"$logs/round-$round.log" 2>&1; then
    passed=$((passed + 1))
    echo "round $round: passed ($((SECONDS - start)) s)"
    rm -f "$logs/round-$round.log"
  else
    failed=$((failed + 1))
    echo "round $round: FAILED ($((SECONDS - start)) s):" \
      "$(grep -E '^\s+[0-9]+ - ' "$logs/round-$round.log" | awk '{print $3}' | tr '\n' ' ')"
  fi
done
echo "slow rounds: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
