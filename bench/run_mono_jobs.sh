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

# Peak RSS in kB of a command, from /usr/bin/time, or from getrusage of the
# child when /usr/bin/time is not there.
peak_rss() {
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null
    tail -n 1 "$work/rss"
  else
    python3 -c 'import resource,subprocess,sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, check=True)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
  fi
}

# "wall cpu" seconds of a command (cpu = user + system), stdout to
# /dev/null. The CPU time is the steadier figure on a shared machine.
seconds() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>/dev/null; } 2>"$work/time"
  awk '{ printf "%.3f %.3f", $1, $2 + $3 }' "$work/time"
}

median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

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
  local bytes wall=() cpu=() catWall=() rss pass
  bytes=$(stat -c %s "$input")
  cat "$input" >/dev/null  # warm the page cache
  for _ in 1 2 3; do
    read -r -a pass <<<"$(seconds "${cmd[@]}")"
    wall+=("${pass[0]}")
    cpu+=("${pass[1]}")
    read -r -a pass <<<"$(seconds cat "$input")"
    catWall+=("${pass[0]}")
  done
  rss=$(peak_rss "${cmd[@]}")
  awk -v name="$name" -v b="$bytes" -v t="$(median3 "${wall[@]}")" \
    -v u="$(median3 "${cpu[@]}")" -v c="$(median3 "${catWall[@]}")" -v rss="$rss" \
    -v p="$pages" -v page="$(((w + 7) / 8 * h))" 'BEGIN {
      if (u < 0.001) u = 0.001
      printf "%-18s %8.1f %10.0f %10.0f %8.1f %9.1f %8.1f %10.0f\n", name, b / 1e6, b / 1e6 / t,
             b / 1e6 / u, p / t, rss / 1024, page / 1048576, b / 1e6 / c }'
}

run_job text-600dpi 600 4960 7016 text
run_job text-1200dpi 1200 4960 7016 text
run_job noise-600dpi 600 4960 7016 noise
run_job noise-1200dpi 1200 4960 7016 noise
