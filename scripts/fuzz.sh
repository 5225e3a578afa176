#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs both side by side for FUZZ_SECONDS (default 120). A crash, leak or
# undefined behaviour fails the run; its input is kept in tests/fuzz/crashers/
# so that every later test run replays it.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
seconds=${FUZZ_SECONDS:-120}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j"$(nproc)" --target decode_fuzzer roundtrip_fuzzer >/dev/null
bin=build/fuzz/bin
# The targets write each input to a file: keep that in memory where possible.
[ -d /dev/shm ] && export TMPDIR=/dev/shm
pids=()
for t in decode roundtrip; do
  corpus=build/fuzz/corpus-$t
  mkdir -p "$corpus"
  python3 tests/fuzz/make_seeds.py "$corpus" >/dev/null
  "$bin/${t}_fuzzer" "$corpus" tests/fuzz/crashers -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=2048 -timeout=20 -artifact_prefix=tests/fuzz/crashers/"$t"- -print_final_stats=1 \
    >build/fuzz/$t.log 2>&1 &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
line=""
for t in decode roundtrip; do
  runs=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' build/fuzz/$t.log | tail -n 1)
  if grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error|SUMMARY:' build/fuzz/$t.log; then
    rc=1
    echo "--- $t fuzzer failed:"; tail -n 40 build/fuzz/$t.log
  fi
  line="$line $t ${runs:-0} runs;"
done
if [ $rc -eq 0 ]; then
  echo "fuzz:$line ${seconds}s each, no crash, leak or undefined behaviour"
else
  echo "fuzz:$line FAILED (inputs kept in tests/fuzz/crashers/)"
fi
exit $rc
