#!/usr/bin/env bash
# tsan.sh [build-dir]: builds the station and its whole test suite with
# ThreadSanitizer (default folder build-tsan) and runs every test under it,
# the real-time end-to-end ones and the station's own child processes
# included. Exits non-zero when a test fails or any process reports a race.
#
# Qt's libraries are not instrumented; scripts/tsan.supp silences what TSan
# sees inside them, and nothing of ours.
#
# tsan.sh --build-only [build-dir]: only the build (CI starts it early, beside
# the other suites, whose real-time tests leave the cores idle).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build_only=0
if [ "${1-}" = "--build-only" ]; then
  build_only=1
  shift
fi
dir="${1:-$top/build-tsan}"
supp="$top/scripts/tsan.supp"
jobs="$(nproc)"
# The end-to-end tests mostly wait on modems in real time: they run side by side.
ctest_jobs=$((jobs * 2))
[ "$ctest_jobs" -lt 8 ] && ctest_jobs=8

started=$SECONDS
if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALEN_TSAN=ON -DKORVALEN_BENCH=OFF
fi
# The asset generator runs during the build, under TSan like everything else.
TSAN_OPTIONS="suppressions=$supp" cmake --build "$dir" -j"$jobs"
built=$SECONDS
if [ "$build_only" = 1 ]; then
  echo "tsan: build $((built - started)) s"
  exit 0
fi

# Every process writes its reports to a file of its own here (child processes
# too: their exit codes are not always looked at).
logs="$dir/tsan-reports"
rm -rf "$logs"
mkdir -p "$logs"
export TSAN_OPTIONS="suppressions=$supp second_deadlock_stack=1 log_path=$logs/report"
status=0
(cd "$dir" && ctest --output-on-failure -j"$ctest_jobs" --timeout 900) || status=$?
ran=$SECONDS

reports=$(find "$logs" -type f -name 'report*' | sort)
if [ -n "$reports" ]; then
  for f in $reports; do
    echo "== $f"
    cat "$f"
  done
  echo "ThreadSanitizer reported races in $(echo "$reports" | wc -l) process(es)"
  status=1
fi
echo "tsan: build $((built - started)) s, tests $((ran - built)) s"
exit $status
