#!/bin/bash
# Runs one Node test file of the web kit (through run-node-test.sh) in a mount
# namespace of its own in which /etc/chromium and /etc/xdg are scratch
# folders under $VT_SCRATCH_ROOT/etc: the browser policies and system-wide
# settings a test writes there stay out of the real /etc, and go with the
# folder afterwards. Exit 77 (skipped) without root, unshare or /etc/chromium.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
  echo "needs root and unshare for a mount namespace of its own" >&2
  exit 77
fi
if [ ! -d /etc/chromium ] || [ ! -d /etc/xdg ]; then
  echo "/etc/chromium or /etc/xdg missing (Debian's chromium not installed?)" >&2
  exit 77
fi
root=$(mktemp -d /tmp/vtweb-etc-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/etc/chromium" "$root/etc/xdg"
cp -a /etc/chromium/. "$root/etc/chromium/"
export VT_SCRATCH_ROOT="$root"
unshare --mount --propagation private sh -c \
  'mount --bind "$VT_SCRATCH_ROOT/etc/chromium" /etc/chromium && mount --bind "$VT_SCRATCH_ROOT/etc/xdg" /etc/xdg && exec "$@"' \
  sh "$here/run-node-test.sh" "$@"
