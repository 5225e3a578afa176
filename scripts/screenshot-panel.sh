#!/usr/bin/env bash
# Takes a picture of the export options panel as a host shows it: the Windows
# tga-host runs under Wine on a virtual X display, holds the plug-in's panel in
# a window of its own, and the screen is grabbed with xwd and cut to that
# window.
#
#   scripts/screenshot-panel.sh [BUILD_DIR] [OUTPUT.png] [METHOD]
#
# BUILD_DIR is a Windows build (default build/win64: x86-64 starts in a second),
# OUTPUT defaults to docs/panel.png and METHOD, the item clicked, to 2.
#
# The picture is taken in a copy of the project's Wine prefix: the window
# driver is chosen when a prefix's server starts, so switching to the display
# means ending that server, and the project's own prefix may be busy with
# other runs. The host is ended while it holds the panel, so nothing is stored.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/win64}
out=${2:-$root/docs/panel.png}
method=${3:-2}
exe=$build/bin/tga-host.exe
[ -f "$exe" ] || { echo "no $exe: build the win64 or win32 preset first" >&2; exit 1; }

source "$here/wine-prefix.sh"
tlp_wine_prefix # the project's prefix, made once
shot=${TLP_SHOT_PREFIX:-$(dirname "$WINEPREFIX")/shot-prefix}
if [ ! -f "$shot/.tlp-ready" ]; then
  echo "+ copying the Wine prefix to $shot (once)"
  rm -rf "$shot"
  cp -a "$WINEPREFIX" "$shot.tmp"
  mv "$shot.tmp" "$shot"
fi
export WINEPREFIX=$shot

# A display number nobody uses.
n=57
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
display=:$n

work=$(mktemp -d)
xvfb_pid= host_pid=
cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  $WINESERVER -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

$WINESERVER -k 2>/dev/null || true # a server left headless would keep the null driver
Xvfb "$display" -screen 0 640x480x24 -nolisten tcp </dev/null >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
[ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; exit 1; }

# Wine's output goes to a file, never through a pipe.
DISPLAY=$display $WINE "$exe" method "$method" --show 20 </dev/null >"$work/host.log" 2>&1 &
host_pid=$!
geometry=
for _ in $(seq 240); do
  geometry=$(tr -d '\r' <"$work/host.log" | sed -n 's/^holding the panel window at \([0-9x+]*\) .*/\1/p')
  [ -n "$geometry" ] && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$geometry" ]; then
  echo "tga-host did not show the panel:" >&2
  tr -d '\r' <"$work/host.log" >&2
  exit 1
fi
sleep 2 # let the window paint
mkdir -p "$(dirname "$out")"
xwd -root -display "$display" -silent >"$work/screen.xwd"
/usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$out"
tr -d '\r' <"$work/host.log"
echo "wrote $out ($geometry)"
