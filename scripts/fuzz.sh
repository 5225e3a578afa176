#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs both side by side, one per core. Inputs stay in memory: no file is
# written per input. A crash, leak or undefined behaviour fails the run; its
# input is kept in tests/fuzz/crashers/ so that every later test run replays it.
#
#   scripts/fuzz.sh                 the CI run: FUZZ_SECONDS (default 120) in all
#   scripts/fuzz.sh --long [TIME]   a long run, TIME in seconds or with a unit
#                                   (30m, 8h; default 8h): the corpora in
#                                   build/fuzz/corpus-* are kept from run to run,
#                                   value profiles guide the search, and at the
#                                   end each corpus is merged down to the inputs
#                                   that add coverage
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
long=0
seconds=${FUZZ_SECONDS:-120}
if [ "${1:-}" = "--long" ]; then
  long=1
  case "${2:-8h}" in
    *h) seconds=$(( ${2%h} * 3600 )) ;;
    *m) seconds=$(( ${2%m} * 60 )) ;;
    *s) seconds=${2%s} ;;
    *) seconds=${2:-28800} ;;
  esac
elif [ $# -gt 0 ]; then
  sed -n '2,13p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target decode_fuzzer roundtrip_fuzzer >/dev/null
bin=build/fuzz/bin
extra=()
[ $long -eq 1 ] && extra=(-use_value_profile=1)
pids=()
for t in decode roundtrip; do
  corpus=build/fuzz/corpus-$t
  mkdir -p "$corpus"
  python3 tests/fuzz/make_seeds.py "$corpus" >/dev/null
  "$bin/${t}_fuzzer" "$corpus" tests/fuzz/crashers -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=2048 -timeout=20 -artifact_prefix=tests/fuzz/crashers/"$t"- -print_final_stats=1 \
    "${extra[@]}" >build/fuzz/$t.log 2>&1 &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
line=""
total=0
for t in decode roundtrip; do
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' build/fuzz/$t.log | tail -n 1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' build/fuzz/$t.log | tail -n 1)
  if grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error|SUMMARY:' build/fuzz/$t.log; then
    rc=1
    echo "--- $t fuzzer failed:"; tail -n 40 build/fuzz/$t.log
  fi
  line="$line $t ${runs:-0} runs (${rate:-0}/s);"
  total=$(( total + ${runs:-0} ))
done
if [ $long -eq 1 ] && [ $rc -eq 0 ]; then
  for t in decode roundtrip; do
    rm -rf build/fuzz/merged-$t && mkdir -p build/fuzz/merged-$t
    "$bin/${t}_fuzzer" -merge=1 build/fuzz/merged-$t build/fuzz/corpus-$t >>build/fuzz/$t.log 2>&1
    rm -rf build/fuzz/corpus-$t && mv build/fuzz/merged-$t build/fuzz/corpus-$t
  done
fi
if [ $rc -eq 0 ]; then
  echo "fuzz:$line $total in all, ${seconds}s side by side, no crash, leak or undefined behaviour"
else
  echo "fuzz:$line FAILED (inputs kept in tests/fuzz/crashers/)"
fi
exit $rc
