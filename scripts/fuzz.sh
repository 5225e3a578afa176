#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, AddressSanitizer, UndefinedBehaviorSanitizer)
# in both word sizes, x86-64 (preset fuzz) and i386 like the product (fuzz32),
# and runs all four side by side. Inputs stay in memory: no file is written per
# input. A crash, leak or undefined behaviour fails the run; its input is kept
# in tests/fuzz/crashers/ (named i386-... when the 32-bit build found it) so
# that every later test run replays it.
#
#   scripts/fuzz.sh                 FUZZ_SECONDS (default 120) in all; CI gives it 150
#   scripts/fuzz.sh --long [TIME]   a long run, TIME in seconds or with a unit
#                                   (30m, 8h; default 8h): the corpora in
#                                   build/fuzz/corpus-* and build/fuzz32/corpus-*
#                                   are kept from run to run, value profiles
#                                   guide the search, and at the end each
#                                   corpus is merged down to the inputs that
#                                   add coverage
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
long=0
seconds=${FUZZ_SECONDS:-120}
if [ "${1:-}" = "--long" ]; then
  long=1
  time=${2:-8h}
  case "$time" in
    *h) seconds=$(( ${time%h} * 3600 )) ;;
    *m) seconds=$(( ${time%m} * 60 )) ;;
    *s) seconds=${time%s} ;;
    *) seconds=$time ;;
  esac
elif [ $# -gt 0 ]; then
  sed -n '2,17p' "$0" | sed 's/^# \{0,1\}//' >&2
  exit 2
fi
# The i386 build runs natively where the kernel runs i386 code, else under
# qemu-user without the leak check: LeakSanitizer stops the world with
# ptrace, which qemu-user does not give a program it runs, and a finished run
# would wait for ever.
builds=(fuzz)
note=""
asan32=${ASAN_OPTIONS:-}
if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386* 2>/dev/null; then
  builds+=(fuzz32)
  asan32=${asan32:+$asan32:}detect_leaks=0
  note=" (i386 under qemu-user, without the leak check)"
elif ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
  note=" (i386 SKIPPED: this machine cannot run i386 code)"
else
  builds+=(fuzz32)
fi
for b in "${builds[@]}"; do
  cmake --preset "$b" >/dev/null
  cmake --build --preset "$b" -j"$(nproc)" --target decode_fuzzer roundtrip_fuzzer >/dev/null
done
# One run: its build folder, its target, and the prefix of its kept inputs.
runs=()
for b in "${builds[@]}"; do
  for t in decode roundtrip; do runs+=("$b $t"); done
done
label() { [ "$1" = fuzz32 ] && echo "i386 $2" || echo "$2"; }
prefix() { [ "$1" = fuzz32 ] && echo "i386-$2-" || echo "$2-"; }
extra=()
[ $long -eq 1 ] && extra=(-use_value_profile=1)
pids=()
for r in "${runs[@]}"; do
  read -r b t <<<"$r"
  corpus=build/$b/corpus-$t
  mkdir -p "$corpus"
  python3 tests/fuzz/make_seeds.py "$corpus" >/dev/null
  # Where both word sizes share the cores, the i386 build, the product's
  # word size and the slower one, gets the larger share of them.
  nice=0
  [ "$b" = fuzz ] && [ ${#builds[@]} -gt 1 ] && nice=6
  asan=${ASAN_OPTIONS:-}
  [ "$b" = fuzz32 ] && asan=$asan32
  ASAN_OPTIONS=$asan nice -n "$nice" "build/$b/bin/${t}_fuzzer" "$corpus" tests/fuzz/crashers -max_total_time="$seconds" -max_len=65536 \
    -rss_limit_mb=2048 -timeout=20 -artifact_prefix=tests/fuzz/crashers/"$(prefix "$b" "$t")" -print_final_stats=1 \
    "${extra[@]}" >"build/$b/$t.log" 2>&1 &
  pids+=($!)
done
rc=0
for p in "${pids[@]}"; do wait "$p" || rc=1; done
line=""
total=0
for r in "${runs[@]}"; do
  read -r b t <<<"$r"
  log=build/$b/$t.log
  n=$(sed -nE 's/^stat::number_of_executed_units: *([0-9]+)/\1/p' "$log" | tail -n 1)
  rate=$(sed -nE 's/^stat::average_exec_per_sec: *([0-9]+)/\1/p' "$log" | tail -n 1)
  if grep -qE 'ERROR: (libFuzzer|AddressSanitizer|LeakSanitizer)|runtime error|SUMMARY:' "$log"; then
    rc=1
    echo "--- $(label "$b" "$t") fuzzer failed:"; tail -n 40 "$log"
  fi
  line="$line $(label "$b" "$t") ${n:-0} runs (${rate:-0}/s);"
  total=$(( total + ${n:-0} ))
done
if [ $long -eq 1 ] && [ $rc -eq 0 ]; then
  for r in "${runs[@]}"; do
    read -r b t <<<"$r"
    rm -rf "build/$b/merged-$t" && mkdir -p "build/$b/merged-$t"
    "build/$b/bin/${t}_fuzzer" -merge=1 "build/$b/merged-$t" "build/$b/corpus-$t" >>"build/$b/$t.log" 2>&1
    rm -rf "build/$b/corpus-$t" && mv "build/$b/merged-$t" "build/$b/corpus-$t"
  done
fi
if [ $rc -eq 0 ]; then
  echo "fuzz:$line $total in all, ${seconds}s side by side, no crash, leak or undefined behaviour$note"
else
  echo "fuzz:$line FAILED (inputs kept in tests/fuzz/crashers/)$note"
fi
exit $rc
