#!/usr/bin/env bash
# tga-host export end to end through the built plug-in: PNG and Targa
# pictures through each conversion method to Targa files (kinds, colour maps,
# pixels), back through import to PNG; 16-bit PNGs; the stored method and
# --method, and a method that cannot be stored; a stop at a chosen row and on
# Ctrl-C; sizes refused before memory is taken; errors and exit statuses;
# --help everywhere. (Output safety: output_test.sh.) With a RUNNER (Wine),
# only the cases that read or write PNG files and need nothing native.
#   export_test.sh TGA_HOST SAMPLES_DIR WORK_DIR [RUNNER]
set -u
host=$1
samples=$2
dir=$3
runner=${4:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
command -v python3 >/dev/null || { echo "skipped: no python3"; exit 77; }
rm -rf "$dir" && mkdir -p "$dir" || exit 1
native=yes
if [ -n "$runner" ]; then
  # One command that runs the program through the runner.
  native=
  printf '#!/bin/sh\nexec %q %q "$@"\n' "$runner" "$host" >"$dir/tga-host" && chmod +x "$dir/tga-host" || exit 1
  host=$dir/tga-host
fi
# A settings store of this test's own (where there is no registry).
export XDG_CONFIG_HOME=$dir/config
. "$here/common.sh"
files() { python3 "$here/tga_files.py" "$@"; }

files make "$dir" || { echo "FAIL: no test pictures"; exit 1; }
cp "$samples/sample.png" "$dir/sample.png"
if "$host" export --method 0 "$dir/few.png" "$dir/probe.tga" 2>&1 | grep -q "reads no PNG"; then
  echo "skipped: this tga-host reads no PNG files"
  exit 77
fi

# ---- Each method on each PNG: kind, colour map and pixels of the file, then
# the file back through import. few, alpha and grey have at most 256 colours,
# sample and many more.
expect() { # picture method -> kind, pixel check, colour map
  local small=no
  case $1 in few | alpha | grey) small=yes ;; esac
  case $2:$small in
  0:*) echo "24 exact" ;;
  1:*) echo "16 step" ;;
  2:yes | 3:yes) echo "8 exact distinct" ;;
  2:no) echo "24 exact" ;;
  3:no) echo "16 step" ;;
  4:yes) echo "8 exact distinct" ;;
  4:no) echo "8 diffused" ;;
  5:*) echo "8 windows 256" ;;
  esac
}
for picture in sample few many alpha grey; do
  for method in 0 1 2 3 4 5; do
    out=$dir/$picture-$method.tga
    read -r kind how colours <<<"$(expect "$picture" "$method")"
    what="$picture.png method $method"
    check "$what: exit 0" [ "$(status "$host" export --method "$method" "$dir/$picture.png" "$out")" = 0 ]
    check "$what: $kind-bit, $how" files check "$out" "$dir/$picture.png" --kind "$kind" --pixels "$how" \
      ${colours:+--colours "$colours"}
    check "$what: imports" [ "$(status "$host" import "$out" -o "$dir/$picture-$method.back.png")" = 0 ]
    check "$what: import gives the file's pixels" files same "$out" "$dir/$picture-$method.back.png"
  done
done

# Progress shows on a terminal only (a file gets none, on either system).
check "standard error a file: no progress" sh -c "'$host' export --method 4 '$dir/sample.png' '$dir/quiet.tga' \
  2>'$dir/quiet.txt' >/dev/null && '$host' import '$dir/quiet.tga' -o '$dir/quiet.png' 2>>'$dir/quiet.txt' >/dev/null && [ ! -s '$dir/quiet.txt' ]"

