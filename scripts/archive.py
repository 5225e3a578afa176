#!/usr/bin/env python3
"""Packs a folder into a ZIP or gzipped tarball that is the same, byte for
byte, wherever and whenever it is made from the same files.

    scripts/archive.py OUT.zip|OUT.tar.gz FOLDER

The entries go in sorted order under FOLDER's name, every one dated
SOURCE_DATE_EPOCH (required), owned by 0:0 with no owner names, mode 0755
for folders and programs and 0644 for the rest: nothing of the machine, the
user, the umask or the time of the build reaches the archive.
"""
import gzip
import os
import stat
import sys
import tarfile
import time
import zipfile


def entries(folder):
    """(path inside the archive, path on disk), names sorted byte-wise, so
    that a folder comes before what it holds."""
    top = os.path.basename(os.path.normpath(folder))
    found = [(top, folder)]
    for here, dirs, files in os.walk(folder):
        for name in dirs + files:
            path = os.path.join(here, name)
            found.append((os.path.join(top, os.path.relpath(path, folder)), path))
    return sorted(found, key=lambda e: e[0].encode())


def mode_of(path):
    st = os.lstat(path)
    if stat.S_ISLNK(st.st_mode):
        raise SystemExit(f"archive.py: {path} is a link; the packages hold files only")
    return 0o755 if stat.S_ISDIR(st.st_mode) or st.st_mode & 0o111 else 0o644


def write_zip(out, folder, epoch):
    # ZIP dates are local times from 1980 on, two seconds apart.
    date = time.gmtime(max(epoch, 315532800))[:6]
    with zipfile.ZipFile(out, "w") as z:
        for name, path in entries(folder):
            is_dir = os.path.isdir(path)
            info = zipfile.ZipInfo(name + ("/" if is_dir else ""), date)
            info.create_system = 3  # Unix: the mode below counts
            info.external_attr = ((stat.S_IFDIR if is_dir else stat.S_IFREG) | mode_of(path)) << 16
            if is_dir:
                z.writestr(info, b"")
            else:
                info.compress_type = zipfile.ZIP_DEFLATED
                with open(path, "rb") as f:
                    z.writestr(info, f.read(), compresslevel=9)


def write_tgz(out, folder, epoch):
    with open(out, "wb") as raw, gzip.GzipFile(filename="", mode="wb", fileobj=raw, mtime=epoch,
                                               compresslevel=9) as gz, \
            tarfile.open(fileobj=gz, mode="w", format=tarfile.USTAR_FORMAT) as tar:
        for name, path in entries(folder):
            info = tar.gettarinfo(path, name)
            info.mode = mode_of(path)
            info.mtime = epoch
            info.uid = info.gid = 0
            info.uname = info.gname = ""
            if info.isfile():
                with open(path, "rb") as f:
                    tar.addfile(info, f)
            else:
                tar.addfile(info)


def main():
    if len(sys.argv) != 3:
        raise SystemExit("usage: archive.py OUT.zip|OUT.tar.gz FOLDER")
    out, folder = sys.argv[1], sys.argv[2]
    epoch = os.environ.get("SOURCE_DATE_EPOCH", "")
    if not epoch.isdigit():
        raise SystemExit("archive.py: SOURCE_DATE_EPOCH must hold the time of the sources, in seconds")
    write = write_zip if out.endswith(".zip") else write_tgz if out.endswith(".tar.gz") else None
    if write is None:
        raise SystemExit(f"archive.py: {out}: the name must end in .zip or .tar.gz")
    # A package is replaced only once it is whole.
    part = out + ".part"
    write(part, folder, int(epoch))
    os.replace(part, out)


if __name__ == "__main__":
    main()
