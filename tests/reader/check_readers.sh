#!/usr/bin/env bash
# Files written by the plug-in's export must open in independent Targa readers
# with the expected pixels: ImageMagick's convert and Python's Pillow, each
# where installed. Exits 77 (skipped) when neither is.
#   check_readers.sh SAMPLES_PROGRAM WORK_DIR
set -u
samples=$1
dir=$2

readers=()
if /usr/bin/convert -version 2>/dev/null | grep -q ImageMagick; then readers+=(imagemagick); fi
# The Python on the path may be another than the system's, which has Pillow.
python=
for p in python3 /usr/bin/python3; do
  if "$p" -c 'import PIL' 2>/dev/null; then python=$p; readers+=(pillow); break; fi
done
if [ ${#readers[@]} -eq 0 ]; then
  echo "skipped: neither ImageMagick (/usr/bin/convert) nor Python Pillow is installed"
  exit 77
fi

rm -rf "$dir" && mkdir -p "$dir" || exit 1
"$samples" write "$dir" || { echo "FAIL: the plug-in did not write the samples"; exit 1; }

read_with() { # reader tga width height out.rgb
  case $1 in
    imagemagick)
      # ImageMagick keeps the stored row order and notes the orientation.
      got=$(/usr/bin/identify -format '%w %h %[orientation]' "$2") || return 1
      [ "$got" = "$3 $4 TopLeft" ] || { echo "found $got, expected $3 $4 TopLeft"; return 1; }
      /usr/bin/convert "$2" -auto-orient -depth 8 "rgb:$5" ;;
    pillow)
      "$python" - "$2" "$3" "$4" "$5" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1])
want = (int(sys.argv[2]), int(sys.argv[3]))
if im.size != want:
    sys.exit(f"size {im.size}, expected {want}")
open(sys.argv[4], "wb").write(im.convert("RGB").tobytes())
PY
      ;;
  esac
}

failed=0
checked=0
for reader in "${readers[@]}"; do
  while read -r name width height tolerance; do
    out="$dir/$name.$reader.rgb"
    if read_with "$reader" "$dir/$name.tga" "$width" "$height" "$out" &&
       "$samples" compare "$dir/$name.rgb" "$out" "$tolerance"; then
      echo "ok: $reader reads $name"
      checked=$((checked + 1))
    else
      echo "FAIL: $reader reads $name differently"
      failed=$((failed + 1))
    fi
  done <"$dir/samples.txt"
done
echo "readers checked $checked files; $failed did not match"
[ "$failed" -eq 0 ] && [ "$checked" -gt 0 ]
