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
# Two A4 pages of text-like strokes at 600 dpi (4960 x 7016 dots), through the
# sample settings (samples/mono/qvmono.rc) and paper file (samples/mono/paperinf).
build/tools/gen_mono_page 4960 7016 2 text 1 |
  build/mono/rawtoqv -rc samples/mono/qvmono.rc -pi samples/mono/paperinf \
    -owner sample -jobname "Sample mono job" -nodename "$(uname -n)" \
    >out/sample-mono.prn
echo "mono job: out/sample-mono.prn ($(wc -c <out/sample-mono.prn) bytes)"

# --- colour sample job (rastertoqv) ---
# (filled in with the colour filter)
