#!/usr/bin/env bash
# Fails when any C++ file of the tree differs from what .clang-format makes of it.
set -euo pipefail
clang_format=${1:-clang-format}
cd "$(dirname "$0")/.."
mapfile -t files < <(git ls-files '*.cc' '*.h' 2>/dev/null || find . -name '*.cc' -o -name '*.h')
[ ${#files[@]} -eq 0 ] && exit 0
"$clang_format" --dry-run --Werror "${files[@]}"