# ---- 16-bit PNGs: v x 255 / 65535 rounded, alpha flattened onto white in the
# picture's own values (a tRNS colour as alpha), and a gAMA chunk changes
# nothing. colour type, depth [--gamma G] [--trns V,...], samples | the Targa
# pixels (b, g, r)
for row in "0 16 14400 65535 32896 0|383838ffffff808080000000" "2 16 14400 65535 0 257 514 771|00ff38030201" \
  "6 16 14400 65535 0 32768 1000 2000 3000 0|7fff9cffffff" "4 16 400 65535 32768 0 1000 32768|020202ffffff818181" \
  "4 8 100 255 100 128 100 0|646464b1b1b1ffffff" "2 8 --gamma 100000 10 20 30 200 100 50|1e140a3264c8" \
  "6 16 --gamma 45455 1000 20000 40000 65535 50000 30000 10000 20000|9c4e04bdd5ed" \
  "2 16 --trns 1000,2000,3000 1000 2000 3000 400 40000 65535 1000 2000 3001|ffffffff9c020c0804" \
  "0 8 --trns 7 7 8|ffffff080808"; do
  IFS='|' read -r png want <<<"$row"
  files png "$dir/deep.png" $png
  "$host" export --method 0 "$dir/deep.png" "$dir/deep.tga" >/dev/null
  check "PNG of colour type and depth $png" [ "$(od -An -tx1 -j18 "$dir/deep.tga" | tr -d ' \n')" = "$want" ]
done

