#!/usr/bin/env bash
# Builds the filters and runs one sample job of each on pages drawn by the
# generators in tools/, with the sample settings and paper files in samples/.
# The jobs are written to out/. Installs what the build lacks first, and
# builds only the programs the sample runs (no tests, no benchmarks).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh sample
jobs=$(nproc)

cmake -S . -B build-sample -DCMAKE_BUILD_TYPE=RelWithDebInfo -DQV_BUILD_TESTS=OFF -DQV_BUILD_BENCH=OFF \
  >/dev/null
cmake --build build-sample -j "$jobs" --target rawtoqv rastertoqv qvinspect gen_mono_page \
  gen_colour_chart >/dev/null
mkdir -p out

# --- mono sample job (rawtoqv) ---
# Two A4 pages of text-like strokes at 600 dpi (4960 x 7016 dots), through the
# sample settings (samples/mono/qvmono.rc) and paper file (samples/mono/paperinf).
build-sample/tools/gen_mono_page 4960 7016 2 text 1 |
  build-sample/mono/rawtoqv -rc samples/mono/qvmono.rc -pi samples/mono/paperinf \
    -owner sample -jobname "Sample mono job" -nodename "$(uname -n)" \
    >out/sample-mono.prn
echo "mono job: out/sample-mono.prn ($(wc -c <out/sample-mono.prn) bytes)"

# --- colour sample job (rastertoqv) ---
# The sample printer QV-C600: its geometry files go to /opt/quarno/QV-C600
# (needs root). Two A4 test-chart pages at the size the sample paper file
# gives for A4 (4760 x 6812 pixels at 600 dpi), through the sample settings.
scripts/install_sample_printer.sh
read -r colour_width colour_height < <(awk '$1 == "A4:" { print $2, $3; exit }' \
  samples/colour/paperinf)
build-sample/tools/gen_colour_chart "$colour_width" "$colour_height" 2 chart 1 |
  OWNER=sample TITLE="Sample colour job" \
    build-sample/colour/rastertoqv -rc samples/colour/qvcolour.rc -pi samples/colour/paperinf \
    >out/sample-colour.prn
echo "colour job: out/sample-colour.prn ($(wc -c <out/sample-colour.prn) bytes)"

# --- what the printer will get (qvinspect) ---
# The settings of each job and one line per page, and PNG previews of every
# page next to the jobs (out/sample-mono/, out/sample-colour/).
for job in sample-mono sample-colour; do
  rm -rf "out/$job" && mkdir -p "out/$job"
  echo
  echo "== build-sample/inspect/qvinspect --png out/$job out/$job.prn"
  build-sample/inspect/qvinspect --png "out/$job" "out/$job.prn"
  build-sample/inspect/qvinspect --check "out/$job.prn"
  echo "previews: $(ls "out/$job" | tr '\n' ' ')"
done
