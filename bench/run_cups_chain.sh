#!/usr/bin/env bash
# run_cups_chain.sh - a 20-page A4 PDF through the QV CUPS chain (cupsfilter
# with the built PPD: pdftopdf, qvcupsfilter, Ghostscript, rawtoqv or
# rastertoqv), mono and colour, next to CUPS's own PWG Raster chain on the
# same PDF in the same run (cupsfilter -m image/pwg-raster, Ghostscript at
# 600 dpi, colour and gray). Runs are paired (A B A B ...) so that a change
# in the machine's load hits every chain alike; it prints the median wall
# and CPU seconds of each chain and its ratio to the stock colour chain.
# Figures only; it never fails on them.
#
#   bench/run_cups_chain.sh [build-dir] [runs] [before-build-dir]
#
# (default: build, 5 runs). With a before-build-dir (say, a build of
# `git archive main`), its QV chains run in the same pairs, as *_before.
#
# Needs root (the colour printer's geometry under /opt/quarno/QV-C600, as
# the package installs it), cupsfilter, Ghostscript and ps2pdf.
set -euo pipefail
cd "$(dirname "$0")/.."
build=$(realpath "${1:-build}")
runs=${2:-5}
before=${3:+$(realpath "$3")}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# A scratch ServerBin per build: CUPS runs only root-owned filters, so the
# built programs are copied next to links to the system's filters.
serverbin() {  # build-dir name
  mkdir -p "$work/$2/serverbin/filter"
  for f in /usr/lib/cups/filter/*; do ln -s "$f" "$work/$2/serverbin/filter/"; done
  for d in backend daemon driver; do
    [[ -e /usr/lib/cups/$d ]] && ln -s "/usr/lib/cups/$d" "$work/$2/serverbin/$d"
  done
  cp "$1/cups/qvcupsfilter" "$1/mono/rawtoqv" "$1/colour/rastertoqv" "$work/$2/serverbin/filter/"
  [[ ! -e $1/printer/qvrender ]] || cp "$1/printer/qvrender" "$work/$2/serverbin/filter/"
  echo "ServerBin $work/$2/serverbin" >"$work/$2/cups-files.conf"
}
serverbin "$build" now
[[ -n $before ]] && serverbin "$before" before
if [[ ! -e /opt/quarno/QV-C600/bin/inf/ImagingArea ]]; then
  mkdir -p /opt/quarno/QV-C600/bin/inf
  cp "$build/cups/geometry/ImagingArea" "$build/cups/geometry/PaperDimension" \
    /opt/quarno/QV-C600/bin/inf/
fi

ps2pdf -dQVPAGES=20 -dDEVICEWIDTHPOINTS=595 -dDEVICEHEIGHTPOINTS=842 -dFIXEDMEDIA \
  tests/fixtures/qv_test_page.ps "$work/doc20.pdf"

qv_chain() {  # build-dir name ppd
  cupsfilter -c "$work/$2/cups-files.conf" -p "$1/cups/ppd/$3" -e -m printer/qv -o media=A4 \
    "$work/doc20.pdf"
}
qv_mono() { qv_chain "$build" now qvm600.ppd; }
qv_colour() { qv_chain "$build" now qvc600.ppd; }
qv_mono_before() { qv_chain "$before" before qvm600.ppd; }
qv_colour_before() { qv_chain "$before" before qvc600.ppd; }
stock_colour() {
  cupsfilter -m image/pwg-raster -o media=A4 -o Resolution=600dpi -o print-color-mode=color \
    "$work/doc20.pdf"
}
stock_gray() {
  cupsfilter -m image/pwg-raster -o media=A4 -o Resolution=600dpi \
    -o print-color-mode=monochrome "$work/doc20.pdf"
}
chains=(stock_colour qv_colour stock_gray qv_mono)
[[ -n $before ]] && chains+=(qv_colour_before qv_mono_before)

# "wall cpu" seconds of one run (CPU: user + system of the whole chain,
# which cupsfilter waits for).
seconds() {
  local TIMEFORMAT='%3R %3U %3S'
  { time "$1" >"$work/out" 2>/dev/null; } 2>"$work/time"
  awk '{ printf "%.3f %.3f\n", $1, $2 + $3 }' "$work/time"
}
median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for chain in "${chains[@]}"; do  # one warm-up run each, and its output size
  seconds "$chain" >/dev/null
  echo "$(stat -c %s "$work/out")" >"$work/$chain.bytes"
done
for ((i = 0; i < runs; ++i)); do
  for chain in "${chains[@]}"; do seconds "$chain" >>"$work/$chain.times"; done
done

printf '%-17s %10s %9s %9s %8s\n' chain "MB out" "wall s" "CPU s" "wall/stock"
base=$(awk '{ print $1 }' "$work/stock_colour.times" | median)
for chain in "${chains[@]}"; do
  wall=$(awk '{ print $1 }' "$work/$chain.times" | median)
  cpu=$(awk '{ print $2 }' "$work/$chain.times" | median)
  printf '%-17s %10.1f %9.2f %9.2f %8.2f\n' "$chain" \
    "$(awk '{ print $1 / 1e6 }' "$work/$chain.bytes")" "$wall" "$cpu" \
    "$(awk -v w="$wall" -v b="$base" 'BEGIN { print w / b }')"
done
echo "20-page A4 PDF, 600 dpi, median of $runs paired runs ($(nproc) cores, $(date -u +%F))"
