#!/usr/bin/env bash
# tga-host convert: byte-identical re-encoding of files the plug-in wrote,
# errors and exit statuses, and Ctrl-C stopping a write.
#   convert_test.sh TGA_HOST SAMPLES_PROGRAM WORK_DIR
set -u
host=$1
samples=$2
dir=$3
rm -rf "$dir" && mkdir -p "$dir" || exit 1
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"

"$samples" write "$dir" || { echo "FAIL: no samples"; exit 1; }

# Files the plug-in wrote come back byte for byte (kind 1 stays indexed).
for name in full24_7x5_padded full24_300x200 indexed8_13x9_256; do
  check "$name: exit 0" [ "$(status "$host" convert "$dir/$name.tga" "$dir/$name.out.tga")" = 0 ]
  check "$name: same bytes" cmp -s "$dir/$name.tga" "$dir/$name.out.tga"
done
check "16-bit input becomes 24-bit" [ "$(status "$host" convert "$dir/high16_11x6_padded.tga" "$dir/h.out.tga")" = 0 ]
check "16-bit: 18 + 11 x 6 x 3 bytes" [ "$(wc -c <"$dir/h.out.tga")" -eq $((18 + 11 * 6 * 3)) ]

check "--help: exit 0" [ "$(status "$host" convert --help)" = 0 ]
check "--help: usage" grep -q "usage: tga-host convert" "$dir/out.txt"
check "one path: exit 2" [ "$(status "$host" convert "$dir/full24_1x1.tga")" = 2 ]
check "unknown option: exit 2" [ "$(status "$host" convert --bogus a b)" = 2 ]
check "missing input: exit 1" [ "$(status "$host" convert "$dir/none.tga" "$dir/none.out.tga")" = 1 ]
check "missing input: says so" grep -q "cannot read" "$dir/err.txt"
check "missing input: no output" [ ! -e "$dir/none.out.tga" ]
check "unwritable output: exit 1" [ "$(status "$host" convert "$dir/full24_1x1.tga" "$dir/no/such/x.tga")" = 1 ]
check "unwritable output: says so" grep -q "cannot write" "$dir/err.txt"

ctrl_c_on_pipe "$dir" convert

finish convert
