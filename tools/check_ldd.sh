#!/usr/bin/env bash
# A filter may depend on the C library only: ldd lists libc, the dynamic
# loader and the vdso, nothing else (libstdc++ and libgcc are linked in).
set -euo pipefail
program=$1
out=$(ldd "$program")
echo "$out"
extra=$(echo "$out" | grep -v -E '^\s*(linux-vdso\.so|libc\.so\.6|/lib64/ld-linux-x86-64\.so|/lib/ld-linux)' || true)
if [ -n "$extra" ]; then
  echo "unexpected run-time dependencies of $program:" >&2
  echo "$extra" >&2
  exit 1
fi
