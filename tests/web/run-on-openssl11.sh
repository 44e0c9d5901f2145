#!/bin/bash
# run-on-openssl11.sh DIR TEST.mjs: a Node test with the service sealing on
# the libcrypto.so.1.1 under DIR (scripts/fetch-libssl11.sh puts it there).
# Exit 77 (skipped) when there is none.
set -u
lib=$(find "$1" -name libcrypto.so.1.1 2>/dev/null | head -n 1)
if [ -z "$lib" ]; then
  echo "no libcrypto.so.1.1 under $1 (scripts/fetch-libssl11.sh)" >&2
  exit 77
fi
VT_LIBCRYPTO=$lib exec "$(dirname "$0")/run-node-test.sh" "$2"
