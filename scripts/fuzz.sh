#!/usr/bin/env bash
# fuzz.sh [seconds-per-target] [extra libFuzzer args...]
#
# Builds the libFuzzer programs in build-fuzz (clang, -DKORVALEN_FUZZ=ON)
# and runs each for the given time (20 s by default) on a copy of its committed
# corpus and crash inputs, so the committed folders never grow. Exits non-zero
# when any of them crashes, leaks, times out or runs out of memory, and says
# where the input that did it was left.
#
# Inputs that break a harness go to tests/fuzz/regressions/<fuzzer>/ once the
# fault is mended; the regression test replays them in every test run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
secs="${1:-20}"
[ $# -gt 0 ] && shift
dir="$top/build-fuzz"
fuzzers=(fuzz_table_loader fuzz_ucs2 fuzz_read_reply fuzz_reply_dispatch fuzz_sms_pdu fuzz_last_contacts)

if [ ! -f "$dir/build.ninja" ]; then
  cmake -S "$top" -B "$dir" -G Ninja -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo -DKORVALEN_FUZZ=ON
fi
cmake --build "$dir" -j2 --target "${fuzzers[@]}"

failed=0
for f in "${fuzzers[@]}"; do
  work="$dir/fuzz-run/$f"
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/crashes"
  cp -r "$top/tests/fuzz/corpus/$f/." "$work/corpus/"
  if [ -d "$top/tests/fuzz/regressions/$f" ]; then
    cp -r "$top/tests/fuzz/regressions/$f/." "$work/corpus/"
  fi

  # A table file may cost a few dozen times its size in memory; a single block
  # of 64 MB from inputs of at most 16 KB is a fault, and so is a second per input.
  opts=(-timeout=10 -malloc_limit_mb=64 -rss_limit_mb=1024 -print_final_stats=1)
  case "$f" in
    fuzz_table_loader) opts+=(-max_len=16384) ;;
    *) opts+=(-max_len=4096) ;;
  esac
  if [ -f "$top/tests/fuzz/dict/$f.dict" ]; then
    opts+=(-dict="$top/tests/fuzz/dict/$f.dict")
  fi

  echo "== $f: ${secs} s =="
  status=0
  "$dir/bin/$f" "$work/corpus" -max_total_time="$secs" -artifact_prefix="$work/crashes/" \
    "${opts[@]}" "$@" >"$work/log" 2>&1 || status=$?
  grep -aE '^#[0-9]+[[:space:]]+DONE' "$work/log" | tail -1 || true
  grep -aE '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$work/log" || true
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "!! $f failed (exit $status); log: $work/log"
    grep -aE 'ERROR: |SUMMARY: |fuzz property failed|Test unit written to' "$work/log" | head -20 || true
  fi
done

if [ "$failed" -ne 0 ]; then
  echo "== fuzzing found faults =="
  exit 1
fi
echo "== fuzzing found nothing =="
