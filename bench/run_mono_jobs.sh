#!/usr/bin/env bash
# run_mono_jobs.sh - rawtoqv as a spooler runs it, between two pipes, next to
# the pipe floor (`cat` into `cat`) of the same bytes in the same run: wall
# seconds (medians of paired passes), the filter as a multiple of the floor,
# its peak RSS and output size, and `cat` itself between the same two pipes
# ("cat x floor": a filter that did no work and wrote every byte it read;
# "x cat": rawtoqv against it, pass by pass).
# Prints figures; never passes or fails.
# Builds nothing (needs rawtoqv and tools/gen_mono_page in BUILD_DIR).
#
#   bench/run_mono_jobs.sh [BUILD_DIR] [RUNS] [PAGES] [BEFORE_DIR]  (default: build 5 20)
#
# Jobs: PAGES A4 pages of text, halftone and noise, at 600 and 1200 dpi.
# With BEFORE_DIR, the rawtoqv built there runs in the same passes too (a
# before/after table from one run) and must write the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
pages=${3:-20}
before=${4:+$4/mono/rawtoqv}
rawtoqv=$build/mono/rawtoqv
gen=$build/tools/gen_mono_page
for program in "$rawtoqv" "$gen" $before; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 1; }
done
work=$(mktemp -d /tmp/qv_mono_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
source bench/job_timing.sh

print_load
printf '%-14s %8s %8s %13s %9s %8s %6s %7s %8s %11s %7s%s\n' job "input MB" "floor s" "floor range" \
  "rawtoqv s" "x floor" "CPU s" "RSS MB" "out MB" "cat x floor" "x cat" \
  "${before:+  before s  x floor  CPU s  RSS MB}"
for resolution in 600 1200; do
  scale=$((resolution / 600))
  printf '[QV]\nResolution=%s\nPaperType=A4\nPaperSource=Tray1\n' "$resolution" >"$work/rc"
  for kind in text halftone noise; do
    "$gen" $((4960 * scale)) $((7016 * scale)) "$pages" "$kind" 7 >"$work/job.raw"
    args="-rc $work/rc -ps 4960x7016"
    time_jobs "$work/job.raw" "rawtoqv:$rawtoqv $args" "through:cat" ${before:+"before:$before $args"}
    printf '%-14s %8s %8s %13s %9s %7sx %6s %7s %8s %10sx %6sx' "$kind-$resolution" "$input_mb" \
      "${median_s[floor]}" "$floor_range" "${median_s[rawtoqv]}" "${ratio[rawtoqv]}" "${cpu_s[rawtoqv]}" \
      "${rss_mb[rawtoqv]}" "${out_mb[rawtoqv]}" "${ratio[through]}" "$(paired_ratio rawtoqv through)"
    [[ -z $before ]] || printf ' %9s %7sx %6s %7s' "${median_s[before]}" "${ratio[before]}" \
      "${cpu_s[before]}" "${rss_mb[before]}"
    [[ -z $before ]] || cmp -s <("$before" $args <"$work/job.raw") <("$rawtoqv" $args <"$work/job.raw") ||
      printf '  OUTPUT DIFFERS'
    echo
  done
done
