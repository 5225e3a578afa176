#!/usr/bin/env bash
# small_fs.sh mount|unmount FOLDER
# A 64 KiB file system at FOLDER, where the failed-write tests of both
# platforms run out of space part-way through a write (Wine reaches it through
# drive Z:). The marker .small-fs tells the tests it is there. Mounting needs
# root, as CI has; elsewhere nothing is mounted and the tests say so.
# Never fails: a missing file system must not keep the other tests from running.
dir=$2
case $1 in
mount)
  mkdir -p "$dir"
  mountpoint -q "$dir" && umount -l "$dir"
  if mount -t tmpfs -o size=64k,mode=0777 tlp-small-fs "$dir" 2>/dev/null; then
    touch "$dir/.small-fs"
    echo "mounted a 64 KiB file system at $dir"
  else
    echo "cannot mount a file system at $dir (needs root): its failed-write rows are skipped"
  fi ;;
unmount)
  if mountpoint -q "$dir"; then umount "$dir" 2>/dev/null || umount -l "$dir"; fi
  rmdir "$dir" 2>/dev/null ;;
esac
exit 0
