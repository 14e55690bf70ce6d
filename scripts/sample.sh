#!/usr/bin/env bash
# Builds the filters and runs one sample job of each on pages drawn by the
# generators in tools/, with the sample settings and paper files in samples/.
# The jobs are written to out/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)

cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$jobs" >/dev/null
mkdir -p out

# --- mono sample job (rawtoqv) ---
# (filled in with the mono filter)

# --- colour sample job (rastertoqv) ---
# (filled in with the colour filter)
