# job_timing.sh - sourced by run_mono_jobs.sh and run_colour_jobs.sh. Times
# programs the way a spooler runs them: the job's bytes come through a pipe
# from another process (`cat`), and the program's output goes into a pipe
# that a reader (`cat`) drains. Needs $work, a scratch directory of the
# caller, and $runs, the number of paired passes (at least 5 for figures).
#
# time_jobs INPUT NAME:CMD ... : runs `cat INPUT | cat >/dev/null` (the pipe
# floor) and each named command in turn, `runs` times over (floor A B, floor
# A B, ...), so that load on the machine falls on all of them alike. Sets
#   input_mb             size of INPUT in MB
#   median_s[NAME]       median wall seconds ("floor" for the floor)
#   floor_range          the fastest and slowest floor of the passes: on a
#                        small virtual machine the floor is bimodal (the two
#                        cats keep pace on two processors, or wait on each
#                        other's wake-ups), and a ratio means little without it
#   ratio[NAME]          median over the passes of NAME / floor of that pass
#   walls[NAME]          the wall seconds of each pass, in order (for paired_ratio)
#   cpu_s[NAME]          median CPU seconds (user + system) of NAME alone: the
#                        steadier figure when other work shares the machine
#   rss_mb[NAME]         largest peak resident memory of NAME in MB
#   out_mb[NAME]         output size in MB
declare -A median_s ratio cpu_s rss_mb out_mb walls

# Wall seconds of one pipeline. The floor is `cat INPUT | cat >/dev/null`;
# a program's output is drained by dd with cat's 128 KiB reads, which also
# counts it (into $work/out); its peak RSS and CPU seconds go to $work/rss.
pipe_seconds() {
  local input=$1
  shift
  local TIMEFORMAT=%3R
  if [[ $1 == floor ]]; then
    { time cat "$input" | cat >/dev/null; } 2>"$work/wall"
  else
    {
      time cat "$input" | /usr/bin/time -f '%M %U %S' -o "$work/rss" "$@" 2>/dev/null |
        dd bs=128K of=/dev/null 2>"$work/out"
    } 2>"$work/wall"
  fi
  cat "$work/wall"
}

median() { printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

time_jobs() {
  local input=$1
  shift
  local -A ratios cpus
  walls=()
  local pass floor spec name seconds
  input_mb=$(stat -c %s "$input" | awk '{ printf "%.1f", $1 / 1e6 }')
  cat "$input" >/dev/null  # the page cache
  for ((pass = 0; pass < runs; pass++)); do
    floor=$(pipe_seconds "$input" floor)
    walls[floor]+=" $floor"
    for spec in "$@"; do
      name=${spec%%:*}
      read -r -a command <<<"${spec#*:}"
      seconds=$(pipe_seconds "$input" "${command[@]}")
      walls[$name]+=" $seconds"
      ratios[$name]+=" $(awk -v a="$seconds" -v b="$floor" 'BEGIN { printf "%.3f", a / b }')"
      rss_mb[$name]=$(tail -n 1 "$work/rss" | awk -v old="${rss_mb[$name]:-0}" \
        '{ m = $1 / 1024; printf "%.0f", (m > old ? m : old) }')
      cpus[$name]+=" $(tail -n 1 "$work/rss" | awk '{ printf "%.2f", $2 + $3 }')"
      out_mb[$name]=$(awk '/bytes/ { printf "%.1f", $1 / 1e6 }' "$work/out")
    done
  done
  median_s[floor]=$(median ${walls[floor]})
  floor_range=$(printf '%s\n' ${walls[floor]} | sort -g | sed -n '1p;$p' | paste -sd-)
  for spec in "$@"; do
    name=${spec%%:*}
    median_s[$name]=$(median ${walls[$name]})
    ratio[$name]=$(median ${ratios[$name]})
    cpu_s[$name]=$(median ${cpus[$name]})
  done
}

# paired_ratio A B: the median over the passes of A / B of that pass.
paired_ratio() {
  median $(paste -d' ' <(tr ' ' '\n' <<<"${walls[$1]}") <(tr ' ' '\n' <<<"${walls[$2]}") |
    awk 'NF == 2 { printf "%.3f\n", $1 / $2 }')
}

# Where the load stood when the figures were taken.
print_load() {
  echo "load average: $(cut -d' ' -f1-3 /proc/loadavg), $(nproc) cores, $runs paired passes"
}