# The same pixels make the same PNG file, colour-mapped or true colour: the
# filter suits the picture (a scan's greys filtered, a dithered one not).
"$host" export --method 2 "$dir/grey194.png" "$dir/grey194.tga" >/dev/null
for tga in "$samples"/*.tga "$dir/grey194.tga"; do
  "$host" export --method 0 "$tga" "$dir/same24.tga" >/dev/null
  check "$(basename "$tga"): the PNG of its 24-bit copy" sh -c "'$host' import '$tga' -o '$dir/same.png' >/dev/null && \
    '$host' import '$dir/same24.tga' -o '$dir/same24.png' >/dev/null && cmp -s '$dir/same.png' '$dir/same24.png'" 2>/dev/null
done

# Through a runner the sections up to the errors are left out: they read no
# PNG, or need what the native run alone has (a settings store of its own,
# signals, pipes).
if [ -n "$native" ]; then

# ---- Targa input is read through the plug-in's import.
t=$dir/tga
mkdir -p "$t"
check "24-bit RLE sample: exit 0" [ "$(status "$host" export --method 0 "$samples/sample-24-rle.tga" "$t/24.tga")" = 0 ]
check "24-bit RLE sample: the PNG's picture" cmp -s "$t/24.tga" "$dir/sample-0.tga"
check "32-bit sample, method 4: like the PNG" \
  sh -c "'$host' export --method 4 '$samples/sample-32.tga' '$t/32-4.tga' >/dev/null && cmp -s '$t/32-4.tga' '$dir/sample-4.tga'"
# The 16-bit sample's levels survive 16-bit output unchanged.
check "16-bit sample as 24-bit" [ "$(status "$host" export --method 0 "$samples/sample-16.tga" "$t/16-0.tga")" = 0 ]
check "16-bit sample as 16-bit" [ "$(status "$host" export --method 1 "$samples/sample-16.tga" "$t/16-1.tga")" = 0 ]
check "16-bit sample: levels kept" files check "$t/16-1.tga" "$t/16-0.tga" --kind 16 --pixels exact
# The indexed sample uses ten colours of a 6-level cube, which the Windows
# palette holds.
check "indexed sample as 24-bit" [ "$(status "$host" export --method 0 "$samples/sample-8-indexed-rle.tga" "$t/i-0.tga")" = 0 ]
for method in 2 3 4; do
  check "indexed sample, method $method" [ "$(status "$host" export --method $method "$samples/sample-8-indexed-rle.tga" "$t/i-$method.tga")" = 0 ]
  check "indexed sample, method $method: exact palette" files check "$t/i-$method.tga" "$t/i-0.tga" --kind 8 --pixels exact --colours distinct
done
check "indexed sample, method 5" [ "$(status "$host" export --method 5 "$samples/sample-8-indexed-rle.tga" "$t/i-5.tga")" = 0 ]
check "indexed sample, method 5: exact" files check "$t/i-5.tga" "$t/i-0.tga" --kind 8 --pixels exact --colours 256
check "grey sample, method 2" [ "$(status "$host" export --method 2 "$samples/sample-grey-rle.tga" "$t/g-2.tga")" = 0 ]
check "grey sample, method 2: 8-bit" grep -q "8-bit colour-mapped" "$dir/out.txt"

# ---- On a terminal each long step is named, with a bar where it can tell
# how far it is.
if command -v script >/dev/null && script -qec true /dev/null >/dev/null 2>&1 </dev/null; then
  script -qec "'$host' export --method 4 '$dir/sample.png' '$t/bar.tga' && '$host' import '$t/bar.tga' -o '$t/bar.png'" \
    /dev/null >"$dir/tty.txt" 2>&1 </dev/null
  for step in "reading '$dir/sample.png' [#" "converting: counting colours, median cut... done" \
    "converting: error diffusion [####" "] 100% 64/64 rows" "writing '$t/bar.tga' [#" \
    "decoding '$t/bar.tga'... done" "writing '$t/bar.png' [#"; do
    check "on a terminal: $step" grep -qF "$step" "$dir/tty.txt"
  done
fi

# ---- The stored method, and --method for one export only.
check "store method 3" [ "$(status "$host" method 3)" = 0 ]
check "stored method: exit 0" [ "$(status "$host" export "$dir/many.png" "$t/stored.tga")" = 0 ]
check "stored method: says so" grep -q "method 3, host code 8" "$dir/out.txt"
check "stored method: 16-bit" files check "$t/stored.tga" "$dir/many.png" --kind 16 --pixels step
check "stored method: 8-bit for few colours" sh -c "'$host' export '$dir/few.png' '$t/stored-few.tga' >/dev/null && python3 '$here/tga_files.py' check '$t/stored-few.tga' '$dir/few.png' --kind 8 --pixels exact"
check "--method 0 over the stored 3" [ "$(status "$host" export --method=0 "$dir/many.png" "$t/m0.tga")" = 0 ]
check "--method 0: 24-bit" files check "$t/m0.tga" "$dir/many.png" --kind 24 --pixels exact
check "--method is not stored" [ "$(status "$host" method)" = 0 ]
check "--method is not stored: still 3" grep -q "^method: 3 " "$dir/out.txt"
# A stored value outside 0 to 5 names no conversion.
mkdir -p "$XDG_CONFIG_HOME/Tolva"
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\KADORIX\\Tolva\\Plugin\\KADORIX\\ETarga]\n"TransformMethod"=dword:00000007\n' \
  >"$XDG_CONFIG_HOME/Tolva/HKEY_CURRENT_USER.reg"
check "stored method 7: exit 1" [ "$(status "$host" export "$dir/few.png" "$t/seven.tga")" = 1 ]
check "stored method 7: says so" grep -q "outside 0 to 5" "$dir/err.txt"
check "stored method 7: no output" [ ! -e "$t/seven.tga" ]
check "stored method 7, --method 2: exit 0" [ "$(status "$host" export --method 2 "$dir/few.png" "$t/seven.tga")" = 0 ]
# A method the store does not keep is no "method set": its file is a folder, or
# there is nowhere to keep it.
mkdir -p "$dir/folder-store/Tolva/HKEY_CURRENT_USER.reg"
for store in "XDG_CONFIG_HOME=$dir/folder-store" "-u XDG_CONFIG_HOME -u HOME"; do
  check "store $store: exit 1" [ "$(status env $store "$host" method 2)" = 1 ]
  check "store $store: says so" grep -q "^tga-host: method 2 could not be stored in ." "$dir/err.txt"
done

# ---- A stop at a chosen row: no file, unless asked to keep it.
s=$dir/stop
mkdir -p "$s"
check "stop at row 10: exit 130" [ "$(status "$host" export --method 4 --stop-at-row 10 "$dir/sample.png" "$s/a.tga")" = 130 ]
check "stop at row 10: says where" grep -q "stopped before row 10 of 64" "$dir/err.txt"
check "stop at row 10: no file" [ ! -e "$s/a.tga" ]
check "stop, kept: exit 130" [ "$(status "$host" export --method 4 --stop-at-row 10 --keep-partial "$dir/sample.png" "$s/b.tga")" = 130 ]
check "stop, kept: header, map and 9 rows" [ "$(wc -c <"$s/b.partial.tga")" -eq $((18 + 256 * 3 + 9 * 96)) ]
check "stop at row 1, kept: header only" sh -c "'$host' export --method 0 --stop-at-row 1 --keep-partial '$dir/few.png' '$s/c.tga' 2>/dev/null; [ \$(wc -c <'$s/c.partial.tga') -eq 18 ]"
check "stop past the last row: written" [ "$(status "$host" export --method 0 --stop-at-row 6 "$dir/few.png" "$s/d.tga")" = 0 ]

ctrl_c_on_pipe "$s" export --method 0

fi # native

# ---- Errors and exit statuses.
e=$dir/err
mkdir -p "$e"
echo "not a picture" >"$e/text.txt"
printf '\x89PNG\r\n\x1a\nnothing more' >"$e/broken.png"
check "missing input: exit 1" [ "$(status "$host" export "$e/none.png" "$e/x.tga")" = 1 ]
check "missing input: says so" grep -q "cannot read '.*none.png'" "$dir/err.txt"
check "missing input: no output" [ ! -e "$e/x.tga" ]
check "text file: exit 1" [ "$(status "$host" export "$e/text.txt" "$e/x.tga")" = 1 ]
check "text file: says so" grep -qF "'$e/text.txt' is neither a Targa file nor a PNG file" "$dir/err.txt"
# Text renamed: plain words first, in each command, then what the header holds.
echo "Notes for the next release" >"$e/notes.tga"
why="not a Targa file (its header has colour-map type 111)"
check "export, notes.tga: exit 1" [ "$(status "$host" export "$e/notes.tga" "$e/x.tga")" = 1 ]
check "export, notes.tga: says so" grep -qF "'$e/notes.tga' is neither a Targa file nor a PNG file (its header" "$dir/err.txt"
check "import, notes.tga: exit 1" [ "$(status "$host" import "$e/notes.tga" -o "$e/x.png")" = 1 ]
check "import, notes.tga: says so" grep -qF "'$e/notes.tga' is $why" "$dir/err.txt"
check "info, notes.tga: exit 1" [ "$(status "$host" info "$e/notes.tga")" = 1 ]
check "info, notes.tga: says so" grep -qxF "$e/notes.tga: $why" "$dir/out.txt"
check "broken PNG: exit 1" [ "$(status "$host" export "$e/broken.png" "$e/x.tga")" = 1 ]
check "broken PNG: says so" grep -q "cannot read" "$dir/err.txt"
check "folder as input: exit 1" [ "$(status "$host" export "$e" "$e/x.tga")" = 1 ]
# PNG files made to hurt a reader (tga_files.py HOSTILE), read the same way on
# both systems: text and profiles that would inflate to 1.5 GB are passed over
# (natively in 300 MB of address space), palette indices past the palette are
# black, a chunk claiming more than the file or a damaged one is refused and
# OUT stays as it was. kind | exit | the Targa pixels, or the reason
echo "as it was" >"$e/kept.tga"
small=unlimited
[ -n "$native" ] && (ulimit -v 300000 && exec "$host" --help) >/dev/null 2>&1 && small=300000
for row in "text|0|1e140a3264c8" "indexed|0|030201060504000000000000" \
  "claim|1|the PNG chunk 'iTXt' claims 2147483647 bytes, more than the rest of the file (3 bytes)" \
  "toolong|1|the PNG chunk 'IDAT' claims 2147483648 bytes, more than a chunk may hold" \
  "crc-IDAT|1|the PNG chunk 'IDAT' is damaged (CRC error)" "crc-PLTE|1|the PNG chunk 'PLTE' is damaged (CRC error)"; do
  IFS='|' read -r kind want say <<<"$row"
  files hostile "$e/$kind.png" "$kind"
  out=$e/kept.tga
  [ "$want" = 0 ] && out=$e/$kind.tga
  check "$kind.png: exit $want" [ "$(status sh -c "ulimit -v $small && exec \"\$0\" \"\$@\"" "$host" export --method 0 "$e/$kind.png" "$out")" = "$want" ]
  if [ "$want" = 0 ]; then
    check "$kind.png: pixels" [ "$(od -An -tx1 -j18 "$out" | tr -d ' \n')" = "$say" ]
    rm -f "$out"
  else
    check "$kind.png: says so" grep -qF "$kind.png': $say" "$dir/err.txt"
  fi
done
check "hostile PNGs: OUT as it was" [ "$(cat "$e/kept.tga")" = "as it was" ]
check "hostile PNGs: nothing left behind" [ -z "$(ls "$e" | grep -v '\.png$\|^text.txt$\|^kept.tga$\|^notes.tga$')" ]
rm -f "$e/kept.tga"
check "no output made by any of these" [ ! -e "$e/x.tga" ]
for bad in 6 -1 x 2.5 ''; do
  check "--method '$bad': exit 2" [ "$(status "$host" export --method "$bad" "$dir/few.png" "$e/x.tga")" = 2 ]
done
check "--method 6: says so" sh -c "'$host' export --method 6 '$dir/few.png' '$e/x.tga' 2>&1 | grep -q 'from 0 to 5'"
check "--method without a value: exit 2" [ "$(status "$host" export "$dir/few.png" "$e/x.tga" --method)" = 2 ]
check "--stop-at-row 0: exit 2" [ "$(status "$host" export --stop-at-row 0 "$dir/few.png" "$e/x.tga")" = 2 ]
check "one path: exit 2" [ "$(status "$host" export "$dir/few.png")" = 2 ]
check "unknown option: exit 2" [ "$(status "$host" export --bogus "$dir/few.png" "$e/x.tga")" = 2 ]
check "usage errors write nothing" [ ! -e "$e/x.tga" ]
# A usage error is one line, and where the help is: arguments | command.
for row in "import $dir/few.png|import" "export --bogus a b|export" "convert a|convert" "info|info" \
  "method 9|method" "options --answer 7|options" "about x|about" "|" "bogus|"; do
  IFS='|' read -r args cmd <<<"$row"
  check "usage error '$args': exit 2" [ "$(status "$host" $args)" = 2 ]
  check "usage error '$args': one line, then the help's name" \
    sh -c "[ \$(wc -l <'$dir/err.txt') = 2 ] && tail -n1 '$dir/err.txt' | grep -qx \"see 'tga-host${cmd:+ $cmd} --help'\""
done
check "unwritable output: exit 1" [ "$(status "$host" export --method 0 "$dir/few.png" "$e/no/such/x.tga")" = 1 ]
check "unwritable output: says so" grep -q "cannot write" "$dir/err.txt"
check "unwritable output: nothing made" [ ! -e "$e/no" ]
check "folder as output: exit 1" [ "$(status "$host" export --method 0 "$dir/few.png" "$e")" = 1 ]

# Sizes a file cannot back are refused before memory is taken; with too
# little memory, a clear message. arguments | exit | message ("memory:" rows
# run with 300 MB of address space, which sanitizer builds cannot start in).
files header "$e/huge.tga" 30000 30000 && files header "$e/huge.png" 100000 100000
files header "$e/big.png" 30000 30000 && files header "$e/12k.tga" 12000 12000 && files header "$e/16k.png" 16000 16000
head -c 120000 /dev/zero >>"$e/big.png" # large enough to hold its pixels at 1 bit
printf '\0\1\1\0\0\2\0\20\0\0\0\0\1\0\1\0\10\40\0\0\0\0\0' >"$e/map16.tga" # 16-bit colour map
# 16 x 16 pixels claimed: 6 bytes of them there, and a run-length file with one packet.
files header "$e/16k.tga" 16000 16000 && printf '\0\0\2\0\0\0\0\0\0\0\0\0\20\0\20\0\30\40abcdef' >"$e/short.tga"
printf '\0\0\12\0\0\0\0\0\0\0\0\0\20\0\20\0\30\40\201abc' >"$e/rle.tga"
for row in "import @/huge.tga -o @/x.png|1|'@/huge.tga' is 30000 x 30000, 900000000 pixels, more than the limit of 268435456" \
  "convert @/huge.tga @/x.tga|1|more than the limit" "export @/big.png @/x.tga|1|more than the limit" \
  "export @/huge.png @/x.tga|1|'@/huge.png' is 100000 x 100000; a Targa file holds at most 65535 x 65535" \
  "export @/16k.png @/x.tga|1|'@/16k.png' claims 16000 x 16000 pixels, which no PNG file of " \
  "export --max-pixels 34 $dir/few.png @/x.tga|1|35 pixels, more than the limit of 34" \
  "export --max-pixels=35 --method 0 $dir/few.png @/x.tga|0|" "import --max-pixels=6143 $dir/sample-0.tga -o @/x.png|1|6144 pixels, more than the limit of 6143" \
  "import --max-pixels 0 @/12k.tga -o @/x.png|2|--max-pixels wants" \
  "import @/map16.tga -o @/x.png|1|the plug-in could not decode '@/map16.tga'" \
  "import @/16k.tga -o @/x.png|1|'@/16k.tga' holds 0 of 768,000,000 bytes of pixel data; the 768,000,000 missing" \
  "convert @/short.tga @/x.tga|0|'@/short.tga' holds 6 of 768 bytes of pixel data; the rest reads as white" \
  "export --max-missing=700 --method 0 @/short.tga @/x.tga|1|more than the limit of 700 (--max-missing" \
  "import @/rle.tga -o @/x.png|0|'@/rle.tga' holds at most 384 of 768 bytes of pixel data; the rest" \
  "import --max-missing=0 @/short.tga -o @/x.png|1|more than the limit of 0" \
  "import --max-missing -1 @/short.tga -o @/x.png|2|--max-missing wants a number of bytes, not '-1'" \
  "memory:export --max-pixels 1000000000 --method 0 @/big.png @/x.tga|1|tga-host export: not enough memory to read '@/big.png'" \
  "memory:import --max-missing 500000000 @/12k.tga -o @/x.png|1|the plug-in could not decode '@/12k.tga': not enough memory"; do
  IFS='|' read -r args want say <<<"${row//@/$e}"
  limit=unlimited
  if [[ $args == memory:* ]]; then
    [ -n "$native" ] && (ulimit -v 300000 && exec "$host" --help) >/dev/null 2>&1 || continue
    limit=300000 args=${args#memory:}
  fi
  check "$args: exit $want" [ "$(status sh -c "ulimit -v $limit && exec \"\$0\" \"\$@\"" "$host" $args)" = "$want" ]
  [ -z "$say" ] || check "$args: says so" grep -qF -- "$say" "$dir/err.txt"
  rm -f "$e/x.tga" "$e/x.png"
done

# A 96 x 64 colour-mapped picture (one entry) in a 32 x 32 preview box: step 2.
{ printf '\0\1\1\0\0\1\0\30\0\0\0\0\140\0\100\0\10\40abc'; head -c 6144 /dev/zero; } >"$e/map96.tga"
check "import --preview 32x32 of 96 x 64: exit 0" [ "$(status "$host" import --preview 32x32 "$e/map96.tga" -o "$e/x.png")" = 0 ]
check "import --preview 32x32 of 96 x 64: 48 x 32, as delivered and as written" \
  grep -qF ": 48x32, delivered as 8-bit indexed, written as 24-bit RGB" "$dir/out.txt"

# Stores at once: each one's own store succeeds, so none fails; one that
# another changed right after says so.
for k in $(seq 12); do ("$host" method $((k % 6)) >/dev/null 2>"$dir/race-$k.txt"; echo $? >"$dir/race-$k.rc") & done
wait
check "12 stores at once: all exit 0" [ "$(cat "$dir"/race-*.rc | sort -u)" = 0 ]
said=$(cat "$dir"/race-*.txt | grep -v '^tga-host: method . was stored in .*, then changed by another program: it now holds method .$')
check "12 stores at once: none said to fail${said:+ (said: ${said//$'\n'/ | })}" [ -z "$said" ]

# options without --answer where nothing shows a window (natively the
# stand-in; under Wine with no display, its headless driver): exit 2.
if [ -z "${DISPLAY:-}" ]; then
  check "options, no screen: exit 2" [ "$(status timeout 60 "$host" options)" = 2 ]
  check "options, no screen: says so" grep -q "there is no screen to show the dialog on" "$dir/err.txt"
fi
# A plug-in that cannot be loaded: the system's words, and on Windows which
# Windows a plug-in of the other word size is built for.
check "missing plug-in: exit 1" [ "$(status "$host" --plugin "$e/none.tlp" about)" = 1 ]
check "missing plug-in: says so" grep -q "^tga-host: cannot load '$e/none.tlp': ." "$dir/err.txt"
if [ -z "$native" ]; then
  # A PE header of the other word size than tga-host.exe's own: its machine
  # field (0x14c x86, 0x8664 x86-64) follows the "PE\0\0" that the word at
  # offset 60 points to.
  pe=$(od -An -tu4 -j60 -N4 "$1" | tr -d ' ')
  if [ "$(od -An -tx1 -j$((pe + 4)) -N2 "$1" | tr -d ' ')" = 4c01 ]; then
    other='\144\206' other_name='64-bit Windows (x86-64)' this_name='a 32-bit program'
  else
    other='\114\1' other_name='32-bit Windows (x86)' this_name='a 64-bit program'
  fi
  { printf "MZ%58s\\100\\0\\0\\0PE\\0\\0$other" ''; head -c 300 /dev/zero; } | tr ' ' '\0' >"$e/other.tlp"
  check "other word size plug-in: exit 1" [ "$(status "$host" --plugin "$e/other.tlp" about)" = 1 ]
  check "other word size plug-in: says for which Windows" \
    grep -qF "(it is built for $other_name, and this tga-host is $this_name)" "$dir/err.txt"
fi

# info and import name a missing file as such, not as "not a Targa file".
check "info, missing file: exit 1" [ "$(status "$host" info "$e/none.tga" "$dir/sample-0.tga")" = 1 ]
check "info, missing file: says so" grep -q "none.tga: cannot read: " "$dir/out.txt"
check "info, missing file: the next file still told" grep -q "sample-0.tga: Targa file" "$dir/out.txt"
check "import, missing file: exit 1" [ "$(status "$host" import "$e/none.tga" -o "$e/x.png")" = 1 ]
check "import, missing file: says so" grep -q "cannot read '.*none.tga': " "$dir/err.txt"
check "import, PNG input: exit 1" [ "$(status "$host" import "$dir/few.png" -o "$e/x.png")" = 1 ]
png="not a Targa file but a PNG picture; 'tga-host export' makes a Targa file of it"
check "import, PNG input: says so" grep -qF "'$dir/few.png' is $png" "$dir/err.txt"
check "convert, PNG input: exit 1" [ "$(status "$host" convert "$dir/few.png" "$e/x.tga")" = 1 ]
check "convert, PNG input: says so" grep -qF "$png" "$dir/err.txt"
check "info, PNG input: exit 1" [ "$(status "$host" info "$dir/few.png")" = 1 ]
check "info, PNG input: the reason" grep -qxF "$dir/few.png: $png" "$dir/out.txt"

# ---- --help for every command.
[ -n "$native" ] && for cmd in about info import convert export method options; do
  check "$cmd --help: exit 0" [ "$(status "$host" "$cmd" --help)" = 0 ]
  check "$cmd --help: usage" grep -q "^usage: tga-host $cmd" "$dir/out.txt"
done
[ -n "$native" ] && check "tga-host --help lists export" sh -c "'$host' --help | grep -q '^  export '"

finish export
