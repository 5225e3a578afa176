#!/usr/bin/env bash
# Installs what building and testing need: native toolchain pieces, the MinGW-w64
# cross compilers, Wine (64-bit and the i386 loader), qemu-user for 32-bit
# programs, and a Japanese locale and font so Wine runs with code page 932.
# Idempotent: a second run only checks.
set -euo pipefail

need=()
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(cmake g++ clang libclang-rt-14-dev libgtest-dev googletest libbenchmark-dev
      libpng-dev libstb-dev pkg-config python3 python3-pil
      wine wine64 wine32:i386 g++-mingw-w64-i686 g++-mingw-w64-x86-64
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 qemu-user-static locales fonts-ipafont-gothic
      xvfb x11-apps imagemagick fonts-wine)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "+ dpkg --add-architecture i386"
  dpkg --add-architecture i386
  updated=
else
  updated=1
fi
for p in "${pkgs[@]}"; do have "$p" || need+=("$p"); done
if [ ${#need[@]} -gt 0 ]; then
  echo "+ apt-get install ${need[*]}"
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -qq
  apt-get install -y -qq --no-install-recommends "${need[@]}" >/dev/null
fi

if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  echo "+ localedef ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# 32-bit ELF programs (Wine's i386 loader) run through qemu where the kernel
# cannot run them itself.
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
fi
if [ -e /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-i386 ]; then
  if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
    echo "+ register qemu-i386 with binfmt_misc"
    printf '%s' ':qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:/usr/bin/qemu-i386-static:F' \
      > /proc/sys/fs/binfmt_misc/register || true
  fi
fi
echo "machine ready"
