#!/usr/bin/env bash
# tga-host output safety, natively and under Wine: OUT changes only when a
# write succeeds, whatever stops or fails it, and nothing is left beside it;
# links, folders, pipes; messages give the system's reason.
#   output_test.sh native|wine WORK_DIR HOST [ARGS...]
set -u
mode=$1
dir=$2
shift 2
host=("$@")
rm -rf "$dir" && mkdir -p "$dir/o" || exit 1
o=$dir/o
. "$(dirname "${BASH_SOURCE[0]}")/common.sh"
# Both streams in one file here.
status() {
  "$@" >"$dir/out.txt" 2>&1
  echo $? | tee "$dir/status.txt"
}
# 512 KB, with the signal that would end the program ignored, as a shell's
# `trap '' XFSZ` passes on to what it runs. The limit is the program's own:
# a coverage build writes its counts as it ends, which a limit below their
# size would cut short, spoiling them for every later run.
limited() { (trap '' XFSZ && ulimit -f 512 && exec "$@"); }

# IN: 200 x 200 random pixels, 24-bit, top-down, which the plug-in writes back byte for
# byte; OLD: 1 x 1, what OUT holds before each case; BIG: 900 x 900 random
# pixels, more than the file-size limit in any form.
{ printf '\0\0\2\0\0\0\0\0\0\0\0\0\310\0\310\0\30\40'; head -c 120000 /dev/urandom; } >"$dir/in.tga"
{ printf '\0\0\2\0\0\0\0\0\0\0\0\0\204\3\204\3\30\40'; head -c 2430000 /dev/urandom; } >"$dir/big.tga"
printf '\0\0\2\0\0\0\0\0\0\0\0\0\1\0\1\0\30\40abc' >"$dir/old.tga"
# A file system that is full after 64 KB, where one can be mounted.
full=$dir/full
mkdir -p "$full" && mount -t tmpfs -o size=64k tmpfs "$full" 2>/dev/null || full=
trap '[ -n "$full" ] && umount "$full"' EXIT

# what | exit | message | OUT afterwards: old, or new (= IN) | arguments,
# where @IN is IN, @BIG is BIG and @D is the folder of OUT (@D/out.tga, and
# @D/out.png, which only import may change). "full:" rows run in the full
# file system, "read-only:" rows with OUT read-only (which does not stop root
# natively), "wine:" rows under Wine only (Windows devices).
# Under Wine the kernel's "File too large" reaches a Windows program as
# another error, whose words are Wine's: only the file is checked there.
fbig=$([ "$mode" = native ] && echo "File too large")
rows=(
  "convert replaces OUT|0|200 x 200|new|convert @IN @D/out.tga"
  "export replaces OUT|0|200 x 200|new|export --method 0 @IN @D/out.tga"
  "export stopped|130|'@D/out.tga' is as it was|old|export --method 0 --stop-at-row 5 @IN @D/out.tga"
  "export into itself, stopped|130|is as it was|old|export --method 0 --stop-at-row 1 @D/out.tga @D/out.tga"
  "stopped, partial kept|130|'@D/out.partial.tga' keeps what was written|old|export --method 0 --stop-at-row 5 --keep-partial @IN @D/out.tga"
  "OUT a folder|1|cannot write '@D': it is a folder|old|convert @IN @D"
  "import, OUT a folder|1|cannot write '@D': it is a folder|old|import @IN -o @D"
  "OUT in a missing folder|1|cannot write '@D/no/x.tga': No such file or directory|old|convert @IN @D/no/x.tga"
  "file-size limit, export|1|cannot write '@D/out.tga': $fbig|old|limited export --method 4 @BIG @D/out.tga"
  "file-size limit, convert|1|cannot write '@D/out.tga': $fbig|old|limited convert @BIG @D/out.tga"
  "file-size limit, import|1|cannot write '@D/out.png': $fbig|old|limited import @BIG -o @D/out.png"
  "full:full disk, export|1|cannot write '@D/out.tga': No space left on device|old|export --method 0 @IN @D/out.tga"
  "full:full disk, import|1|cannot write '@D/out.png': No space left on device|old|import @IN -o @D/out.png"
  "read-only:OUT read-only|1|cannot write '@D/out.tga': Permission denied|old|convert @IN @D/out.tga"
  "wine:device NUL|0|NUL: 200 x 200|old|convert @IN NUL"
  "wine:device nul.tga in OUT's folder|0|@D/nul.tga: 200 x 200|old|export --method 0 @IN @D/nul.tga"
  "wine:device aux.tga|0|aux.tga: 200 x 200|old|convert @IN aux.tga"
  "wine:path over 260 characters|1|File name too long|old|convert @IN @D/$(printf 'n%.0s' $(seq 251)).tga"
)
if [ "$mode" = wine ]; then
  # The file-size limit is for the program: Wine's server, which a limited
  # run would otherwise start, runs outside it (and ends a minute after).
  (source "$(dirname "${host[0]}")/wine-prefix.sh" && $WINESERVER -p 60) </dev/null >/dev/null 2>&1
