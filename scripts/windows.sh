#!/usr/bin/env bash
# windows.sh [build-dir]: cross-builds the core without Qt (timing, data,
# codec, modem) and its unit tests for 64-bit Windows with mingw-w64 (default
# folder build-win) and runs them under Wine, headless, in a throw-away Wine
# prefix. Then the station's files written by the Windows build must equal,
# byte for byte, those of the Linux build in KORVALEN_LINUX_BUILD (default
# build, configured when missing). Exits non-zero when a build or a test fails.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
dir="${1:-$top/build-win}"
wine="$(command -v wine || true)"
if ! command -v x86_64-w64-mingw32-g++-posix >/dev/null || [ -z "$wine" ]; then
  echo "windows.sh: needs mingw-w64 (posix threads) and Wine" >&2
  exit 2
fi
started=$SECONDS
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$top/cmake/mingw-w64.cmake" \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALEN_BENCH=OFF
fi
programs=(timing_tests data_tests codec_tests modem_tests)
cmake --build "$dir" -j"$(nproc)" --target "${programs[@]}" modem_transcripts table_sample
linux="${KORVALEN_LINUX_BUILD:-$top/build}"
"$top/scripts/build.sh" "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo --target table_sample
echo "windows: built in $((SECONDS - started)) s"

prefix="$(mktemp -d)"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
# No display, and no offer to fetch .NET or a browser engine for the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY
cleanup() {
  wineserver -k 2>/dev/null || true
  rm -rf "$prefix"
}
trap cleanup EXIT
wineserver -p 2>/dev/null || true
"$wine" wineboot -i >/dev/null 2>&1 || true

passed=0
failed=0
log="$(mktemp)"
run() { # name, then the command line under Wine
  local name="$1"; shift
  if (cd "$dir" && "$wine" "$@") >"$log" 2>&1; then
    local n
    n="$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$log" | tail -n 1)"
    if [ -z "$n" ]; then
      echo "windows: $name printed no result" >&2
      cat "$log" >&2
      failed=$((failed + 1))
      return
    fi
    passed=$((passed + n))
    echo "windows: $name: $n passed"
  else
    grep -E '^\[  FAILED  \]|Failure|error' "$log" | head -n 40 >&2 || tail -n 40 "$log" >&2
    echo "windows: $name FAILED" >&2
    failed=$((failed + 1))
  fi
}
for p in "${programs[@]}"; do
  run "$p" "$dir/bin/$p.exe"
done
for t in "$top"/tests/modem/transcripts/*.txt; do
  run "transcript $(basename "$t" .txt)" "$dir/bin/modem_transcripts.exe" "$t"
done

# The same files from both builds.
files="$(mktemp -d)"
mkdir "$files/linux" "$files/windows"
"$linux/bin/table_sample" "$files/linux"
run_files() { (cd "$dir" && "$wine" "$dir/bin/table_sample.exe" "$files/windows") >"$log" 2>&1; }
if run_files && diff -r "$files/linux" "$files/windows" >&2; then
  echo "windows: $(ls "$files/windows" | wc -l) files byte-identical with the Linux build's"
  passed=$((passed + 1))
else
  cat "$log" >&2
  echo "windows: the files differ from the Linux build's" >&2
  failed=$((failed + 1))
fi
rm -rf "$files" "$log"
# Not the closing line of a test runner: ./test goes on after this.
if [ "$failed" -eq 0 ]; then
  echo "windows: all done, $passed tests and checks under Wine, $((SECONDS - started)) s"
else
  echo "windows: $failed programs or checks failed under Wine" >&2
  exit 1
fi
