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
# The picture is taken in a copy of the project's Wine prefix (TLP_SHOT_PREFIX
# names another): the window driver is chosen when a prefix's server starts,
# so switching to the display means ending that server, and the project's own
# prefix may be busy with other runs. The dialog is never answered: the host
# is ended while it waits.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${1:-$root/build/win64}
out=${2:-$root/docs/options-dialog.png}
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
# There is no window manager on the display: Wine draws the title bar and the
# frame itself, its buttons with the Marlett font of fonts-wine (copied into
# a prefix when it is made; this one may be older than the package).
$WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
marlett=/usr/share/wine/fonts/marlett.ttf
[ -f "$marlett" ] && cp -n "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"

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
DISPLAY=$display $WINE "$exe" options --answer "$method" </dev/null >"$work/store.log" 2>&1 || {
  echo "tga-host could not store method $method:" >&2
  tr -d '\r' <"$work/store.log" >&2
  exit 1
}
DISPLAY=$display $WINE "$exe" options </dev/null >"$work/host.log" 2>&1 &
host_pid=$!
geometry=
for _ in $(seq 240); do
  geometry=$(tr -d '\r' <"$work/host.log" | sed -n 's/^waiting for OK or Cancel in the window at \([0-9x+]*\)$/\1/p')
  [ -n "$geometry" ] && break
  kill -0 "$host_pid" 2>/dev/null || break
  sleep 0.5
done
if [ -z "$geometry" ]; then
  echo "tga-host did not show the dialog:" >&2
  tr -d '\r' <"$work/host.log" >&2
  exit 1
fi
sleep 2 # let the window paint
mkdir -p "$(dirname "$out")"
xwd -root -display "$display" -silent >"$work/screen.xwd"
/usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$out"
tr -d '\r' <"$work/host.log"
echo "wrote $out ($geometry)"
