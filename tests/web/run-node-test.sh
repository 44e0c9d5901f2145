#!/bin/bash
# Runs one Node test file of the web kit with WebSocket support.
# Exit 77 (skipped) when Node 20 or newer is missing.
set -u
if ! command -v node >/dev/null; then
  echo "node not installed" >&2
  exit 77
fi
major=$(node -p 'process.versions.node.split(".")[0]')
if [ "$major" -lt 20 ]; then
  echo "node $major is too old (20 or newer needed)" >&2
  exit 77
fi
flags=()
node --experimental-websocket -e '' 2>/dev/null && [ "$major" -lt 22 ] && flags+=(--experimental-websocket)
exec node "${flags[@]}" --no-warnings "$@"
