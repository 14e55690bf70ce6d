#!/usr/bin/env bash
# run_mono_jobs.sh - times the whole rawtoqv program on generated jobs and
# prints input MB/s, pages/s and peak resident memory next to `cat` of the
# same input (the I/O floor), the median of three passes. Prints figures;
# never passes or fails. Builds nothing.
#
#   bench/run_mono_jobs.sh [BUILD_DIR]     (default: build)
#
# Jobs: 20 A4 pages of text-like raster at 600 dpi, the same at 1200 dpi,
# and 20 A4 pages of noise at 600 dpi (the compressor's worst case).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
rawtoqv=$build/mono/rawtoqv
gen=$build/tools/gen_mono_page
for program in "$rawtoqv" "$gen"; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 1; }
done

work=$(mktemp -d /tmp/qv_mono_bench.XXXXXX)
trap 'rm -rf "$work"' EXIT
pages=20

source bench/job_timing.sh

printf '%-18s %8s %10s %10s %8s %9s %8s %10s\n' job "input MB" "wall MB/s" "CPU MB/s" \
  pages/s "RSS MB" "page MB" "cat MB/s"

run_job() {  # name resolution width600 height600 kind
  local name=$1 resolution=$2 width=$3 height=$4 kind=$5
  local scale=1
  [[ $resolution == 1200 ]] && scale=2
  local w=$((width * scale)) h=$((height * scale))
  local input=$work/$name.raw rc=$work/$name.rc
  "$gen" "$w" "$h" "$pages" "$kind" 7 >"$input"
  printf '[QV]\nResolution=%s\nPaperType=A4\nPaperSource=Tray1\n' "$resolution" >"$rc"
  local cmd=("$rawtoqv" -rc "$rc" -ps "${width}x${height}" "$input")
  time_job "$input" "${cmd[@]}"
  awk -v name="$name" -v b="$input_bytes" -v t="$wall_s" -v u="$cpu_s" -v c="$cat_s" \
    -v rss="$rss_kb" -v p="$pages" -v page="$(((w + 7) / 8 * h))" 'BEGIN {
      if (u < 0.001) u = 0.001
      printf "%-18s %8.1f %10.0f %10.0f %8.1f %9.1f %8.1f %10.0f\n", name, b / 1e6, b / 1e6 / t,
             b / 1e6 / u, p / t, rss / 1024, page / 1048576, b / 1e6 / c }'
}

run_job text-600dpi 600 4960 7016 text
run_job text-1200dpi 1200 4960 7016 text
run_job noise-600dpi 600 4960 7016 noise
run_job noise-1200dpi 1200 4960 7016 noise
