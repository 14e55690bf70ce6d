#!/usr/bin/env bash
# Installs the Debian packages this tree needs and the machine lacks.
#
#   scripts/setup.sh sample   what scripts/sample.sh needs (compiler, CMake, libraries)
#   scripts/setup.sh all      that, plus what every test needs (the default)
#
# As root it calls apt-get; with sudo it calls sudo apt-get; otherwise it
# prints the exact apt-get line and stops. QV_APT_UPDATED=1 skips the
# apt-get update before installing (.ci/run has just run it).
set -euo pipefail

# Building the programs (scripts/sample.sh).
build_packages=(g++ cmake make git pkg-config libpng-dev libjpeg-dev libcups2-dev cups-ppdc libpappl-dev libgs-dev)
# Running every test (scripts/test.sh): GoogleTest, the benchmarks, the format
# check, a real cupsd and Ghostscript, IPP and HTTP clients, a headless browser
# for the printer application's web interface, ip for its network namespace
# test, the package check, and the libFuzzer targets (clang with its runtime
# libraries).
test_packages=(libgtest-dev libgmock-dev googletest libbenchmark-dev clang-format
               cups cups-client cups-filters cups-ipp-utils ghostscript curl iproute2 snmpd
               chromium lintian dpkg-dev file
               clang libclang-rt-14-dev)

case "${1:-all}" in
  sample) wanted=("${build_packages[@]}") ;;
  all) wanted=("${build_packages[@]}" "${test_packages[@]}") ;;
  *) echo "usage: $0 [sample|all]" >&2; exit 2 ;;
esac

missing=()
for package in "${wanted[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'ok installed'; then
    missing+=("$package")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

install=(apt-get install -y --no-install-recommends "${missing[@]}")
if [ "$(id -u)" -eq 0 ]; then
  sudo=()
elif command -v sudo >/dev/null; then
  sudo=(sudo)
else
  echo "Missing packages. As root, run:" >&2
  echo "  apt-get update && ${install[*]}" >&2
  exit 1
fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
if [ "${QV_APT_UPDATED:-0}" != 1 ]; then
  "${sudo[@]}" apt-get update
fi
"${sudo[@]}" env DEBIAN_FRONTEND=noninteractive "${install[@]}"
