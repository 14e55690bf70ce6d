#!/usr/bin/env bash
# run_mono_jobs.sh - rawtoqv as a spooler runs it, between two pipes, next to
# the pipe floor (`cat` into `cat`) of the same bytes in the same run: wall
# seconds (medians of paired passes), the filter as a multiple of the floor,
# its peak RSS and output size. Prints figures; never passes or fails.
# Builds nothing (needs rawtoqv and tools/gen_mono_page in BUILD_DIR).
#
#   bench/run_mono_jobs.sh [BUILD_DIR] [RUNS] [PAGES]   (default: build 5 20)
#
# Jobs: PAGES A4 pages of text, halftone and noise, at 600 and 1200 dpi.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
pages=${3:-20}
rawtoqv=$build/mono/rawtoqv
gen=$build/tools/gen_mono_page
for program in "$rawtoqv" "$gen"; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/qv_mono_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
source bench/job_timing.sh

print_load
printf '%-14s %8s %8s %9s %8s %7s %8s\n' job "input MB" "floor s" "rawtoqv s" "x floor" \
  "RSS MB" "out MB"
for resolution in 600 1200; do
  scale=$((resolution / 600))
  printf '[QV]\nResolution=%s\nPaperType=A4\nPaperSource=Tray1\n' "$resolution" >"$work/rc"
  for kind in text halftone noise; do
    "$gen" $((4960 * scale)) $((7016 * scale)) "$pages" "$kind" 7 >"$work/job.raw"
    time_jobs "$work/job.raw" "rawtoqv:$rawtoqv -rc $work/rc -ps 4960x7016"
    printf '%-14s %8s %8s %9s %7sx %7s %8s\n' "$kind-$resolution" "$input_mb" \
      "${median_s[floor]}" "${median_s[rawtoqv]}" "${ratio[rawtoqv]}" "${rss_mb[rawtoqv]}" \
      "${out_mb[rawtoqv]}"
  done
done
