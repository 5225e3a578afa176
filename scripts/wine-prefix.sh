#!/usr/bin/env bash
# Prepares the one WoW64 Wine prefix that runs both the 64- and 32-bit test
# programs: Japanese code page, headless window driver with X11 when a display
# is there, and the panel's font mapped onto an installed Japanese font.
# Sourced for its environment; creates the prefix once and marks it ready.
#
# The user's prefix ($TLP_WINE_TEMPLATE, ~/.cache/tlp-wine/prefix) is the one
# tga-host runs in by hand; it is made once (minutes) and is then the template
# the tests copy (seconds), so that nothing a test stores reaches it:
#   bash scripts/wine-prefix.sh copy DEST    a fresh copy of it in DEST
# With TLP_WINEPREFIX naming a copy, the programs run in that copy, made from
# the template if it is not there yet.
TLP_WINE_TEMPLATE=${TLP_WINE_TEMPLATE:-$HOME/.cache/tlp-wine/prefix}
export WINEPREFIX=${TLP_WINEPREFIX:-$TLP_WINE_TEMPLATE}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

# Makes the template once.
tlp_wine_template() {
  local WINEPREFIX=$TLP_WINE_TEMPLATE
  [ -f "$WINEPREFIX/.tlp-ready" ] && return 0
  echo "+ creating Wine prefix $WINEPREFIX (takes a few minutes once)"
  rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
  WINEPREFIX=$WINEPREFIX WINEARCH=win64 $WINE wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1
  WINEPREFIX=$WINEPREFIX $WINESERVER -w
  local reg; reg=$(mktemp --suffix=.reg)
  iconv -f UTF-8 -t UTF-16LE <<'REG' | { printf '\xff\xfe'; cat; } >"$reg"
Windows Registry Editor Version 5.00

[HKEY_CURRENT_USER\Software\Wine\Drivers]
"Graphics"="x11,null"

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"ＭＳ Ｐゴシック"="IPAPGothic"
"ＭＳ ゴシック"="IPAGothic"
"MS UI Gothic"="IPAPGothic"
REG
  WINEPREFIX=$WINEPREFIX $WINE reg import "$reg" </dev/null >>"$WINEPREFIX.log" 2>&1
  WINEPREFIX=$WINEPREFIX $WINESERVER -w
  rm -f "$reg"
  touch "$WINEPREFIX/.tlp-ready"
}

# A fresh copy of the template in $1, without the plug-in's stored setting:
# the tests start from what a new user has, whatever the user chose.
tlp_wine_prefix_copy() {
  local dest=$1
  tlp_wine_template || return 1
  # A server left running on the last copy would write its registry back
  # into the new one.
  [ -d "$dest" ] && WINEPREFIX=$dest $WINESERVER -k 2>/dev/null
  rm -rf "$dest" "$dest.tmp" && mkdir -p "$(dirname "$dest")" || return 1
  # The system folders' programs and libraries, nearly all of its 1.3 GB, are
  # only ever read by the programs run in it: linked, not copied.
  local system=(drive_c/windows/system32 drive_c/windows/syswow64 drive_c/windows/winsxs) d
  mkdir -p "$dest.tmp" &&
    tar -C "$TLP_WINE_TEMPLATE" "${system[@]/#/--exclude=./}" -cf - . | tar -C "$dest.tmp" -xf - || return 1
  for d in "${system[@]}"; do
    [ ! -d "$TLP_WINE_TEMPLATE/$d" ] || cp -al "$TLP_WINE_TEMPLATE/$d" "$dest.tmp/$d" || return 1
  done
  # Wine's user.reg: a section per key, ended by a blank line.
  awk 'index(tolower($0), "[software\\\\kadorix\\\\tolva\\\\plugin\\\\kadorix\\\\etarga]") == 1 { skip = 1 }
       skip && /^$/ { skip = 0; next }
       !skip' "$dest.tmp/user.reg" >"$dest.tmp/user.reg.new" &&
    mv "$dest.tmp/user.reg.new" "$dest.tmp/user.reg" || return 1
  # AUX is COM1, which Wine maps to the machine's first serial port: in the
  # tests it is /dev/null, so that writing a device name reaches no hardware.
  rm -f "$dest.tmp"/dosdevices/com[0-9]*
  printf '\n[Software\\\\Wine\\\\Ports]\n"COM1"="/dev/null"\n' >>"$dest.tmp/system.reg" &&
    mv "$dest.tmp" "$dest"
}

tlp_wine_prefix() {
  [ -f "$WINEPREFIX/.tlp-ready" ] && return 0
  if [ "$WINEPREFIX" = "$TLP_WINE_TEMPLATE" ]; then
    tlp_wine_template
  else
    tlp_wine_prefix_copy "$WINEPREFIX"
  fi
}

if [ "${BASH_SOURCE[0]}" = "$0" ]; then
  case "${1:-}" in
    copy) [ $# -eq 2 ] && tlp_wine_prefix_copy "$2" && exit 0; exit 1 ;;
    *) echo "usage: $0 copy DEST   (or source it)" >&2; exit 2 ;;
  esac
fi
