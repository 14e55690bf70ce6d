#!/usr/bin/env bash
# Builds and runs every test, installing what the machine lacks first:
#   1. the normal build (programs, tests and benchmarks; the benchmarks are
#      built, not run): every test, fast, slow and threads;
#   2. an AddressSanitizer + UndefinedBehaviorSanitizer build of the fast tests
#      (the slow tiers run once, in the normal build);
#   3. a ThreadSanitizer build of thread_tests alone;
#   4. a short run of every fuzz target;
#   5. the packager's plain Release build (-O3) of the programs, with
#      warnings as errors here (GCC's -O3 analysis warns where -O2 does not).
# No test is run twice: a test that fails once fails the suite.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh all
jobs=$(nproc)

# Each phase's wall time, and the CPU time of its processes (what the wall
# time would be on an idle machine, times the cores it kept busy).
timings=()
times_file=$(mktemp)
trap 'rm -f "$times_file"' EXIT
children_cpu() { # CPU seconds of this shell's finished children, as `times` wrote them
  awk 'NR == 2 { gsub(/[ms]/, " "); print int($1 * 60 + $2 + $3 * 60 + $4) }' "$times_file"
}
phase() {
  local name=$1 start=$SECONDS cpu
  shift
  times >"$times_file"
  cpu=$(children_cpu)
  "$@"
  times >"$times_file"
  timings+=("$(printf '%-28s %4d s wall %5d s CPU' "$name" $((SECONDS - start)) \
    $(($(children_cpu) - cpu)))")
}

# -O2 without debug information: what ships, built as fast as it can be.
phase "normal: configure" cmake -S . -B build -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" -DQV_BUILD_TESTS=ON -DQV_BUILD_BENCH=ON -DQV_WERROR=ON
phase "normal: build" cmake --build build -j "$jobs"
phase "normal: ctest (all)" ctest --test-dir build --output-on-failure -j "$jobs"

phase "asan: configure" cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=address \
  -DQV_BUILD_BENCH=OFF -DQV_WERROR=ON
phase "asan: build" cmake --build build-asan -j "$jobs" --target qv_tests
phase "asan: ctest -L fast" ctest --test-dir build-asan -L '^fast$' --output-on-failure -j "$jobs"

phase "tsan: configure" cmake -S . -B build-tsan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=thread \
  -DQV_BUILD_BENCH=OFF -DQV_WERROR=ON
phase "tsan: build" cmake --build build-tsan -j "$jobs" --target thread_tests
phase "tsan: ctest -L threads" ctest --test-dir build-tsan -L '^threads$' --output-on-failure

phase "fuzz: 10 s per target" scripts/fuzz.sh 10

phase "release: configure" cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release \
  -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF -DQV_WERROR=ON
phase "release: build" cmake --build build-release -j "$jobs"

echo
echo "Phases:"
printf '  %s\n' "${timings[@]}"
