#!/usr/bin/env bash
# Installs the geometry files of the sample colour printer QV-C600 where
# rastertoqv looks for them: /opt/quarno/QV-C600/bin/inf/ImagingArea and
# .../PaperDimension. The printer name is the section header of
# samples/colour/qvcolour.rc. DESTDIR, when set, is put in front of /opt
# (for packaging). Needs write access to /opt (run as root).
set -euo pipefail
cd "$(dirname "$0")/.."

printer=QV-C600
dir="${DESTDIR:-}/opt/quarno/${printer}/bin/inf"
install -d -m 0755 "$dir"
install -m 0644 samples/colour/ImagingArea samples/colour/PaperDimension "$dir/"
echo "installed the ${printer} geometry files in ${dir}"
