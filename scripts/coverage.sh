#!/usr/bin/env bash
# Line and branch coverage, per path of scripts/coverage-floors, failing below
# any floor there, or where libgcov could not keep every count:
#   linux  GCC --coverage (preset coverage): the Linux suite with the fuzzers'
#          seeds and kept crashers, then the replay corpus through the library
#   win32  MinGW's gcov (preset coverage-win32): the win32 suite under Wine
# Branches leave out those only an exception takes. Prints one line per path;
# the per-file tables, with the lines no run reached, are in
# build/coverage*/coverage.txt.
#   scripts/coverage.sh [--report] [linux] [win32]    both unless named;
#                                   --report: the last run's figures again
#                                   against the table, nothing built or run
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root" || exit 1
report_only=0
[ "${1:-}" = --report ] && report_only=1 && shift
builds=("$@")
[ ${#builds[@]} -gt 0 ] || builds=(linux win32)
floors=scripts/coverage-floors
rc=0

fail() { echo "coverage: FAILED, $*"; exit 1; }

# Builds a preset, runs what counts for it, and writes its counts as gcovr's
# JSON into the build folder.
measure() {
  local build=$1 preset dir log gcov
  case $build in
    linux) preset=coverage gcov=gcov ;;
    win32) preset=coverage-win32 gcov=i686-w64-mingw32-gcov-posix ;;
    *) fail "no build $build (linux, win32)" ;;
  esac
  dir=build/$preset
  log=$dir/coverage.log
  mkdir -p "$dir"
  { cmake --preset "$preset" && cmake --build --preset "$preset" -j"$(nproc)"; } >"$log" 2>&1 ||
    { tail -n 30 "$log"; fail "the $preset build (see $log)"; }
  # This run's counts only.
  find "$dir" -name '*.gcda' -delete
  rm -f "$dir/gcov-errors.txt"
  if [ "$build" = linux ]; then
    local -x GCOV_ERROR_FILE=$root/$dir/gcov-errors.txt
    ctest --preset "$preset" >>"$log" 2>&1 || { tail -n 30 "$log"; fail "the $preset suite (see $log)"; }
    python3 tests/replay/make_corpus.py "$dir/replay" >>"$log" 2>&1 &&
      (cd "$dir/replay" && "$root/$dir/bin/tlp_replay" list.txt >/dev/null 2>>"$root/$log") ||
      { tail -n 30 "$log"; fail "the replay corpus (see $log)"; }
  else
    # A Windows program writes its counts at exit and at FreeLibrary, to the
    # build's absolute Unix paths: on drive Z: they are the same files. What
    # the counting has to say goes to a file, not into what the tests check.
    GCOV_PREFIX=Z: GCOV_ERROR_FILE="Z:$root/$dir/gcov-errors.txt" \
      ctest --preset "$preset" >>"$log" 2>&1 || { tail -n 30 "$log"; fail "the $preset suite (see $log)"; }
  fi
  # Counts libgcov could not merge or write are lost, and a file it wrote in
  # part spoils every later program's: no figure can be told from them.
  [ ! -s "$dir/gcov-errors.txt" ] ||
    fail "the $preset counts: libgcov could not keep them all (see $dir/gcov-errors.txt; the first line: $(head -n 1 "$dir/gcov-errors.txt"))"
  # Only this build's counts: the other build's are of other code. A program
  # that ends inside a function, as tga-host does when a test stops it, can
  # leave counts that gcov gives as a negative branch: that line is passed
  # over, not the run.
  gcovr -r . --object-directory "$dir" --gcov-executable "$gcov" --exclude-throw-branches \
    --gcov-ignore-parse-errors \
    -e 'tests/' -e 'build/' -e 'bench/' --json "$dir/coverage.json" "$dir" >>"$log" 2>&1 ||
    { tail -n 30 "$log"; fail "gcovr on $dir (see $log)"; }
}

# "lines: 95.5% (728 out of 762)" -> "95.5 728 762"
figure() { sed -nE "s/^$1: ([0-9.]+)% \(([0-9]+) out of ([0-9]+)\).*/\1 \2 \3/p"; }
# Whether a figure is below a floor ("-": no floor, reported only).
below() { [ "$2" != - ] && awk -v f="$1" -v m="$2" 'BEGIN { exit !(f < m) }'; }

for b in "${builds[@]}"; do
  [ $report_only = 1 ] || measure "$b"
done
for d in build/coverage build/coverage-win32; do [ ! -d $d ] || : >$d/coverage.txt; done
while read -r path build lines branches; do
  [[ " ${builds[*]} " == *" $build "* ]] || continue
  dir=build/coverage; [ "$build" = win32 ] && dir=build/coverage-win32
  # The table goes to a file of the build: gcovr puts a new file in place of
  # the one it is given, and as root /dev/null would be replaced.
  summary=$(gcovr -a "$dir/coverage.json" -r . --filter "$path" --print-summary \
    -o "$dir/summary-table.txt" 2>&1)
  read -r lp lc lt <<<"$(figure lines <<<"$summary")"
  read -r bp bc bt <<<"$(figure branches <<<"$summary")"
  [ -n "${lt:-}" ] || { echo "coverage $path ($build): no file measured"; rc=1; continue; }
  note=""
  below "$lp" "$lines" && note+=", lines BELOW the floor $lines %"
  [ "${bt:-0}" -gt 0 ] && below "$bp" "$branches" && note+=", branches BELOW the floor $branches %"
  [ -z "$note" ] || rc=1
  printf 'coverage %-16s %-5s lines %5s %% (%s of %s), branches %5s %% (%s of %s)%s\n' \
    "$path" "$build" "$lp" "$lc" "$lt" "${bp:-0}" "${bc:-0}" "${bt:-0}" "$note"
  { echo "== $path ($build)"; gcovr -a "$dir/coverage.json" -r . --filter "$path" 2>&1; } >>"$dir/coverage.txt"
done < <(sed -e 's/#.*//' -e '/^[[:space:]]*$/d' "$floors")
if [ $rc -eq 0 ]; then
  echo "coverage: every path at or above its floor (${builds[*]}; files in build/coverage*/coverage.txt)"
else
  echo "coverage: FAILED, below a floor (the lines no run reached: build/coverage*/coverage.txt)"
fi
exit $rc
