#!/usr/bin/env bash
# run_colour_jobs.sh - rastertoqv as a spooler runs it, between two pipes,
# next to the pipe floor (`cat` into `cat`) and to libcups's PWG writer
# (bench/pwg_writer) on the same bytes in the same run: wall seconds (medians
# of paired passes), multiples of the floor, rastertoqv against libcups, peak
# RSS and output size, and `cat` itself between the same two pipes ("cat x
# floor": a filter that did no work and wrote every byte it read; "x cat":
# rastertoqv against it, pass by pass). Prints figures; never passes or
# fails. Builds nothing (needs rastertoqv, tools/gen_colour_chart and
# bench/pwg_writer in BUILD_DIR). Needs root: the benchmark printer's
# geometry files go to /opt/quarno/qvbench-<pid> (removed at the end).
#
#   bench/run_colour_jobs.sh [BUILD_DIR] [RUNS] [PAGES] [BEFORE_DIR]  (default: build 5 10)
#
# Jobs: PAGES A4 pages at 600 dpi (4960 x 7016 pixels, 104 MB of RGB each)
# of text, of a photo and of noise. With BEFORE_DIR, the rastertoqv built
# there runs in the same passes too (a before/after table from one run) and
# must write the same bytes.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-5}
pages=${3:-10}
before=${4:+$4/colour/rastertoqv}
rastertoqv=$build/colour/rastertoqv
gen=$build/tools/gen_colour_chart
pwg=$build/bench/pwg_writer
for program in "$rastertoqv" "$gen" "$pwg" $before; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 1; }
done
printer=qvbench-$$
work=$(mktemp -d /tmp/qv_colour_bench.XXXXXX)
trap 'rm -rf "$work" "/opt/quarno/$printer"' EXIT
mkdir -p "/opt/quarno/$printer/bin/inf"
printf 'A4:\t100\t100\t4860\t6916\n' >"/opt/quarno/$printer/bin/inf/ImagingArea"
printf 'A4:\t4960\t7016\n' >"/opt/quarno/$printer/bin/inf/PaperDimension"
printf 'PaperName Width Height Unit\nA4: 4960 7016\n' >"$work/paperinf"
printf '[%s]\n' "$printer" >"$work/rc"
source bench/job_timing.sh

print_load
printf '%-8s %8s %8s %13s %12s %8s %6s %9s %8s %10s %7s %8s %11s %7s%s\n' job "input MB" "floor s" \
  "floor range" "rastertoqv s" "x floor" "CPU s" "libcups s" "x floor" "x libcups" "RSS MB" "out MB" \
  "cat x floor" "x cat" \
  "${before:+  before s  x floor x libcups  CPU s  RSS MB}"
for kind in text photo noise; do
  "$gen" 4960 7016 "$pages" "$kind" 7 >"$work/job.ppm"
  args="-rc $work/rc -pi $work/paperinf"
  time_jobs "$work/job.ppm" "qv:$rastertoqv $args" "cups:$pwg" "through:cat" \
    ${before:+"before:$before $args"}
  printf '%-8s %8s %8s %13s %12s %7sx %6s %9s %7sx %9sx %7s %8s %10sx %6sx' "$kind" "$input_mb" \
    "${median_s[floor]}" "$floor_range" "${median_s[qv]}" "${ratio[qv]}" "${cpu_s[qv]}" "${median_s[cups]}" \
    "${ratio[cups]}" \
    "$(paired_ratio qv cups)" \
    "${rss_mb[qv]}" "${out_mb[qv]}" "${ratio[through]}" "$(paired_ratio qv through)"
  [[ -z $before ]] || printf ' %9s %7sx %8sx %6s %7s' "${median_s[before]}" "${ratio[before]}" \
    "$(paired_ratio before cups)" "${cpu_s[before]}" "${rss_mb[before]}"
  [[ -z $before ]] || cmp -s <("$before" $args <"$work/job.ppm" 2>/dev/null) \
    <("$rastertoqv" $args <"$work/job.ppm" 2>/dev/null) || printf '  OUTPUT DIFFERS'
  echo
done