fi
for row in "${rows[@]}"; do
  IFS='|' read -r what want say after args <<<"$row"
  o=$dir/o
  case $what in
  full:*) [ -n "$full" ] || continue; o=$full ;;
  read-only:*) [ "$mode" = wine ] || [ "$(id -u)" != 0 ] || continue ;;
  wine:*) [ "$mode" = wine ] || continue ;;
  esac
  rm -rf "${o:?}"/* && cp "$dir/old.tga" "$o/out.tga" && cp "$dir/old.tga" "$o/out.png"
  [[ $what == read-only:* ]] && chmod a-w "$o/out.tga"
  what=${what#*:}
  args=${args//@IN/$dir/in.tga} args=${args//@BIG/$dir/big.tga}
  read -ra argv <<<"${args//@D/$o}"
  say=${say//@D/$o}
  run=("${host[@]}")
  [ "${argv[0]}" = limited ] && run=(limited "${host[@]}") && argv=("${argv[@]:1}")
  check "$what: exit $want" [ "$(status "${run[@]}" "${argv[@]}")" = "$want" ]
  check "$what: says \"$say\"" grep -qF "$say" "$dir/out.txt"
  check "$what: OUT $after" cmp -s "$o/out.tga" "$dir/$([ "$after" = new ] && echo in || echo old).tga"
  check "$what: the PNG OUT as it was" cmp -s "$o/out.png" "$dir/old.tga"
  left=$(cd "$o" && ls | grep -v '^out\.\(tga\|png\)$' | tr '\n' ' ')
  if [[ $say == *partial* ]]; then
    left=${left/out.partial.tga /}
    check "$what: header and 4 rows kept" [ "$(wc -c <"$o/out.partial.tga")" -eq $((18 + 4 * 600)) ]
  fi
  check "$what: nothing else left${left:+ ($left)}" [ -z "$left" ]
done

# A legal name of 255 bytes: the temporary file's name is cut short to fit,
# not OUT's.
o=$dir/o
long=$(printf 'n%.0s' $(seq 251)).tga
rm -f "$o"/*
check "OUT of 255 bytes: exit 0" [ "$(cd "$o" && status "${host[@]}" convert "$dir/in.tga" "$long")" = 0 ]
check "OUT of 255 bytes: written" cmp -s "$o/$long" "$dir/in.tga"
check "OUT of 255 bytes: nothing else left" [ "$(ls "$o")" = "$long" ]

# A kept partial file of a name whose Shift-JIS form has a second byte 0x5C
# (the character for "table" is 95 5C) takes ".partial" before the extension.
rm -f "$o"/*
check "partial of a 0x5C name: exit 130" [ "$(cd "$o" && status "${host[@]}" export --method 0 \
  --stop-at-row 3 --keep-partial "$dir/in.tga" 表.tga)" = 130 ]
check "partial of a 0x5C name: kept as 表.partial.tga" [ "$(ls "$o")" = 表.partial.tga ]

if [ "$mode" = wine ]; then
  # OUT open in another program, which lets nobody replace it: cmd's
  # redirection holds it until its ping is ended, however long tga-host takes
  # to start (HOST is the runner, then tga-host).
  rm -f "$o"/*
  (cd "$o" && "${host[0]}" cmd /c "ping -n 600 127.0.0.1 >out.tga" >/dev/null 2>&1) &
  holder=$!
  for _ in $(seq 40); do [ -e "$o/out.tga" ] && break; sleep 0.25; done
  check "OUT in use: exit 1" [ "$(status "${host[@]}" convert "$dir/in.tga" "$o/out.tga")" = 1 ]
  check "OUT in use: says so" grep -qF "cannot write '$o/out.tga': it is in use by another program" "$dir/out.txt"
  "${host[0]}" taskkill /f /im ping.exe >/dev/null 2>&1
  wait "$holder"
  check "OUT in use: nothing else left" [ "$(ls "$o")" = out.tga ]
fi

# A link keeps pointing where it pointed; the file it names is replaced.
o=$dir/o
rm -f "$o"/* && cp "$dir/old.tga" "$o/out.tga" && ln -s out.tga "$o/link.tga"
check "through a link: exit 0" [ "$(status "${host[@]}" convert "$dir/in.tga" "$o/link.tga")" = 0 ]
check "through a link: still a link" [ -L "$o/link.tga" ]
check "through a link: its target replaced" cmp -s "$o/out.tga" "$dir/in.tga"

# A link into another folder, to a private file with an ACL entry and a user
# attribute: the link stays, its target takes the bytes and keeps every fact
# (under Wine too, where a Unix link looks like a plain file).
rm -rf "${o:?}"/* && mkdir "$o/a" "$o/b" && cp "$dir/old.tga" "$o/b/t.tga" && chmod 600 "$o/b/t.tga"
ln -s ../b/t.tga "$o/a/l.tga"
acl= && setfacl -m u:65534:r "$o/b/t.tga" 2>/dev/null && acl=1
attr= && setfattr -n user.tlp -v kept "$o/b/t.tga" 2>/dev/null && attr=1
facts=$(stat -c '%a %u %g' "$o/b/t.tga")
check "link to a private file: exit 0" [ "$(status "${host[@]}" convert "$dir/in.tga" "$o/a/l.tga")" = 0 ]
check "link to a private file: still a link" [ -L "$o/a/l.tga" ]
check "link to a private file: its target written" cmp -s "$o/b/t.tga" "$dir/in.tga"
check "link to a private file: mode, owner and group kept" [ "$(stat -c '%a %u %g' "$o/b/t.tga")" = "$facts" ]
[ -z "$acl" ] || check "link to a private file: ACL entry kept" \
  sh -c "getfacl -pn '$o/b/t.tga' 2>/dev/null | grep -q '^user:65534:r--'"
[ -z "$attr" ] || check "link to a private file: attribute kept" \
  [ "$(getfattr --only-values -n user.tlp "$o/b/t.tga" 2>/dev/null)" = kept ]
check "link to a private file: nothing else left" [ "$(ls "$o/a" "$o/b" | tr '\n' ' ')" = "$o/a: l.tga  $o/b: t.tga " ]

if [ "$mode" = native ]; then
  # A pipe that nobody reads is refused at once, and stays; one with a
  # reader gets every byte; an input pipe makes no command wait for ever.
  mkfifo "$o/pipe"
  check "pipe with no reader: exit 1" [ "$(status timeout 10 "${host[@]}" convert "$dir/in.tga" "$o/pipe")" = 1 ]
  check "pipe with no reader: says so" grep -qF "cannot write '$o/pipe': No such device or address" "$dir/out.txt"
  check "pipe with no reader: the pipe stays" [ -p "$o/pipe" ]
  # The pipe has a reader before the write starts (a reader started in the
  # background may not have opened it yet): this shell's own, opened both
  # ways so that the open does not wait, and closed once the write is done,
  # when the file, larger than a pipe holds, has made cat open it and read.
  exec 3<>"$o/pipe"
  timeout 20 cat "$o/pipe" >"$dir/read.tga" 3<&- &
  check "pipe with a reader: exit 0" [ "$(status timeout 10 "${host[@]}" convert "$dir/in.tga" "$o/pipe")" = 0 ]
  exec 3<&-
  wait
  check "pipe with a reader: every byte" cmp -s "$dir/read.tga" "$dir/in.tga"
  for cmd in "info @P" "import @P -o @D/x.png" "export @P @D/x.tga" "convert @P @D/x.tga"; do
    cmd=${cmd//@P/$o/pipe}
    read -ra argv <<<"${cmd//@D/$o}"
    check "input pipe, ${argv[0]}: exit 1" [ "$(status timeout 10 "${host[@]}" "${argv[@]}")" = 1 ]
    check "input pipe, ${argv[0]}: says so" grep -q "'*$o/pipe'*: .*not a regular file" "$dir/out.txt"
  done
fi

# Under Wine the copies of files written in place live in a folder of the
# user's temporary folder that only the user may enter; the rows above have
# written in place through it.
if [ "$mode" = wine ] && [ -n "${TLP_WINEPREFIX:-}" ]; then
  for copies in "$TLP_WINEPREFIX"/drive_c/users/*/Temp/"Targa plug-in"; do
    check "the copies' folder: mode 0700" [ "$(stat -c %a "$copies")" = 700 ]
  done
fi

finish output
