#!/usr/bin/env bash
# The example viewer (examples/viewer.c) under Wine on a virtual X display.
#
#   scripts/screenshot-viewer.sh DIR [OUTPUT.png]   the thumbnails of samples/
#                                                    (default docs/viewer.png)
#   scripts/screenshot-viewer.sh --check DIR        pictures at 1:1
#
# DIR holds viewer.exe beside Targa.tlp and tga-host.exe, as in an unpacked
# Windows package once scripts/package.sh has built the examples into it
# (build/packages/check-win32/Targa-<version>-win32). The programs run in a
# copy of the project's Wine prefix (scripts/wine-display.sh).
# --check opens samples/sample-24-rle.tga, then two small pictures whose rows
# a DIB pads (5 pixels of 24 bits, bottom-up; 7 colour-mapped ones, with an
# index past the palette), grabs
# the screen with xwd each time (window capture under the headless driver is
# blank) and compares the pixels where the viewer says it drew the picture
# with the decoded record, written by `tga-host import` from the same
# plug-in: one differing pixel fails.
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

windows_path() { echo "Z:${1//\//\\}"; }
# Starts the viewer on $1 and waits for its line that the sed expression $2
# selects: where it drew.
show() {
  $WINESERVER -k 2>/dev/null || true # ends the viewer shown before
  # Wine's output goes to a file, never through a pipe.
  $WINE "$dir/viewer.exe" "$(windows_path "$1")" </dev/null >"$work/viewer.log" 2>&1 &
  host_pid=$!
  geometry=$(tlp_wait_for_line "$work/viewer.log" "$2") ||
    { echo "the viewer did not show $1" >&2; exit 1; }
  sleep 1 # what is drawn reaches the X server
  xwd -root -display "$DISPLAY" -silent >"$work/screen.xwd"
}

if [ -z "$check" ]; then
  show "$root/samples" 's/^thumbnails of .*; window \([0-9x+]*\)$/\1/p'
  mkdir -p "$(dirname "$out")"
  /usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$out"
  echo "wrote $out ($geometry)"
  exit 0
fi

# Targa files from their bytes: an 18-byte header, a colour map, the pixels.
python3 - "$work" <<'PY'
import struct, sys
def tga(name, cmap_type, image_type, cmap, w, h, depth, descriptor, pixels):
    entries = len(cmap) // 3
    head = struct.pack('<BBBHHBHHHHBB', 0, cmap_type, image_type, 0, entries,
                       24 if entries else 0, 0, 0, w, h, depth, descriptor)
    open(f'{sys.argv[1]}/{name}', 'wb').write(head + bytes(cmap) + bytes(pixels))
tga('odd-24.tga', 0, 2, [], 5, 3, 24, 0, [(i * 37 + c * 91) % 256 for i in range(15) for c in range(3)])
# Index 4 is past its palette of 4 entries: black.
tga('odd-8.tga', 1, 1, [255, 0, 0, 0, 200, 0, 10, 20, 250, 128, 128, 128], 7, 3, 8, 0x20,
    [i % 5 for i in range(21)])
PY
for picture in "$root/samples/sample-24-rle.tga" "$work/odd-24.tga" "$work/odd-8.tga"; do
  name=$(basename "$picture")
  $WINE "$dir/tga-host.exe" import "$(windows_path "$picture")" -o "$(windows_path "$work/decoded.png")" \
    </dev/null >"$work/import.log" 2>&1 || { tr -d '\r' <"$work/import.log" >&2; exit 1; }
  show "$picture" 's/^picture [^,]*, \([0-9]*\) x \([0-9]*\), at \([0-9]*\),\([0-9]*\);.*/\1x\2+\3+\4/p'
  /usr/bin/convert "xwd:$work/screen.xwd" -crop "$geometry" +repage -strip "$work/drawn.png"
  # AE: the number of pixels that differ at all.
  differ=$(/usr/bin/compare -metric AE "$work/drawn.png" "$work/decoded.png" null: 2>&1) || true
  [ "$differ" = 0 ] || {
    echo "the viewer's $name at $geometry differs from the decoded record in $differ pixels" >&2
    exit 1
  }
  echo "viewer: $name drawn at $geometry, every pixel the decoded record's"
done
