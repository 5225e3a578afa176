#!/usr/bin/env bash
# Sourced by the screenshot scripts: Windows programs drawing on a virtual X
# display, in a copy of the user's Wine prefix made as the tests make theirs
# (TLP_SHOT_PREFIX names another). The window driver is chosen when a prefix's server starts, so
# switching to the display means ending that server, and the project's own
# prefix may be busy with other runs.
#
# tlp_wine_display sets WINEPREFIX to the copy and DISPLAY to a display
# nobody else uses, and makes $work, a scratch folder; at exit the program in
# $host_pid, the prefix's server, the display and $work go.
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source "$here/wine-prefix.sh"

work= xvfb_pid= host_pid=
tlp_display_cleanup() {
  [ -n "$host_pid" ] && kill "$host_pid" 2>/dev/null || true
  $WINESERVER -k 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  [ -n "$work" ] && rm -rf "$work"
}

tlp_wine_display() {
  tlp_wine_prefix # the project's prefix, made once
  local shot=${TLP_SHOT_PREFIX:-$(dirname "$WINEPREFIX")/shot-prefix}
  # Its system folders linked as in the tests' copies: seconds, not 1.3 GB.
  if [ ! -f "$shot/.tlp-ready" ]; then
    echo "+ copying the Wine prefix to $shot (once)"
    tlp_wine_prefix_copy "$shot" || return 1
  fi
  export WINEPREFIX=$shot
  # There is no window manager on the display: Wine draws the title bar and
  # the frame itself, its buttons with the Marlett font of fonts-wine (copied
  # into a prefix when it is made; this one may be older than the package).
  $WINE reg add 'HKCU\Software\Wine\X11 Driver' /v Decorated /d N /f </dev/null >/dev/null 2>&1
  local marlett=/usr/share/wine/fonts/marlett.ttf
  [ -f "$marlett" ] && cp -n "$marlett" "$WINEPREFIX/drive_c/windows/Fonts/"

  local n=57
  while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
  export DISPLAY=:$n

  work=$(mktemp -d)
  trap tlp_display_cleanup EXIT
  $WINESERVER -k 2>/dev/null || true # a server left headless would keep the null driver
  Xvfb "$DISPLAY" -screen 0 640x480x24 -nolisten tcp </dev/null >"$work/xvfb.log" 2>&1 &
  xvfb_pid=$!
  for _ in $(seq 100); do [ -e "/tmp/.X11-unix/X$n" ] && break; sleep 0.1; done
  [ -e "/tmp/.X11-unix/X$n" ] || { echo "Xvfb did not start" >&2; cat "$work/xvfb.log" >&2; return 1; }
}

# Waits up to two minutes for the line of $1 (a Wine program's output file)
# that matches the sed expression $2, and prints what it selects; fails,
# showing that output, when the program ends first or the line never comes.
tlp_wait_for_line() {
  local found=
  for _ in $(seq 240); do
    # The program's redirection may not have made the file yet.
    found=$(tr -d '\r' 2>/dev/null <"$1" | sed -n "$2" | head -n 1)
    [ -n "$found" ] && { echo "$found"; return 0; }
    kill -0 "$host_pid" 2>/dev/null || break
    sleep 0.5
  done
  tr -d '\r' <"$1" >&2
  return 1
}
