#!/bin/bash
# Sets up, builds and starts vtinkhost, ready to sign from a browser:
#  - installs the Debian packages, builds the program, its libraries and vtinkpad;
#  - without a desktop session, starts Xvfb with a system tray first;
#  - starts vtinkhost under vtinkpad with a virtual Q210 (a real pad when one
#    is attached) and serves the demo page on a free port of localhost.
# Ctrl+C stops everything. MODEL=q220 (q230f, qt410, m420) picks another virtual pad.
set -euo pipefail

# vtinkhost refuses to start while any command line holds its name, this
# script's included: run from the checkout by a relative name.
case "$0" in
  *vtinkhost*)
    cd "$(dirname "$0")/.."
    exec bash scripts/run.sh "$@"
    ;;
esac
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD:-build}
MODEL=${MODEL:-q210}

bash scripts/setup-deps.sh
cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$BUILD" -j"${JOBS:-2}" --target vtinkhost vtinksdk vtinkdrv vtinkpad

# shellcheck source=desktop-session.sh
source scripts/desktop-session.sh
trap 'vt_desktop_session_stop' EXIT

# A real pad on USB (the pads' two vendor ids) is used instead of the virtual one.
real_pad=""
for v in /sys/bus/usb/devices/*/idVendor; do
  [ -e "$v" ] || continue
  case "$(cat "$v")" in 3a5d|3a5e) real_pad="$(cat "$(dirname "$v")/product" 2>/dev/null || echo "a pad")" ;; esac
done
if [ -n "$real_pad" ]; then
  pad_args=(--model none)
else
  pad_args=(--model "$MODEL")
fi

# The page talks to the port in the user's settings (6089 unless changed).
conf="${XDG_CONFIG_HOME:-$HOME/.config}/vtinkhost/vtinkhost.conf"
ws_port=$( (sed -n 's/^WebSocketPort=\([0-9]\+\).*/\1/p' "$conf" 2>/dev/null || true) | tail -1)
ws_port=${ws_port:-6089}

if others=$(pgrep -af vtinkhost); then
  echo "run: warning: these command lines hold \"vtinkhost\", so vtinkhost will take itself for a second copy and quit:" >&2
  echo "$others" | cut -c1-160 >&2
fi

port_file=$(mktemp)
cd "$BUILD/bin"
./vtinkpad "${pad_args[@]}" --port-file "$port_file" --serve "$ROOT/web" -- ./vtinkhost &
pad_pid=$!
trap 'kill $pad_pid 2>/dev/null; wait $pad_pid 2>/dev/null; rm -f "$port_file"; vt_desktop_session_stop' EXIT
trap 'exit 130' INT TERM

deadline=$((SECONDS + 30))
until [ -s "$port_file" ]; do
  if [ $SECONDS -ge $deadline ] || ! kill -0 $pad_pid 2>/dev/null; then
    echo "run: vtinkpad did not start" >&2
    exit 1
  fi
  sleep 0.1
done
web_port=$(cat "$port_file")
url="http://localhost:$web_port/demo/"
[ "$ws_port" = 6089 ] || url="$url?ws=ws://localhost:$ws_port"

cat <<EOF

  vtinkhost is starting (it waits for the system tray, then listens on ws://localhost:$ws_port).

  Open the demo page:   $url

EOF
if [ -n "$real_pad" ]; then
  cat <<EOF
  Real pad found ($real_pad): choose its model, press "Open" and sign on the pad;
  touch its confirm key to finish, its cancel key to start again.
EOF
else
  cat <<EOF
  A virtual ${MODEL^^} is plugged in. Press "Open", then in "Virtual signer" click
  "Sign as ..." (or "Scribble") and watch the signature appear; "Touch confirm"
  finishes it, "Touch cancel" starts again.
  Scripts can drive the virtual pad too:
    curl -X POST -d '{"name":"anna-berg"}' http://127.0.0.1:$web_port/pad/replay
    curl -X POST http://127.0.0.1:$web_port/pad/confirm
EOF
fi
cat <<EOF

  Ctrl+C stops vtinkhost.

EOF
set +e
wait $pad_pid
code=$?
if [ $code = 1 ]; then
  echo "run: vtinkhost ended with code 1: it does so when another process's command line holds" >&2
  echo "     \"vtinkhost\" (a running copy, an editor on one of its files): pgrep -af vtinkhost" >&2
fi
exit $code
