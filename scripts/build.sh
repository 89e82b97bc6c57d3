#!/usr/bin/env bash
# build.sh <build-dir> [cmake options...]: configure (once) and build.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="$1"; shift
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja "$@"
fi
cmake --build "$dir" -j"$(nproc)"
