#!/usr/bin/env bash
# A successful write survives a power loss that comes right after it: an
# export over an existing Targa file, and a save of the settings store, leave
# after the crash either the old bytes whole or the new bytes whole, never an
# empty or a mixed file. Runs in a small ext4 image on a loop device, which is
# shut down without its journal being flushed, as a power loss leaves it.
#   power_loss_test.sh WORK_DIR TGA_HOST [WINE_RUNNER WIN32_TGA_HOST]
# The Wine row runs where WIN32_TGA_HOST (the 32-bit build's tga-host.exe)
# exists. Needs root, a loop device and mkfs.ext4; skipped (77) without.
set -u
dir=$1
host=$2
runner=${3:-}
winhost=${4:-}
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
skip() { echo "skipped: $*"; exit 77; }
[ "$(id -u)" = 0 ] || skip "mounting a file system image needs root"
[ -e /dev/loop-control ] || compgen -G '/dev/loop[0-9]*' >/dev/null || skip "no loop device"
command -v mkfs.ext4 >/dev/null || skip "no mkfs.ext4"
command -v python3 >/dev/null || skip "no python3 (for the shutdown ioctl)"
rm -rf "$dir" && mkdir -p "$dir/mnt" "$dir/ref" || exit 1
img=$dir/ext4.img
mnt=$dir/mnt
prefix=
. "$here/common.sh"

