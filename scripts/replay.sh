#!/usr/bin/env bash
# The 32-bit DLL against the Linux library, input by input: writes the replay
# corpus (the fuzzers' seeds, the kept crashers and mutants of the seeds, the
# same files on every run) into build/replay/corpus, replays it through the
# import exports of both, tlp_replay of the linux preset natively and of the
# win32 preset under Wine, and fails on any file whose digests differ, naming
# it. Ends with one summary line.
#   scripts/replay.sh [COUNT]      COUNT mutants (12000 unless given)
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
count=${1:-12000}
work=$root/build/replay
mkdir -p "$work"
cd "$root" || exit 1

fail() { echo "replay: FAILED, $*"; exit 1; }
thousands() { sed ':a;s/\B[0-9]\{3\}\>/,&/;ta' <<<"$1"; }

# The two programs and libraries; a build folder already made is reused as it is.
for preset in linux win32; do
  log=$work/build-$preset.log
  { [ -f "$root/build/$preset/CMakeCache.txt" ] || cmake --preset "$preset"; } >"$log" 2>&1 &&
    cmake --build --preset "$preset" -j"$(nproc)" --target tlp_replay Targa >>"$log" 2>&1 ||
    { tail -n 20 "$log"; fail "the $preset build (see $log)"; }
done

python3 "$root/tests/replay/make_corpus.py" "$work/corpus" "$count" >"$work/corpus.log" 2>&1 ||
  { cat "$work/corpus.log"; fail "the corpus could not be written"; }
# Names relative to the corpus folder: the same in both outputs.
cd "$work/corpus" || fail "no corpus folder"
files=$(wc -l <list.txt)

# Each program's output in a file of its own; one that crashed is named.
replay() {
  local side=$1
  shift
  # A hang is a failure too: the whole replay takes well under a minute.
  timeout 1200 "$@" list.txt >"$work/$side.txt" 2>"$work/$side.err"
  local rc=$?
  [ $rc -eq 0 ] || { tail -n 5 "$work/$side.err"
    fail "the $side replay ended with status $rc after $(wc -l <"$work/$side.txt") files (see $work/$side.err)"; }
}
start=$(date +%s.%N)
replay linux "$root/build/linux/bin/tlp_replay"
middle=$(date +%s.%N)
replay win32 "$root/scripts/wine-run.sh" "$root/build/win32/bin/tlp_replay.exe"
end=$(date +%s.%N)
times=$(awk -v a="$start" -v b="$middle" -v c="$end" 'BEGIN { printf "Linux %.1f s, Wine %.1f s", b - a, c - b }')

# Line by line against the list: a program that stopped early lacks the rest.
awk -v work="$work" '
  FILENAME == ARGV[1] { name[FNR] = $1; n = FNR; next }
  FILENAME == ARGV[2] { linux[FNR] = $0; next }
  { win[FNR] = $0 }
  END {
    for (i = 1; i <= n; ++i) {
      if ((i in linux) && (i in win) && linux[i] == win[i] && index(linux[i], name[i] " ") == 1)
        continue
      if (++bad <= 10)
        printf "differs: %s\n  linux: %s\n  win32: %s\n", name[i], (i in linux) ? linux[i] : "(no line)",
               (i in win) ? win[i] : "(no line)"
      if (bad == 1)
        first = name[i]
    }
    if (bad) {
      print bad, first > "/dev/stderr"
      exit 1
    }
  }' list.txt "$work/linux.txt" "$work/win32.txt" 2>"$work/differs.txt" ||
  { read -r bad first <"$work/differs.txt"
    fail "$(thousands "$bad") of $(thousands "$files") inputs differ, the first $first (outputs in $work; $times)"; }
echo "replay: $(thousands "$files") inputs, Linux and the 32-bit DLL agree ($times)"
