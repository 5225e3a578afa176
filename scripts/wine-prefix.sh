#!/usr/bin/env bash
# Prepares the one WoW64 Wine prefix that runs both the 64- and 32-bit test
# programs: Japanese code page, headless window driver with X11 when a display
# is there, and the panel's font mapped onto an installed Japanese font.
# Sourced for its environment; creates the prefix once and marks it ready.
export WINEPREFIX=${TLP_WINEPREFIX:-$HOME/.cache/tlp-wine/prefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES="mscoree,mshtml="
export LANG=ja_JP.UTF-8 LC_ALL=ja_JP.UTF-8
WINE=/usr/lib/wine/wine64
WINESERVER=/usr/lib/wine/wineserver64

tlp_wine_prefix() {
  [ -f "$WINEPREFIX/.tlp-ready" ] && return 0
  echo "+ creating Wine prefix $WINEPREFIX (takes a few minutes once)"
  rm -rf "$WINEPREFIX"; mkdir -p "$(dirname "$WINEPREFIX")"
  WINEARCH=win64 $WINE wineboot -i </dev/null >"$WINEPREFIX.log" 2>&1
  $WINESERVER -w
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
  $WINE reg import "$reg" </dev/null >>"$WINEPREFIX.log" 2>&1
  $WINESERVER -w
  rm -f "$reg"
  touch "$WINEPREFIX/.tlp-ready"
}