cleanup() {
  if mountpoint -q "$mnt"; then umount "$mnt" 2>/dev/null || umount -l "$mnt"; fi
  # mount -o loop detaches its device on unmount; one left over by a lazy
  # unmount or a failed mount goes here.
  losetup -j "$img" 2>/dev/null | cut -d: -f1 | xargs -r -n1 losetup -d 2>/dev/null
  rm -f "$img"
  if [ -n "$prefix" ] && [ -d "$prefix" ]; then
    (source "$(dirname "$runner")/wine-prefix.sh" && $WINESERVER -k) >/dev/null 2>&1
    # Wine's server keeps a folder per prefix, named by its device and inode.
    local server
    server=server-$(stat -c '%D %i' "$prefix" | awk '{ printf "%s-%x", $1, $2 }')
    rm -rf /tmp/.wine-"$(id -u)/$server" /tmp/wine-*/"$server"
    rm -rf "$prefix"
  fi
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# A fresh file system for each run. commit=60: the journal commits only when
# this test makes it (below), not on ext4's 5-second timer.
fresh() {
  if mountpoint -q "$mnt"; then umount "$mnt" || return 1; fi
  truncate -s 0 "$img" && truncate -s 64M "$img" && mkfs.ext4 -q -F -b 4096 "$img" &&
    mount -o loop,commit=60 "$img" "$mnt"
}

# The power loss. It comes after the journal's next commit (every 5 s by
# default, or as soon as any program fsyncs a file) and before the flusher
# writes the file's data (dirty pages wait 30 s): that commit is made here at
# once, by an fsync of a file of its own, and then the file system stops
# dead: EXT4_IOC_SHUTDOWN with EXT4_GOING_FLAGS_NOLOGFLUSH, so that nothing
# after the commit reaches the disk. Only what was made durable survives.
power_loss() {
  python3 - "$mnt" <<'EOF'
import fcntl, os, struct, sys
mnt = sys.argv[1]
fd = os.open(os.path.join(mnt, "bystander"), os.O_WRONLY | os.O_CREAT | os.O_APPEND, 0o644)
os.write(fd, b"x")
os.fsync(fd)
os.close(fd)
fd = os.open(mnt, os.O_RDONLY)
fcntl.ioctl(fd, 0x8004587D, struct.pack("I", 2))  # EXT4_IOC_SHUTDOWN, NOLOGFLUSH
os.close(fd)
EOF
}

fresh 2>"$dir/mount.txt" || skip "a loop-mounted ext4 image was refused: $(head -n1 "$dir/mount.txt")"
power_loss 2>"$dir/shutdown.txt" || skip "the ext4 shutdown ioctl was refused: $(tail -n1 "$dir/shutdown.txt")"
umount "$mnt" || exit 1

# OLD: what the file holds before the export; NEW: a different picture. Both
# 200 x 200 random pixels, 24-bit, top-down: 120,018 bytes, which ends
# part-way into a block.
for f in old new; do
  { printf '\0\0\2\0\0\0\0\0\0\0\0\0\310\0\310\0\30\40'; head -c 120000 /dev/urandom; } >"$dir/$f.tga"
done
# A store with another program's section beside ours, method 2 stored.
key='HKEY_CURRENT_USER\Software\KADORIX\Tolva\Plugin\KADORIX\ETarga'
printf 'Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\Software\\Other\\Viewer]\n"Zoom"=dword:00000003\n"Recent"="C:\\\\pictures\\\\a.tga"\n\n[%s]\n"TransformMethod"=dword:00000002\n' \
  "$key" >"$dir/old.reg"

# The bytes a write that completes leaves: the same commands outside the image.
mkdir -p "$dir/ref/config/Tolva" && cp "$dir/old.reg" "$dir/ref/config/Tolva/HKEY_CURRENT_USER.reg" &&
  chmod 600 "$dir/ref/config/Tolva/HKEY_CURRENT_USER.reg" &&
  XDG_CONFIG_HOME=$dir/ref/config "$host" method 4 >/dev/null &&
  cp "$dir/ref/config/Tolva/HKEY_CURRENT_USER.reg" "$dir/new.reg" &&
  "$host" export --method 0 "$dir/new.tga" "$dir/ref/out.tga" >/dev/null &&
  cp "$dir/ref/out.tga" "$dir/new-export.tga" || { echo "FAIL: the reference writes outside the image"; exit 1; }
differ() { ! cmp -s "$1" "$2"; }
check "the store's new bytes differ from its old" differ "$dir/old.reg" "$dir/new.reg"

# The 32-bit build under Wine, in a copy of the prefix of this test's own
# unless the run names one.
wine_why=
if [ -z "$winhost" ] || [ ! -f "$winhost" ]; then
  wine_why="the 32-bit tga-host.exe is not built${winhost:+ ($winhost)}"
elif [ -z "${TLP_WINEPREFIX:-}" ]; then
  prefix=$dir/wine-prefix
  export TLP_WINEPREFIX=$prefix
  bash "$(dirname "$runner")/wine-prefix.sh" copy "$prefix" >"$dir/wine-prefix.txt" 2>&1 ||
    wine_why="no Wine prefix could be made (see $dir/wine-prefix.txt)"
fi

# After the crash, as the next boot finds it: the journal replayed.
remount() {
  if ! umount "$mnt" 2>/dev/null; then
    # A Wine server of this test's prefix may still have the folder open.
    [ -z "$prefix" ] || (source "$(dirname "$runner")/wine-prefix.sh" && $WINESERVER -k) >/dev/null 2>&1
    umount "$mnt" || return 1
  fi
  mount -o loop "$img" "$mnt"
}
whole() { [ "$1" = old ] || [ "$1" = new ]; }
# What a file holds, against the old and the new bytes.
verdict() { # file old new
  if [ ! -e "$1" ]; then echo "missing"
  elif cmp -s "$1" "$2"; then echo "old"
  elif cmp -s "$1" "$3"; then echo "new"
  elif [ ! -s "$1" ]; then echo "0 bytes"
  else echo "mixed ($(wc -c <"$1") bytes, neither the old nor the new)"
  fi
}

# what | how it is written | what is there first
#   export: tga-host export of NEW over out.tga; wine: the same under Wine;
#   method: tga-host method 4 into the store.
#   plain: out.tga alone (replaced by a rename); link: out.tga with a second
#   name (written in place); store: the store above.
rows=(
  "plain file (rename)|export|plain"
  "file with a second hard link (in place)|export|link"
  "plain file, 32-bit build under Wine|wine|plain"
  "settings store with another section|method|store"
)
runs=3
start=$SECONDS
for row in "${rows[@]}"; do
  IFS='|' read -r what how first <<<"$row"
  if [ "$how" = wine ] && [ -n "$wine_why" ]; then
    echo "skipped row: $what: $wine_why"
    continue
  fi
  target=$mnt/out.tga old=$dir/old.tga new=$dir/new-export.tga
  [ "$first" = store ] && target=$mnt/config/Tolva/HKEY_CURRENT_USER.reg old=$dir/old.reg new=$dir/new.reg
  for run in $(seq "$runs"); do
    name="$what, run $run"
    fresh || { fail "$name: the image could not be made and mounted"; continue; }
    mkdir -p "$(dirname "$target")" && cp "$old" "$target" || exit 1
    case $first in
    link) ln "$target" "$mnt/second.tga" ;;
    store) chmod 600 "$target" ;;
    esac
    sync -f "$mnt"
    case $how in
    export) "$host" export --method 0 "$dir/new.tga" "$target" >"$dir/out.txt" 2>&1 ;;
    wine) "$runner" "$winhost" export --method 0 "$dir/new.tga" "$target" >"$dir/out.txt" 2>&1 ;;
    method) XDG_CONFIG_HOME=$mnt/config "$host" method 4 >"$dir/out.txt" 2>&1 ;;
    esac
    rc=$?
    t0=$(date +%s%N)
    power_loss
    shut=$?
    ms=$((($(date +%s%N) - t0) / 1000000))
    check "$name: the write succeeds" [ "$rc" = 0 ]
    check "$name: the file system is shut down" [ "$shut" = 0 ]
    [ "$rc" = 0 ] || cat "$dir/out.txt"
    remount || { fail "$name: the image could not be mounted again"; continue; }
    got=$(verdict "$target" "$old" "$new")
    check "$name: after the power loss (${ms} ms after the write), the old or the new bytes whole: $got" \
      whole "$got"
  done
done
umount "$mnt"
echo "power-loss rows took $((SECONDS - start)) s"
finish power-loss
