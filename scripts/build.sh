#!/usr/bin/env bash
# build.sh <build-dir> [cmake options...] [--target T]...: configure (once) and
# build everything, or only the named targets.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
options=()
targets=()
while (($#)); do
  if [ "$1" = "--target" ] && (($# > 1)); then
    targets+=("$2"); shift 2
  else
    options+=("$1"); shift
  fi
done
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja "${options[@]}"
fi
if ((${#targets[@]})); then
  cmake --build "$dir" -j"$(nproc)" --target "${targets[@]}"
else
  cmake --build "$dir" -j"$(nproc)"
fi
