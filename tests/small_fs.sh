#!/bin/sh
# small_fs.sh mount|unmount DIR: a 64 KiB file system in which the failed-write
# tests (native, and under Wine through drive Z:) run out of space part-way;
# the marker .small-fs tells them it is there. Mounting needs root; without it
# those cases are skipped. Never fails, so that the other tests still run.
mkdir -p "$2"
if mountpoint -q "$2"; then umount -l "$2"; fi
if [ "$1" = mount ]; then
  mount -t tmpfs -o size=64k tlp-small-fs "$2" 2>/dev/null && touch "$2/.small-fs"
else
  rmdir "$2"
fi
exit 0
