# job_timing.sh - sourced by the whole-program timing scripts (run_mono_jobs.sh,
# run_colour_jobs.sh). Needs $work, a scratch directory of the caller.
#
# time_job INPUT CMD...: runs CMD (stdout to /dev/null) and `cat INPUT` three
# times each, then CMD once more for its peak resident memory, and sets
#   input_bytes  size of INPUT
#   wall_s cpu_s median wall and CPU (user + system) seconds of CMD
#   cat_s        median wall seconds of cat, the I/O floor
#   rss_kb       peak RSS of CMD in kB
# The CPU time is the steadier figure on a shared machine.

# Peak RSS in kB of a command, from /usr/bin/time, or from getrusage of the
# child when /usr/bin/time is not there.
peak_rss() {
  if [[ -x /usr/bin/time ]]; then
    /usr/bin/time -f %M -o "$work/rss" "$@" >/dev/null 2>/dev/null
    tail -n 1 "$work/rss"
  else
    python3 -c 'import resource,subprocess,sys
subprocess.run(sys.argv[1:], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
print(resource.getrusage(resource.RUSAGE_CHILDREN).ru_maxrss)' "$@"
  fi
}

# "wall cpu" seconds of a command.
seconds() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$@" >/dev/null 2>/dev/null; } 2>"$work/time"
  awk '{ printf "%.3f %.3f", $1, $2 + $3 }' "$work/time"
}

median3() { printf '%s\n' "$@" | sort -g | sed -n 2p; }

time_job() {
  local input=$1
  shift
  local wall=() cpu=() catWall=() pass
  input_bytes=$(stat -c %s "$input")
  cat "$input" >/dev/null  # warm the page cache
  for _ in 1 2 3; do
    read -r -a pass <<<"$(seconds "$@")"
    wall+=("${pass[0]}")
    cpu+=("${pass[1]}")
    read -r -a pass <<<"$(seconds cat "$input")"
    catWall+=("${pass[0]}")
  done
  wall_s=$(median3 "${wall[@]}")
  cpu_s=$(median3 "${cpu[@]}")
  cat_s=$(median3 "${catWall[@]}")
  rss_kb=$(peak_rss "$@")
}
