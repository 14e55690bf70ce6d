#!/usr/bin/env bash
# Builds and runs every test twice: a normal build (which also checks the
# filters' run-time dependencies) and an AddressSanitizer +
# UndefinedBehaviorSanitizer build.
set -euo pipefail

# The CUPS tests drive a real cupsd and Ghostscript, whose timing depends on
# the machine's load: a failing test gets one more run, and a test that fails
# twice fails the suite.
retry="--repeat until-pass:2"
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo
cmake --build build -j "$jobs"
ctest --test-dir build --output-on-failure -j "$jobs" $retry

cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=Debug -DQV_SANITIZE=ON -DQV_BUILD_BENCH=OFF
cmake --build build-asan -j "$jobs"
ctest --test-dir build-asan --output-on-failure -j "$jobs" $retry
