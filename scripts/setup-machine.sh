#!/usr/bin/env bash
# Installs what building and testing need: native toolchain pieces (with the
# i386 libraries for the 32-bit fuzzers), the MinGW-w64 cross compilers, Wine
# (64-bit and the i386 loader), and a Japanese locale and font so Wine runs with
# code page 932. 32-bit programs run natively where the kernel can run i386
# code; only where it cannot, qemu-user is installed and registered for them.
# Idempotent: a second run only checks.
set -euo pipefail

source "$(dirname "${BASH_SOURCE[0]}")/apt.sh"
have() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q 'install ok installed'; }

pkgs=(cmake g++ clang libclang-rt-14-dev gcc-multilib g++-multilib lib32stdc++-12-dev libgtest-dev googletest libbenchmark-dev
      libpng-dev libstb-dev pkg-config python3 python3-pil
      wine wine64 wine32:i386 g++-mingw-w64-i686 g++-mingw-w64-x86-64
      binutils-mingw-w64-i686 binutils-mingw-w64-x86-64 locales fonts-ipafont-gothic
      xvfb x11-apps imagemagick fonts-wine acl attr gcovr)

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "+ dpkg --add-architecture i386"
  dpkg --add-architecture i386
  # The new architecture's lists are needed before any install.
  apt_update
fi
install_missing() {
  local need=() p
  for p in "$@"; do have "$p" || need+=("$p"); done
  [ ${#need[@]} -gt 0 ] || return 0
  echo "+ apt-get install ${need[*]}"
  apt_install "${need[@]}"
}
install_missing "${pkgs[@]}"

if ! locale -a 2>/dev/null | grep -qi '^ja_JP.utf8$'; then
  echo "+ localedef ja_JP.UTF-8"
  localedef -i ja_JP -f UTF-8 ja_JP.UTF-8
fi

# 32-bit ELF programs (Wine's i386 loader): does the kernel run them itself?
# Asked with every qemu-i386 entry of binfmt_misc switched off, as such an
# entry catches every i386 program. Where it does, the entry this script
# registered earlier goes; any other entry is put back as it was.
bf=/proc/sys/fs/binfmt_misc
if [ ! -e $bf/register ]; then
  mount -t binfmt_misc binfmt_misc $bf 2>/dev/null || true
fi
# An entry this script registered: for the qemu of either package.
ours() { grep -qxE 'interpreter /usr/bin/qemu-i386(-static)?' "$1"; }
switched=()
for e in $bf/qemu-i386*; do
  if [ -f "$e" ] && grep -qx enabled "$e"; then echo 0 >"$e" && switched+=("$e"); fi
done
native=0
/lib/ld-linux.so.2 --version >/dev/null 2>&1 && native=1
# TLP_I386=qemu: under qemu-user all the same, as on a machine whose kernel
# cannot run them (to see here what such a machine's CI sees).
[ "${TLP_I386:-}" = qemu ] && native=0
for e in $bf/qemu-i386*; do
  [ -f "$e" ] || continue
  if [ $native = 1 ] && ours "$e"; then
    echo "+ remove the qemu-i386 entry of binfmt_misc: the kernel runs i386 code itself"
    echo -1 >"$e" || true
  elif [[ " ${switched[*]} " == *" $e "* ]]; then
    echo 1 >"$e" || true
  fi
done
# Under qemu-user a 32-bit Wine program costs what qemu takes to start it:
# about a minute with bookworm's qemu 7.2, which cannot place Wine's
# reservations of the upper address space (Wine then halves them some 65,000
# times), a fifth of a second with qemu 10. The release's backports bring 10
# where the release has an older one; where they cannot be had, the older one
# still runs everything, slowly.
qemu_fast() {
  local v
  v=$("$1" --version 2>/dev/null | sed -nE '1s/.* version ([0-9]+)\..*/\1/p')
  [ "${v:-0}" -ge 10 ]
}
if [ $native = 0 ]; then
  qemu=/usr/bin/qemu-i386
  if ! qemu_fast $qemu; then
    codename=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
    backports=/etc/apt/sources.list.d/tlp-backports.sources
    if [ -n "$codename" ] && ! grep -rqs -- "$codename-backports" /etc/apt/sources.list /etc/apt/sources.list.d/; then
      uri=$(sed -nE 's,^URIs: *(http[^ ]*/debian)/?$,\1,p' /etc/apt/sources.list.d/debian.sources 2>/dev/null | head -n 1)
      echo "+ add $codename-backports to apt's sources (for qemu-user 10)"
      printf 'Types: deb\nURIs: %s\nSuites: %s-backports\nComponents: main\nSigned-By: /usr/share/keyrings/debian-archive-keyring.gpg\n' \
        "${uri:-http://deb.debian.org/debian}" "$codename" >"$backports"
      apt_update
    fi
    echo "+ apt-get install -t $codename-backports qemu-user"
    apt_install -t "$codename-backports" qemu-user || true
  fi
  if ! qemu_fast $qemu; then
    echo "qemu-user 10 could not be installed: 32-bit programs run under the release's own, about a minute each"
    install_missing qemu-user-static
    qemu=/usr/bin/qemu-i386-static
  fi
  # An entry of this script's for another qemu goes; one of somebody else's stays.
  for e in $bf/qemu-i386*; do
    if [ -f "$e" ] && ours "$e" && ! grep -qx "interpreter $qemu" "$e"; then
      echo -1 >"$e" || true
    fi
  done
  if [ -e $bf/register ] && ! ls $bf/qemu-i386* >/dev/null 2>&1; then
    echo "+ register $qemu for i386 programs with binfmt_misc"
    printf '%s' ":qemu-i386:M::\x7fELF\x01\x01\x01\x00\x00\x00\x00\x00\x00\x00\x00\x00\x02\x00\x03\x00:\xff\xff\xff\xff\xff\xfe\xfe\x00\xff\xff\xff\xff\xff\xff\xff\xff\xfe\xff\xff\xff:$qemu:F" \
      >$bf/register || true
  fi
fi
# CI's log says which way 32-bit programs run.
if ! /usr/lib/wine/wine --version >/dev/null 2>&1; then
  echo "32-bit programs: cannot run here (the kernel cannot run i386 code, no qemu-user)"
elif grep -qx enabled $bf/qemu-i386* 2>/dev/null; then
  why="the kernel cannot run i386 code"
  [ "${TLP_I386:-}" = qemu ] && why="TLP_I386=qemu"
  [ $native = 1 ] && why="an entry this script did not register; the kernel could run them itself"
  echo "32-bit programs: under qemu-user ($why): $(sed -n 's/^interpreter //p' $bf/qemu-i386* | head -n 1)"
else
  echo "32-bit programs: natively (the kernel runs i386 code)"
fi
echo "machine ready"
