#!/usr/bin/env bash
# Seed corpora for the fuzz targets, from what the suite already has: the
# filters' jobs in tests/fixtures/decode, the sample settings and paper files,
# and pages from the generators in tools/ (built in BUILD_DIR).
#   fuzz/make_corpus.sh BUILD_DIR OUT_DIR  ->  OUT_DIR/<target>/...
set -euo pipefail
src=$(cd "$(dirname "$0")/.." && pwd)
build=$1
out=$2
rm -rf "$out"
for target in decode_mono decode_colour check ppm_header pnm_reader mono_settings mono_paper \
  mono_title colour_settings; do
  mkdir -p "$out/$target"
done

jobs=$src/tests/fixtures/decode
cp "$jobs"/mono-*.prn "$out/decode_mono/"
cp "$jobs"/colour-*.prn "$jobs"/gray-*.prn "$out/decode_colour/"
cp "$jobs"/*.prn "$out/check/"

# Pages as the colour filter and the CUPS driver read them: PPM charts, a
# PBM page of text strokes, a 16-bit PGM with a comment in its header.
"$build/tools/gen_colour_chart" 64 48 2 chart 1 >"$out/ppm_header/chart.ppm"
"$build/tools/gen_colour_chart" 32 16 1 photo 2 >"$out/ppm_header/photo.ppm"
cp "$out"/ppm_header/*.ppm "$out/pnm_reader/"
{ printf 'P4\n64 32\n'; "$build/tools/gen_mono_page" 64 32 1 text 3; } >"$out/pnm_reader/text.pbm"
{ printf 'P5\n# gray\n4 2\n65535\n'; head -c 16 /dev/zero; } >"$out/pnm_reader/gray16.pgm"

cp "$src/samples/mono/qvmono.rc" "$out/mono_settings/"
cp "$src/samples/colour/qvcolour.rc" "$out/colour_settings/"
# The paper lookup's input: one byte of paper code, then the file.
for code in 1 5 20; do
  { printf "\\x$(printf %02x "$code")"; cat "$src/samples/mono/paperinf"; } \
    >"$out/mono_paper/code-$code"
done
# The title conversion's input: one byte of character set (and EUC flag),
# then the title.
printf '\x00Quarterly report' >"$out/mono_title/utf8"
printf '\x00caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x96\xa8' >"$out/mono_title/utf8-wide"
printf '\x09\xa5\xc6\xa5\xb9\xa5\xc8 \xa4\xce\xb0\xf5\xba\xfe' >"$out/mono_title/euc-jp"
printf '\x0c\xc7\xd1\xb1\xb9\xbe\xee' >"$out/mono_title/euc-kr"
