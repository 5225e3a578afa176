#!/usr/bin/env bash
# Takes a picture of the export options dialog as a user sees it: the Windows
# tga-host runs `options` under Wine on a virtual X display and waits for OK
# or Cancel in its dialog, with the plug-in's panel inside; the screen is
# grabbed with xwd and cut to that window.
#
#   scripts/screenshot-dialog.sh [BUILD_DIR] [OUTPUT.png] [METHOD]
#
# BUILD_DIR is a Windows build (default build/win64: x86-64 starts in a second),
# OUTPUT defaults to docs/options-dialog.png and METHOD, the method stored
# first (by `options --answer`) and so checked when the dialog opens, to 2.
#
# The picture is taken in a copy of the project's Wine prefix
# (scripts/wine-display.sh). The dialog is never answered: the host is ended
# while it waits.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/win64}
out=${2:-$root/docs/options-dialog.png}
method=${3:-2}
exe=$build/bin/tga-host.exe
[ -f "$exe" ] || { echo "no $exe: build the win64 or win32 preset first" >&2; exit 1; }

source "$here/wine-display.sh"
tlp_wine_display

# Wine's output goes to a file, never through a pipe.
$WINE "$exe" options --answer "$method" </dev/null >"$work/store.log" 2>&1 || {
  echo "tga-host could not store method $method:" >&2
  tr -d '\r' <"$work/store.log" >&2
  exit 1
}
$WINE "$exe" options </dev/null >"$work/host.log" 2>&1 &
host_pid=$!
geometry=$(tlp_wait_for_line "$work/host.log" \
  's/^waiting for OK or Cancel in the window at \([0-9x+]*\)$/\1/p') ||
  { echo "tga-host did not show the dialog" >&2; exit 1; }
sleep 2 # let the window paint
mkdir -p "$(dirname "$out")"
xwd -root -display "$DISPLAY" -silent >"$work/screen.xwd"
/usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$out"
tr -d '\r' <"$work/host.log"
echo "wrote $out ($geometry)"
