#!/usr/bin/env bash
# The package steps' decisions (scripts/apt.sh, scripts/run.sh) against
# stand-in apt-get, apt-cache, dpkg and dpkg-query on the PATH: an index that
# keeps failing, an install that fails once, one that fails twice, and an
# installed amd64 library newer than its i386 twin. Nothing real is touched.
set -uo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
export STUB=$(mktemp -d)
trap 'rm -rf "$STUB"' EXIT
mkdir -p "$STUB/bin" "$STUB/prefs"
export PATH=$STUB/bin:$PATH TLP_APT_PAUSE=0 TLP_APT_PREFS=$STUB/prefs

cat >"$STUB/bin/apt-get" <<'SH'
#!/usr/bin/env bash
echo "apt-get $*" >>"$STUB/log"
take() { local n; n=$(cat "$STUB/$1"); [ "$n" -gt 0 ] && echo $((n - 1)) >"$STUB/$1"; }
case " $* " in
  *" update "*)
    if take update_fails; then
      printf 'Err:6 http://mirror.test/debian-security bookworm-security/main i386 Packages\n  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]\nE: Some index files failed to download.\n'
      exit 100
    fi ;;
  *" install "*)
    [ -e "$TLP_APT_PREFS/tlp-hold-security" ] && echo "pinned install" >>"$STUB/log"
    if take install_fails; then
      printf 'The following packages have unmet dependencies:\n wine32:i386 : Depends: libwine:i386 (= 8.0~repack-4) but it is not going to be installed\nE: Unable to correct problems, you have held broken packages.\n'
      exit 100
    fi ;;
esac
SH
cat >"$STUB/bin/apt-cache" <<'SH'
#!/usr/bin/env bash
[ "$1" = policy ] || exit 1
shift
for p; do
  v=$(awk -v p="$p" '$1 == p { print $2 }' "$STUB/candidates")
  [ -n "$v" ] && printf '%s:\n  Installed: (none)\n  Candidate: %s\n' "$p" "$v"
done
exit 0
SH
cat >"$STUB/bin/dpkg" <<'SH'
#!/usr/bin/env bash
case $1 in
  --print-foreign-architectures) echo i386 ;;
  --compare-versions) [ "$2" != "$4" ] && [ "$(printf '%s\n%s\n' "$2" "$4" | sort -V | tail -n 1)" = "$2" ] ;;
esac
SH
cat >"$STUB/bin/dpkg-query" <<'SH'
#!/usr/bin/env bash
pkg=${3:-}
if [ -n "$pkg" ]; then exit 1; fi   # nothing counts as installed
cat "$STUB/status"
SH
cat >"$STUB/bin/cmake" <<'SH'
#!/usr/bin/env bash
echo "build: cmake $*" >>"$STUB/log"
SH
chmod +x "$STUB/bin/"*

passed=0 failed=0
check() {  # name, condition (a command)
  local name=$1; shift
  if "$@"; then passed=$((passed + 1)); else failed=$((failed + 1)); echo "FAILED: $name"; echo "--- output"; cat "$STUB/out"; echo "--- calls"; cat "$STUB/log"; fi
}
has() { grep -qF -- "$1" "$STUB/out"; }
called() { grep -cF -- "$1" "$STUB/log"; }

# One case: update failures, install failures, installed packages and
# candidates, then scripts/apt.sh's install of wine32:i386 in a fresh shell.
case_() {
  echo "$1" >"$STUB/update_fails"; echo "$2" >"$STUB/install_fails"
  printf '%b' "$3" >"$STUB/status"; printf '%b' "$4" >"$STUB/candidates"
  : >"$STUB/log"
  bash -c 'set -euo pipefail; source "$1/scripts/apt.sh"; apt_install g++ wine32:i386' _ "$root" >"$STUB/out" 2>&1
  echo $? >"$STUB/rc"
}
rc() { [ "$(cat "$STUB/rc")" = "$1" ]; }
nopin() { [ -z "$(ls -A "$STUB/prefs")" ]; }

case_ 9 0 '' ''
check "update failing: tried three times" [ "$(called 'apt-get update')" = 3 ]
check "update failing: one line names the index" has "failed index: http://mirror.test/debian-security bookworm-security/main i386 Packages (File has unexpected size (374820 != 376004). Mirror sync in progress?)"
check "update failing: goes on to the install" rc 0
check "update failing: the install ran once" [ "$(called 'apt-get install')" = 1 ]

case_ 1 0 '' ''
check "update failing once: no word of it" [ ! -s "$STUB/out" ]

case_ 0 1 '' ''
check "install failing once: says so" has "once more with the security archive held back"
check "install failing once: the second try held the security archive back" [ "$(called 'pinned install')" = 1 ]
check "install failing once: succeeds" rc 0
check "install failing once: the hold is gone" nopin

case_ 0 2 'libc6 amd64 2.36-9+deb12u14 same\n' 'libc6:i386 2.36-9+deb12u14\n'
check "install failing twice: fails" rc 1
check "install failing twice: names the packages" has "cannot install: g++ wine32:i386"
check "install failing twice: quotes apt" has "wine32:i386 : Depends: libwine:i386"
check "install failing twice: no twin to blame" bash -c '! grep -q reason: "$STUB/out"'
check "install failing twice: the hold is gone" nopin

case_ 0 2 'libc6 amd64 2.36-9+deb12u14 same\nlibgnutls30 amd64 3.7.9-2+deb12u7 same\nzlib1g amd64 1:1.2.13 same\ncmake amd64 3.25.1 foreign\n' \
  'libc6:i386 2.36-9+deb12u14\nlibgnutls30:i386 3.7.9-2+deb12u6\nzlib1g:i386 (none)\n'
check "newer amd64 twin: named as the reason" has "reason: installed amd64 libraries newer than any i386 twin in the lists:"
check "newer amd64 twin: the library and both versions" has "libgnutls30 3.7.9-2+deb12u7 (i386: 3.7.9-2+deb12u6)"
check "newer amd64 twin: one with no i386 twin at all" has "zlib1g 1:1.2.13 (i386: (none))"
check "newer amd64 twin: equal versions not blamed" bash -c '! grep -q "libc6 2.36" "$STUB/out"'

# run.sh stops with the cause and never reaches the build.
echo 0 >"$STUB/update_fails"; echo 2 >"$STUB/install_fails"; : >"$STUB/status"; : >"$STUB/log"
(cd "$STUB" && bash "$root/scripts/run.sh") >"$STUB/out" 2>&1
echo $? >"$STUB/rc"
check "run.sh: exits non-zero" bash -c '[ "$(cat "$STUB/rc")" != 0 ]'
check "run.sh: says what it cannot build without" has "run.sh: cannot build without cmake g++ libpng-dev pkg-config"
check "run.sh: no build" [ "$(called "build: cmake")" = 0 ]

echo "apt: $passed passed, $failed failed"
[ "$failed" -eq 0 ]
