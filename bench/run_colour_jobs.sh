#!/usr/bin/env bash
# run_colour_jobs.sh - times the whole rastertoqv program on generated jobs and
# prints input MB/s, pages/s and peak resident memory next to `cat` of the
# same input (the I/O floor), the median of three passes. Prints figures;
# never passes or fails. Builds nothing. Needs root: the benchmark printer's
# geometry files go to /opt/quarno/qvbench-<pid> (removed at the end).
#
#   bench/run_colour_jobs.sh [BUILD_DIR] [PAGES]     (default: build 10)
#
# Jobs: PAGES full A4 pages at 600 dpi (4960 x 7016 pixels, 104 MB of RGB
# each) of a test chart, of photo-like noise, and of the chart in neutral
# gray sent as a mono job (8-bit gray PWG pages).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
pages=${2:-10}
rastertoqv=$build/colour/rastertoqv
gen=$build/tools/gen_colour_chart
for program in "$rastertoqv" "$gen"; do
  [[ -x $program ]] || { echo "missing $program: build it first" >&2; exit 1; }
done

printer=qvbench-$$
work=$(mktemp -d /tmp/qv_colour_bench.XXXXXX)
trap 'rm -rf "$work" "/opt/quarno/$printer"' EXIT
mkdir -p "/opt/quarno/$printer/bin/inf"
printf 'A4:\t100\t100\t4860\t6916\n' >"/opt/quarno/$printer/bin/inf/ImagingArea"
printf 'A4:\t4960\t7016\n' >"/opt/quarno/$printer/bin/inf/PaperDimension"
printf 'PaperName Width Height Unit\nA4: 4960 7016\n' >"$work/paperinf"
width=4960
height=7016

source bench/job_timing.sh

printf '%-8s %8s %10s %10s %8s %9s %8s %10s %9s\n' job "input MB" "wall MB/s" "CPU MB/s" \
  pages/s "RSS MB" "page MB" "cat MB/s" "output MB"

run_job() {  # name kind settings
  local name=$1 kind=$2 settings=$3
  local input=$work/$name.ppm rc=$work/$name.rc
  "$gen" "$width" "$height" "$pages" "$kind" 7 >"$input"
  printf '[%s]\n%b' "$printer" "$settings" >"$rc"
  local cmd=("$rastertoqv" -rc "$rc" -pi "$work/paperinf" "$input")
  local out
  out=$("${cmd[@]}" 2>/dev/null | wc -c)
  time_job "$input" "${cmd[@]}"
  awk -v name="$name" -v b="$input_bytes" -v t="$wall_s" -v u="$cpu_s" -v c="$cat_s" \
    -v rss="$rss_kb" -v p="$pages" -v page="$((width * height * 3))" -v out="$out" 'BEGIN {
      if (u < 0.001) u = 0.001
      if (c < 0.001) c = 0.001
      printf "%-8s %8.1f %10.0f %10.0f %8.1f %9.1f %8.1f %10.0f %9.1f\n", name, b / 1e6,
             b / 1e6 / t, b / 1e6 / u, p / t, rss / 1024, page / 1048576, b / 1e6 / c, out / 1e6 }'
  rm -f "$input"
}

run_job chart chart ''
run_job photo photo ''
run_job mono gray 'QVMonoColor=Mono\n'
