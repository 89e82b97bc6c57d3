#!/usr/bin/env bash
# windows.sh [build-dir]: cross-builds the core without Qt (timing, data,
# codec, modem, serial) and its unit tests for 64-bit Windows with mingw-w64
# (default folder build-win) and runs them under Wine, headless, in a
# throw-away Wine prefix. Then the station's files written by the Windows build
# must equal, byte for byte, those of the Linux build in KORVALEN_LINUX_BUILD
# (default build, configured when missing), and the Windows serial port talks
# to the Linux modem simulator through a COM port of Wine's. Exits non-zero
# when a build or a test fails.
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
programs=(timing_tests data_tests codec_tests modem_tests serial_tests)
cmake --build "$dir" -j"$(nproc)" --target "${programs[@]}" modem_transcripts table_sample serial_link_tests
linux="${KORVALEN_LINUX_BUILD:-$top/build}"
"$top/scripts/build.sh" "$linux" -DCMAKE_BUILD_TYPE=RelWithDebInfo --target table_sample modemsim
echo "windows: built in $((SECONDS - started)) s"

# --- Serial ports: the Linux modem simulator behind Wine's COM ports. ---
# sim_start DIR [modemsim options]: starts modemsim in DIR, its control input
# the named pipe DIR/modemsim.in (held open here, so that Windows programs may
# write commands to it as "$(win_path DIR/modemsim.in)"), its answers in
# DIR/modemsim.out; sim_ports holds its modems' pseudo-terminals.
sim_pid=""
sim_ports=()
sim_start() {
  local at="$1"; shift
  mkfifo "$at/modemsim.in"
  "$linux/bin/modemsim" "$@" <"$at/modemsim.in" >"$at/modemsim.out" 2>&1 &
  sim_pid=$!
  exec {sim_control}>"$at/modemsim.in"
  local waited=0
  until grep -q '^ready' "$at/modemsim.out" 2>/dev/null; do
    if [ "$waited" -ge 50 ] || ! kill -0 "$sim_pid" 2>/dev/null; then
      echo "windows: modemsim did not start" >&2
      cat "$at/modemsim.out" >&2
      return 1
    fi
    sleep 0.1
    waited=$((waited + 1))
  done
  mapfile -t sim_ports < <(sed -n 's/^modem[0-9]* //p' "$at/modemsim.out")
}
sim_stop() {
  [ -n "$sim_pid" ] || return 0
  echo quit >&"$sim_control" 2>/dev/null || true
  exec {sim_control}>&-
  wait "$sim_pid" 2>/dev/null || true
  sim_pid=""
}
# wine_com_port N TTY: COMn of the prefix onto the Unix tty TTY, listed under
# HARDWARE\DEVICEMAP\SERIALCOMM as Windows lists its ports. Wine serves a
# pseudo-terminal as a COM port; it has no modem lines and no line-error events.
wine_com_port() {
  ln -sfn "$2" "$WINEPREFIX/dosdevices/com$1"
  "$wine" reg add 'HKLM\HARDWARE\DEVICEMAP\SERIALCOMM' /v "\\Device\\Serial$(($1 - 1))" /d "COM$1" /f >/dev/null 2>&1
}
# A Unix path as a Windows program under Wine names it.
win_path() { printf 'Z:%s' "${1//\//\\}"; }
# ---

prefix="$(mktemp -d)"
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEARCH=win64
# No display, and no offer to fetch .NET or a browser engine for the prefix.
export WINEDLLOVERRIDES="mscoree,mshtml=" DISPLAY=
unset WAYLAND_DISPLAY
cleanup() {
  sim_stop
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

# The Windows port against the simulator through COM5 and COM6 (onto the
# modem's link, which follows it when it is unplugged and plugged in).
link_started=$SECONDS
sim_dir="$(mktemp -d)"
mkdir "$sim_dir/links"
if sim_start "$sim_dir" --modems 2 --link-dir "$sim_dir/links"; then
  wine_com_port 5 "${sim_ports[0]}"
  wine_com_port 6 "${sim_ports[1]}"
  KORVALEN_LINK_PORTS=COM5,COM6 KORVALEN_LINK_CONTROL="$(win_path "$sim_dir/modemsim.in")" \
    run "serial link" "$dir/bin/serial_link_tests.exe"
  sim_stop
else
  failed=$((failed + 1))
fi
rm -rf "$sim_dir"
echo "windows: serial link through Wine's COM ports in $((SECONDS - link_started)) s"

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
