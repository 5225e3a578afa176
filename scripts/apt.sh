# Package installs that survive a mirror caught mid-sync. Sourced by
# setup-machine.sh and run.sh; needs bash.
#   apt_update         retries; where an index still fails, goes on with the
#                      lists at hand and names the index in one line
#   apt_install P...   installs; a failure is tried once more with the
#                      security archive held back (its i386 twins are often
#                      the index that failed, and multiarch needs equal
#                      versions); where that fails too, names the packages
#                      and the reason, and returns 1
# The test (tests/setup/apt_test.sh) sets the TLP_APT_* variables.
TLP_APT_TRIES=${TLP_APT_TRIES:-3}
TLP_APT_PAUSE=${TLP_APT_PAUSE:-10}
TLP_APT_PREFS=${TLP_APT_PREFS:-/etc/apt/preferences.d}
tlp_apt_updated=

apt_update() {
  local try out
  for ((try = 1; ; try++)); do
    out=$(apt-get update 2>&1) && { tlp_apt_updated=1; return 0; }
    [ "$try" -lt "$TLP_APT_TRIES" ] || break
    sleep "$TLP_APT_PAUSE"
  done
  tlp_apt_updated=1
  # "Err:6 URL SUITE/COMPONENT ARCH Packages" and, on the next line, why.
  local failed
  failed=$(awk '/^Err:/ { sub(/^Err:[0-9]+ /, ""); idx = $0
                          if ((getline why) > 0) { sub(/^ +/, "", why); sub(/ *\[IP: [^]]*\]$/, "", why); idx = idx " (" why ")" }
                          printf "%s%s", n++ ? "; " : "", idx }' <<<"$out")
  [ -n "$failed" ] || failed=$(grep -m1 -E '^(E|W):' <<<"$out" || echo "apt-get update exited non-zero")
  echo "apt-get update: failed $TLP_APT_TRIES times, going on with the lists at hand; failed index: $failed"
}

apt_install() {
  [ -n "$tlp_apt_updated" ] || apt_update
  export DEBIAN_FRONTEND=noninteractive
  local out
  out=$(apt-get install -y -qq --no-install-recommends "$@" 2>&1) && return 0
  echo "apt-get install failed ($(grep -m1 '^E:' <<<"$out" || echo "exit status non-zero")); once more with the security archive held back"
  local pin=$TLP_APT_PREFS/tlp-hold-security rc=0
  printf 'Package: *\nPin: release l=Debian-Security\nPin-Priority: 100\n' >"$pin"
  out=$(apt-get install -y -qq --no-install-recommends "$@" 2>&1) || rc=$?
  rm -f "$pin"
  if [ $rc -eq 0 ]; then
    echo "installed with the security archive held back: $*"
    return 0
  fi
  echo "cannot install: $*"
  { grep -E '^E:|^ [^ ].* : (Depends|PreDepends|Breaks|Conflicts):' <<<"$out" || true; } | head -n 20 | sed 's/^/  /'
  apt_newer_amd64 "$@"
  return 1
}

# Where an i386 package is wanted: installed amd64 libraries that must share
# their version with an i386 twin (Multi-Arch: same) but are newer than any
# twin the lists hold. apt will not downgrade them, so only a mirror that
# serves the twin (or a downgrade by hand) can mend this.
apt_newer_amd64() {
  [[ " $* " == *":i386 "* ]] || return 0
  local -A have=()
  local name arch ver ma
  while read -r name arch ver ma; do
    if [ "$arch" = amd64 ] && [ "$ma" = same ]; then have[$name]=$ver; fi
  done < <(dpkg-query -W -f='${Package} ${Architecture} ${Version} ${Multi-Arch}\n' 2>/dev/null)
  [ ${#have[@]} -gt 0 ] || return 0
  local twins=() p
  for p in "${!have[@]}"; do twins+=("$p:i386"); done
  local pkg cand newer=()
  while read -r pkg cand; do
    name=${pkg%:i386}
    if [ -z "${have[$name]:-}" ]; then continue; fi
    if [ "$cand" = "(none)" ] || dpkg --compare-versions "${have[$name]}" gt "$cand"; then
      newer+=("$name ${have[$name]} (i386: $cand)")
    fi
  done < <(apt-cache policy "${twins[@]}" 2>/dev/null |
           awk '/^[^ ].*:$/ { sub(/:$/, ""); pkg = $0 } /^  Candidate:/ { print pkg, $2 }')
  [ ${#newer[@]} -eq 0 ] ||
    echo "  reason: installed amd64 libraries newer than any i386 twin in the lists: $(IFS=,; echo "${newer[*]}" | sed 's/,/, /g')"
}
