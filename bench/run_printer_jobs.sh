#!/usr/bin/env bash
# run_printer_jobs.sh - pages per minute of a 20-page A4 PDF through
# qvprinter (to a socket sink on 127.0.0.1) next to the CUPS driver chain
# (cupsfilter with the QV PPDs: Ghostscript, the filter program or, for colour,
# qvrender and the colour core in the wrapper)
# on the same PDF, mono and colour, in pairs, the median of three pairs. Also
# Ghostscript's rendering alone at the job's size, and from it the share of
# the qvprinter job spent after rendering (the device side: the filter core,
# the device writes). Prints figures; never passes or fails. Builds nothing.
#
#   bench/run_printer_jobs.sh [BUILD_DIR]     (default: build; run as root)
set -euo pipefail
cd "$(dirname "$0")/.."
src=$PWD
build=$(cd "${1:-build}" && pwd)
for program in printer/qvprinter cups/qvcupsfilter mono/rawtoqv colour/rastertoqv; do
  [[ -x $build/$program ]] || { echo "missing $build/$program: build it first" >&2; exit 1; }
done
for tool in gs ps2pdf ipptool cupsfilter python3; do
  command -v "$tool" >/dev/null || { echo "missing $tool" >&2; exit 1; }
done
[[ -f $build/cups/ppd/qvm600.ppd ]] || { echo "missing PPDs: build qv_ppds" >&2; exit 1; }

work=$(mktemp -d /tmp/qv_printer_bench.XXXXXX)
chmod 755 "$work"
pages=20
runs=3
export SNAP_COMMON=$work TMPDIR=$work
cleanup() {
  "$build/printer/qvprinter" shutdown >/dev/null 2>&1 || true
  [[ -n ${sink_pid:-} ]] && kill "$sink_pid" 2>/dev/null
  [[ -n ${server_pid:-} ]] && wait "$server_pid" 2>/dev/null
  [[ -n ${geometry_made:-} ]] && rm -rf /opt/quarno/QV-C600
  rm -rf "$work"
}
trap cleanup EXIT

ps2pdf -dQVPAGES=$pages -dDEVICEWIDTHPOINTS=595 -dDEVICEHEIGHTPOINTS=842 -dFIXEDMEDIA \
  "$src/tests/fixtures/qv_test_page.ps" "$work/doc.pdf"

# The sink: one file per connection, and a ".done" file holding the time the
# connection ended.
cat >"$work/sink.py" <<'EOF'
import socket, sys, time
s = socket.socket()
s.bind(("127.0.0.1", 0))
s.listen(4)
print(s.getsockname()[1], flush=True)
n = 0
while True:
    c, _ = s.accept()
    n += 1
    with open(f"{sys.argv[1]}/job-{n}.prn", "wb") as f:
        while data := c.recv(1 << 20):
            f.write(data)
    c.close()
    with open(f"{sys.argv[1]}/job-{n}.done", "w") as f:
        f.write(f"{time.time():.6f}\n")
EOF
mkdir -p "$work/sink"
python3 "$work/sink.py" "$work/sink" >"$work/sink.port" &
sink_pid=$!
until [[ -s $work/sink.port ]]; do sleep 0.05; done
sink="socket://127.0.0.1:$(cat "$work/sink.port")"

port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
"$build/printer/qvprinter" server -o server-port="$port" -o listen-hostname=127.0.0.1 \
  -o spool-directory="$work/spool" -o state-file="$work/state" -o log-file="$work/log" \
  -o server-options=no-tls &
server_pid=$!
# A client that finds no server socket starts a private server of its own:
# wait for the socket first.
until [[ -S $work/qvprinter.sock ]]; do sleep 0.05; done
until "$build/printer/qvprinter" status >/dev/null 2>&1; do sleep 0.1; done
"$build/printer/qvprinter" add -d mono -m qv-m600 -v "$sink" 2>/dev/null
"$build/printer/qvprinter" add -d colour -m qv-c600 -v "$sink" 2>/dev/null

# The CUPS chain as the CUPS tests run it: a ServerBin with the wrapper and
# the filters, and the QV-C600 geometry rastertoqv reads.
mkdir -p "$work/serverbin/filter"
cp "$build/cups/qvcupsfilter" "$build/mono/rawtoqv" "$build/colour/rastertoqv" \
  "$build/printer/qvrender" "$work/serverbin/filter/"
for f in /usr/lib/cups/filter/*; do ln -sf "$f" "$work/serverbin/filter/"; done
printf 'ServerBin %s/serverbin\nDataDir /usr/share/cups\n' "$work" >"$work/cups-files.conf"
if [[ ! -d /opt/quarno/QV-C600 ]]; then
  mkdir -p /opt/quarno/QV-C600/bin/inf
  cp "$build/cups/geometry/ImagingArea" "$build/cups/geometry/PaperDimension" \
    /opt/quarno/QV-C600/bin/inf/
  geometry_made=1
fi

now() { date +%s.%N; }
connections() { find "$work/sink" -name '*.done' | wc -l; }
qvprinter_job() {  # printer -> seconds from submission to the last byte at the sink
  local start n
  n=$(($(connections) + 1))
  start=$(now)
  ipptool -d format=application/pdf -d media=iso_a4_210x297mm -d pin= -d fidelity=false \
    -d res=600dpi -f "$work/doc.pdf" "ipp://127.0.0.1:$port/ipp/print/$1" \
    "$src/tests/printer/print.test" >/dev/null
  until [[ -s $work/sink/job-$n.done ]]; do sleep 0.02; done
  awk -v s="$start" '{ printf "%.3f", $1 - s }' "$work/sink/job-$n.done"
}
cups_job() {  # ppd -> seconds
  local TIMEFORMAT='%3R'
  { time cupsfilter -c "$work/cups-files.conf" -p "$1" -m printer/qv -e "$work/doc.pdf" \
      >"$work/cups.prn" 2>/dev/null; } 2>&1
}
render_job() {  # device -> seconds of Ghostscript alone at the job's size
  local TIMEFORMAT='%3R'
  { time gs -q -dSAFER -dBATCH -dNOPAUSE -sDEVICE="$1" -r600 -g4960x7016 -dFIXEDMEDIA \
      -sOutputFile=/dev/null "$work/doc.pdf" >/dev/null 2>&1; } 2>&1
}
median() { printf '%s\n' "$@" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

printf '%-7s %10s %8s %10s %8s %8s %10s %13s\n' model "qvprinter" ppm "CUPS chain" ppm speedup \
  "gs alone" "device share"
for model in mono colour; do
  ppd=$build/cups/ppd/qvm600.ppd device=pbmraw
  [[ $model == colour ]] && ppd=$build/cups/ppd/qvc600.ppd device=ppmraw
  q=() c=() r=()
  for ((i = 0; i < runs; i++)); do
    q+=("$(qvprinter_job $model)")
    c+=("$(cups_job "$ppd")")
    r+=("$(render_job $device)")
  done
  awk -v m=$model -v p=$pages -v q="$(median "${q[@]}")" -v c="$(median "${c[@]}")" \
    -v r="$(median "${r[@]}")" 'BEGIN {
      printf "%-7s %9.2fs %8.1f %9.2fs %8.1f %7.2fx %9.2fs %12.0f%%\n", m, q, p * 60 / q, c,
             p * 60 / c, c / q, r, (q > r ? (q - r) / q * 100 : 0) }'
done
