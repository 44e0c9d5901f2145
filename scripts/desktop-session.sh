#!/bin/bash
# Sourced by run.sh: makes sure the program finds an X display with a system
# tray. Inside a desktop session nothing happens; without one (a server, a
# container, CI) it starts a virtual X server (Xvfb) and trayer as tray host
# and exports DISPLAY. vt_desktop_session_stop ends what was started here.

vt_desktop_pids=()

vt_desktop_session_stop() {
  local p
  for p in "${vt_desktop_pids[@]}"; do
    kill "$p" 2>/dev/null
  done
  vt_desktop_pids=()
}

vt_desktop_session_start() {
  if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
    return 0
  fi
  local tool
  for tool in Xvfb trayer xwininfo; do
    if ! command -v "$tool" >/dev/null; then
      echo "desktop-session: no desktop session and $tool is missing (bash scripts/setup-deps.sh)" >&2
      return 1
    fi
  done
  # Xvfb picks a free display and writes its number once it accepts clients.
  local numfile deadline
  numfile=$(mktemp)
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$numfile" 2>/dev/null &
  vt_desktop_pids+=($!)
  deadline=$((SECONDS + 30))
  until [ -s "$numfile" ]; do
    if [ $SECONDS -ge $deadline ] || ! kill -0 "${vt_desktop_pids[0]}" 2>/dev/null; then
      echo "desktop-session: Xvfb did not start" >&2
      rm -f "$numfile"
      vt_desktop_session_stop
      return 1
    fi
    sleep 0.1
  done
  local num
  num=$(tr -d '[:space:]' <"$numfile")
  export DISPLAY=":$num"
  rm -f "$numfile"

  trayer --edge top --align right --widthtype pixel --width 160 --heighttype pixel --height 32 \
    --SetDockType false >/dev/null 2>&1 &
  vt_desktop_pids+=($!)
  deadline=$((SECONDS + 20))
  until xwininfo -root -tree 2>/dev/null | grep -q '("panel" "trayer")'; do
    if [ $SECONDS -ge $deadline ]; then
      echo "desktop-session: trayer did not show its panel" >&2
      vt_desktop_session_stop
      return 1
    fi
    sleep 0.1
  done
  echo "desktop-session: no desktop session; started Xvfb on $DISPLAY with trayer as system tray" >&2
  echo "desktop-session: look at it with: DISPLAY=$DISPLAY import -window root tray.png" >&2
}

vt_desktop_session_start
