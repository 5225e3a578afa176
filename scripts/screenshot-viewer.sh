#!/usr/bin/env bash
# The example viewer (examples/viewer.c) under Wine on a virtual X display.
#
#   scripts/screenshot-viewer.sh DIR [OUTPUT.png]   the thumbnails of samples/
#                                                    (default docs/viewer.png)
#   scripts/screenshot-viewer.sh --check DIR        sample-24-rle.tga at 1:1
#
# DIR holds viewer.exe beside Targa.tlp and tga-host.exe, as in an unpacked
# Windows package once scripts/package.sh has built the examples into it.
# --check opens samples/sample-24-rle.tga, grabs the screen with xwd (window
# capture under the headless driver is blank) and compares the pixels where
# the viewer says it drew the picture with the decoded record, written by
# `tga-host import` from the same plug-in: one differing pixel fails.
set -euo pipefail
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
check=
[ "${1:-}" = --check ] && { check=1; shift; }
[ $# -ge 1 ] || { echo "usage: $0 [--check] DIR [OUTPUT.png]" >&2; exit 2; }
dir=$(cd "$1" && pwd)
out=${2:-$root/docs/viewer.png}
for file in viewer.exe Targa.tlp tga-host.exe; do
  [ -f "$dir/$file" ] || { echo "no $dir/$file" >&2; exit 1; }
done
for tool in Xvfb xwd /usr/bin/convert /usr/bin/compare; do
  command -v "$tool" >/dev/null || { echo "$tool is missing (Xvfb, x11-apps, imagemagick)" >&2; exit 1; }
done

source "$here/wine-display.sh"
tlp_wine_display

sample=$root/samples/sample-24-rle.tga
windows_path() { echo "Z:${1//\//\\}"; }
if [ -n "$check" ]; then
  $WINE "$dir/tga-host.exe" import "$(windows_path "$sample")" -o "$(windows_path "$work/decoded.png")" \
    </dev/null >"$work/import.log" 2>&1 || { tr -d '\r' <"$work/import.log" >&2; exit 1; }
  shown=$(windows_path "$sample")
  wanted='s/^picture [^,]*, \([0-9]*\) x \([0-9]*\), at \([0-9]*\),\([0-9]*\);.*/\1x\2+\3+\4/p'
else
  shown=$(windows_path "$root/samples")
  wanted='s/^thumbnails of .*; window \([0-9x+]*\)$/\1/p'
fi
# Wine's output goes to a file, never through a pipe.
$WINE "$dir/viewer.exe" "$shown" </dev/null >"$work/viewer.log" 2>&1 &
host_pid=$!
geometry=$(tlp_wait_for_line "$work/viewer.log" "$wanted") ||
  { echo "the viewer did not show $shown" >&2; exit 1; }
sleep 1 # what is drawn reaches the X server
xwd -root -display "$DISPLAY" -silent >"$work/screen.xwd"
if [ -n "$check" ]; then
  /usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$work/drawn.png"
  # AE: the number of pixels that differ at all.
  differ=$(/usr/bin/compare -metric AE "$work/drawn.png" "$work/decoded.png" null: 2>&1) || true
  [ "$differ" = 0 ] || {
    echo "the viewer's picture at $geometry differs from the decoded record in $differ pixels" >&2
    exit 1
  }
  echo "viewer: sample-24-rle.tga drawn at $geometry, every pixel the decoded record's"
else
  mkdir -p "$(dirname "$out")"
  /usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$out"
  echo "wrote $out ($geometry)"
fi
