#!/usr/bin/env bash
# Runs one Windows program under Wine in the project's prefix (64- and 32-bit
# programs alike) and passes its exit status and its two output streams
# through. Wine's output goes to files first: its background processes must
# never inherit the caller's pipe.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-prefix.sh"
tlp_wine_prefix
out=$(mktemp)
err=$(mktemp)
$WINE "$@" </dev/null >"$out" 2>"$err"
rc=$?
tr -d '\r' <"$out"
tr -d '\r' <"$err" >&2
rm -f "$out" "$err"
exit $rc
