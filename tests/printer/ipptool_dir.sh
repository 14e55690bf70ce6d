#!/bin/sh
# ipptool_dir.sh DIR - a private copy of CUPS's ipptool test directory with
# the sample documents its tests name: Debian ships the tests without them,
# and ipptool stops at the first FILE it cannot read, even one it would skip.
# PDF and PostScript documents and JPEGs are rendered from the repository's
# test page; PWG raster samples exist at 300 and 600 dpi in black_1, sgray_8
# and srgb_8 (what the QV printers accept); every other sample is an empty
# file that the tests skip (its resolution or type is not supported).
set -eu
dir=$1
src=/usr/share/cups/ipptool
page=$(dirname "$0")/../fixtures/qv_test_page.ps
mkdir -p "$dir"
cp "$src"/*.test "$dir"/
gs_run() { gs -q -dSAFER -dBATCH -dNOPAUSE "$@" "$page" </dev/null >/dev/null 2>&1; }
gs_run -sDEVICE=pdfwrite -sPAPERSIZE=a4 -dFIXEDMEDIA -sOutputFile="$dir/document-a4.pdf"
gs_run -sDEVICE=pdfwrite -sPAPERSIZE=letter -dFIXEDMEDIA -sOutputFile="$dir/document-letter.pdf"
gs_run -sDEVICE=ps2write -sPAPERSIZE=a4 -dFIXEDMEDIA -sOutputFile="$dir/document-a4.ps"
gs_run -sDEVICE=ps2write -sPAPERSIZE=letter -dFIXEDMEDIA -sOutputFile="$dir/document-letter.ps"
gs_run -sDEVICE=jpeg -r100 -g400x600 -dPDFFitPage -dFIXEDMEDIA -sOutputFile="$dir/color.jpg"
gs_run -sDEVICE=jpeggray -r100 -g400x600 -dPDFFitPage -dFIXEDMEDIA -sOutputFile="$dir/gray.jpg"
grep -h '^[[:space:]]*FILE ' "$dir"/ipp-everywhere.test | awk '{print $2}' | sort -u |
  while read -r name; do
    mkdir -p "$dir/$(dirname "$name")"
    case $name in
      *-black-1-300dpi.pwg | *-black-1-600dpi.pwg) space=3 bits=1 ;;
      *-sgray-8-300dpi.pwg | *-sgray-8-600dpi.pwg) space=18 bits=8 ;;
      *-srgb-8-300dpi.pwg | *-srgb-8-600dpi.pwg) space=19 bits=8 ;;
      *) : >"$dir/$name"; continue ;;
    esac
    case $name in
      */color.jpg-4x6-* | */gray.jpg-4x6-*) size="-dDEVICEWIDTHPOINTS=288 -dDEVICEHEIGHTPOINTS=432" ;;
      *letter*) size="-sPAPERSIZE=letter" ;;
      *) size="-sPAPERSIZE=a4" ;;
    esac
    dpi=${name##*-}; dpi=${dpi%dpi.pwg}
    # shellcheck disable=SC2086
    gs_run -sDEVICE=pwgraster -r"$dpi" $size -dFIXEDMEDIA -dcupsColorSpace=$space \
      -dcupsBitsPerColor=$bits -sOutputFile="$dir/$name"
  done
