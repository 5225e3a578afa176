#!/usr/bin/env bash
# Installs what is missing, builds every preset and runs every test:
#   native (GCC), native with AddressSanitizer and UndefinedBehaviorSanitizer,
#   the Windows builds under Wine (x86-64 and the i686 product), and a
#   bounded libFuzzer run in both word sizes (x86-64 and i386).
# Ends with one summary line per suite and a total.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
FUZZ_SECONDS=${FUZZ_SECONDS:-150}
logs=$root/build/logs
summary=()
passed=0
failed=0

run() { echo "+ $*"; "$@"; }

# A shell started before the setup made the Japanese locale cannot switch to
# it (the C library looks for the locale archive once per process): the rest
# runs in a fresh one.
if [ -z "${TLP_TEST_SETUP_DONE:-}" ]; then
  bash scripts/setup-machine.sh || { echo "machine setup failed"; exit 1; }
  TLP_TEST_SETUP_DONE=1 exec bash "$root/scripts/test.sh" "$@"
fi
mkdir -p "$logs"

# What the run must leave as the user had it: the conversion method stored in
# the user's Wine prefix and the bytes of the user's Linux settings store
# (absent is a state too). The tests store theirs in the build folder.
user_state() {
  local reg=${TLP_WINE_TEMPLATE:-$HOME/.cache/tlp-wine/prefix}/user.reg config=${XDG_CONFIG_HOME:-}
  [[ $config == /* ]] || config=$HOME/.config
  local store=$config/Tolva/HKEY_CURRENT_USER.reg
  # A prefix the run makes stores nothing: no prefix counts as nothing stored.
  if [ ! -e "$reg" ]; then
    echo "Wine prefix: TransformMethod not stored"
  else
    # A server still running on the prefix keeps its registry in memory.
    WINEPREFIX=${reg%/user.reg} timeout 60 /usr/lib/wine/wineserver64 -w 2>/dev/null
    echo "Wine prefix: TransformMethod $(awk '
      /^\[/ { key = index(tolower($0), "[software\\\\kadorix\\\\tolva\\\\plugin\\\\kadorix\\\\etarga]") == 1 }
      key && tolower($0) ~ /^"transformmethod"=/ { value = substr($0, index($0, "=") + 1) }
      END { print value == "" ? "not stored" : value }' "$reg")"
  fi
  if [ -L "$store" ] || [ -e "$store" ]; then
    echo "Linux store $store: $(sha256sum <"$store" 2>&1 | cut -d' ' -f1)"
  else
    echo "Linux store $store: absent"
  fi
}
user_state >"$logs/user-state-before.txt"

# One suite: configure, build, test. Records one summary line.
suite() {
  local preset=$1 log=$logs/$1.log
  shift
  local extra=("$@")
  echo "=== $preset"
  if ! run cmake --preset "$preset" >"$log" 2>&1 || ! run cmake --build --preset "$preset" -j"$(nproc)" >>"$log" 2>&1; then
    tail -n 40 "$log"
    summary+=("$preset: BUILD FAILED")
    failed=$((failed + 1))
    return
  fi
  run ctest --preset "$preset" --output-on-failure -V "${extra[@]}" >>"$log" 2>&1
  local rc=$?
  grep -E '^\s*[0-9]+: \[  (PASSED|FAILED) |^\s*[0-9]+/[0-9]+ Test|tests passed' "$log" | sed 's/^/  /'
  [ $rc -eq 0 ] || grep -E '\[  FAILED  \]|Failure|error' "$log" | head -n 40
  local line ok bad
  line=$(grep -E 'tests passed, [0-9]+ tests failed out of' "$log" | tail -n 1)
  local total
  total=$(sed -nE 's/.* tests failed out of ([0-9]+).*/\1/p' <<<"$line")
  bad=$(sed -nE 's/.* ([0-9]+) tests failed out of.*/\1/p' <<<"$line")
  ok=$(( ${total:-0} - ${bad:-0} ))
  local units
  units=$(grep -oE '\[  PASSED  \] [0-9]+ tests?' "$log" | awk '{ n += $4 } END { print n + 0 }')
  summary+=("$preset: ctest ${ok:-0} passed, ${bad:-?} failed; ${units:-0} unit tests passed")
  passed=$((passed + ${ok:-0}))
  if [ $rc -ne 0 ]; then failed=$((failed + ${bad:-1})); [ "${bad:-0}" = 0 ] && failed=$((failed + 1)); fi
}

# One step besides the suites: NAME, then its command, whose output goes to
# build/logs/NAME.log. The log's lines that begin with "NAME:" or "NAME "
# show as it ends (all of the log's end where it fails), and the last of them
# is its summary line.
step() {
  local name=$1 log=$logs/$1.log said
  shift
  echo "=== $name"
  if "$@" >"$log" 2>&1; then
    said=$(grep -E "^$name[: ]" "$log")
    [ -n "$said" ] || said="$name: $(tail -n 1 "$log")"
    sed 's/^/  /' <<<"$said"
    summary+=("$(tail -n 1 <<<"$said")")
    passed=$((passed + 1))
  else
    tail -n 40 "$log"
    said=$(grep -E "^$name: FAILED" "$log" | tail -n 1)
    summary+=("${said:-$name: FAILED} (see build/logs/$name.log)")
    failed=$((failed + 1))
  fi
}

# Wine runs outside ctest (the replay, the packages) in a copy too; each
# Windows suite makes its own.
export TLP_WINEPREFIX=$root/build/wine-prefix
source scripts/wine-prefix.sh
tlp_wine_prefix_copy "$TLP_WINEPREFIX" || { echo "the Wine prefix could not be made"; exit 1; }

suite linux
suite linux-asan
suite win64
# 32-bit Windows programs run natively where the kernel runs i386 code, else
# under qemu-user (scripts/setup-machine.sh chose).
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
  # qemu-user now and then dies of a segmentation fault of its own in a run
  # that passes on the next try: there a test gets one more try, the crash
  # stays in the log, and the summary says qemu ran it.
  if grep -qx enabled /proc/sys/fs/binfmt_misc/qemu-i386* 2>/dev/null; then
    suite win32 --repeat until-pass:2
    summary[-1]="win32 (under qemu-user): ${summary[-1]#win32: }"
    if grep -q 'qemu: uncaught target signal' "$logs/win32.log"; then
      if grep -qE '100% tests passed' "$logs/win32.log"; then
        echo "  win32: qemu crashed once; the test passed on its second try (build/logs/win32.log)"
      else
        echo "  win32: qemu crashed on both tries (build/logs/win32.log)"
      fi
    fi
  else
    suite win32
  fi
  # The import exports of the 32-bit DLL against the Linux library, over the
  # fuzzers' seeds, the kept crashers and 12,000 mutants.
  step replay bash scripts/replay.sh
  # The release packages, made from the builds above and unpacked as a user
  # gets them: their files, the plug-in's export table, and tga-host about on
  # the plug-in beside it, the same natively and under Wine (32-bit).
  step package bash scripts/package.sh win32 linux
  # The product's package built again from a copy of the sources in another
  # folder: it must be the same, byte for byte.
  step reproduce bash scripts/reproduce.sh win32
else
  echo "SKIPPED win32: this machine cannot run 32-bit programs (no i386 support, no qemu binfmt)"
  summary+=("SKIPPED win32: this machine cannot run 32-bit programs")
fi

# Line and branch coverage against the floors of scripts/coverage-floors: the
# Linux build, and the Windows pieces under Wine where 32-bit programs run.
coverage_builds=(linux)
/usr/lib/wine/wine --version >/dev/null 2>&1 && coverage_builds+=(win32)
step coverage bash scripts/coverage.sh "${coverage_builds[@]}"

# The continuous fuzzing build (.clusterfuzzlite/): build.sh as the engines
# run it, in both word sizes, and each target over its seeds.
step oss-fuzz bash .clusterfuzzlite/check.sh

step fuzz env FUZZ_SECONDS="$FUZZ_SECONDS" bash scripts/fuzz.sh

/usr/lib/wine/wineserver64 -k 2>/dev/null || true

unchanged_user_state() {
  user_state >"$logs/user-state-after.txt"
  diff "$logs/user-state-before.txt" "$logs/user-state-after.txt" || { echo "user-state: CHANGED by the run"; return 1; }
  echo "user-state: as it was ($(paste -sd';' "$logs/user-state-after.txt" | sed 's/;/; /g'))"
}
step user-state unchanged_user_state

echo
echo "=== summary"
for s in "${summary[@]}"; do echo "$s"; done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
