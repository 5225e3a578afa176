#!/usr/bin/env bash
# The export of two trees side by side, for a change to the safe-write
# sequence: the Linux library natively and the 32-bit DLL under Wine, by
# turns in one run (before, after, before, after, ...), each run one round
# of every export case of bench/ExportCases.h; per case the best of the runs
# (5 a side), and every line against floor-new-256k (the same bytes to a new
# file in 256 KiB pieces) of its own side. The bench programs are BEFORE's,
# one pair for both sides, loading each tree's Targa.tlp by path: only the
# library differs between the columns.
#
#   scripts/bench-export-compare.sh [--no-build] BEFORE_DIR AFTER_DIR
#
# e.g. the landed main against this work tree:
#   git worktree add /tmp/before main && cp bench/* /tmp/before/bench/
#   scripts/bench-export-compare.sh /tmp/before .
#
# Each DIR is a checkout with the `linux` and `win32` presets' folders,
# DIR/build/linux and DIR/build/win32. BEFORE needs this checkout's bench/
# files and TLP_BENCH=ON there; AFTER needs only its Targa.tlp. Unless
# --no-build, those targets are first brought up to date, at the lowest
# priority with TLP_JOBS jobs (1 unless set); a folder without a cache is
# configured with its preset, and BEFORE's with -DTLP_BENCH=ON where it is
# off. Nothing is timed unless both libraries write the floors' bytes
# (--check). TLP_COMPARE_RUNS: runs a side (5). Needs MinGW-w64 and Wine
# (scripts/setup-machine.sh); Wine runs in the user's prefix, as
# scripts/bench.sh does.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=1
if [ "${1:-}" = --no-build ]; then
  build=0
  shift
fi
if [ $# -ne 2 ] || [ ! -d "$1" ] || [ ! -d "$2" ]; then
  echo "usage: $0 [--no-build] BEFORE_DIR AFTER_DIR" >&2
  exit 2
fi
before=$(cd "$1" && pwd)
after=$(cd "$2" && pwd)
runs=${TLP_COMPARE_RUNS:-5}
work=$(mktemp -d /tmp/tlp-export-compare.XXXXXX)
trap 'rm -rf "$work"' EXIT

# An older bench passes unknown flags to Google Benchmark and would run
# every benchmark it has.
for f in tga_bench.cpp tga_bench32.cpp; do
  grep -q -- '"--exports"' "$before/bench/$f" 2>/dev/null || {
    echo "bench-export-compare: $before/bench/$f has no --exports mode: copy this checkout's bench/ files there" >&2
    exit 1
  }
done

# tree preset with-bench target...: up to date, or the build's output shown.
make_targets() {
  local tree=$1 preset=$2 bench=$3
  shift 3
  local cache=$tree/build/$preset/CMakeCache.txt log=$work/build.log
  if [ ! -f "$cache" ] || { [ "$bench" = 1 ] && ! grep -q '^TLP_BENCH:BOOL=ON$' "$cache"; }; then
    local extra=()
    [ "$bench" = 1 ] && extra=(-DTLP_BENCH=ON)
    (cd "$tree" && nice -n 19 cmake --preset "$preset" "${extra[@]}") >"$log" 2>&1 || { cat "$log" >&2; exit 1; }
  fi
  (cd "$tree" && nice -n 19 cmake --build --preset "$preset" -j"${TLP_JOBS:-1}" --target "$@") >"$log" 2>&1 ||
    { cat "$log" >&2; exit 1; }
}
if [ "$build" = 1 ]; then
  echo "building: $before (bench programs and libraries), $after (libraries)" >&2
  make_targets "$before" linux 1 tga_bench Targa
  make_targets "$before" win32 1 tga_bench32 Targa
  make_targets "$after" linux 0 Targa
  make_targets "$after" win32 0 Targa
fi

linux_bench=$before/build/linux/bin/tga_bench
win_bench=$before/build/win32/bin/tga_bench32.exe
for f in "$linux_bench" "$win_bench" "$before/build/linux/bin/Targa.tlp" "$before/build/win32/bin/Targa.tlp" \
  "$after/build/linux/bin/Targa.tlp" "$after/build/win32/bin/Targa.tlp"; do
  [ -f "$f" ] || { echo "bench-export-compare: no $f (build it, or run without --no-build)" >&2; exit 1; }
done

# Wine's own name of a Linux path (its drive Z: is the root).
winpath() { printf 'Z:%s' "${1//\//\\}"; }

# side build args...: one run of the export cases; Wine's output goes to a
# file, never a pipe (scripts/wine-run.sh).
run() {
  local side=$1 build=$2 tree
  shift 2
  [ "$side" = before ] && tree=$before || tree=$after
  if [ "$build" = linux ]; then
    "$linux_bench" --plugin "$tree/build/linux/bin/Targa.tlp" "$@" >"$work/run.log" 2>&1
  else
    "$root/scripts/wine-run.sh" "$win_bench" --plugin "$(winpath "$tree/build/win32/bin/Targa.tlp")" "$@" \
      >"$work/run.log" 2>&1
  fi || { echo "bench-export-compare: $side, $build: $*" >&2; cat "$work/run.log" >&2; exit 1; }
}

for side in before after; do
  for b in linux win32; do
    run "$side" "$b" --check
  done
done

load_start=$(uptime)
for n in $(seq 1 "$runs"); do
  for b in linux win32; do
    for side in before after; do
      out=$work/$b.$side.$n.tsv
      [ "$b" = win32 ] && out=$(winpath "$out")
      run "$side" "$b" --exports --rounds 1 --out "$out"
    done
  done
done
load_end=$(uptime)

echo "before: $before"
echo "after:  $after"
echo "Export of 4096 × 4096, ms, best of $runs runs a side taken by turns; ratios to floor-new-256k of the same side."
echo "load at the start:${load_start#*load average:}; at the end:${load_end#*load average:} ($(nproc) CPUs)"
echo
python3 "$root/scripts/bench_table.py" --compare "$work"
