#!/bin/bash
# Runs a test on a virtual X server with the xcb platform plugin.
if ! command -v xvfb-run >/dev/null 2>&1; then
  echo "xvfb-run not installed" >&2
  exit 77
fi
export QT_QPA_PLATFORM=xcb
exec xvfb-run -a -s "-screen 0 1280x1024x24" "$@"
