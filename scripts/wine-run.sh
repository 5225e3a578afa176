#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix (64- and 32-bit
# programs alike) and passes its exit status through. Wine's output goes to a
# file first: its background processes must never inherit the caller's pipe.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-prefix.sh"
tlp_wine_prefix
out=$(mktemp)
$WINE "$@" </dev/null >"$out" 2>&1
rc=$?
tr -d '\r' <"$out"
rm -f "$out"
exit $rc
