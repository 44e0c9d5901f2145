#!/bin/bash
# Runs one Node test file of the web kit (through run-node-test.sh) in a mount
# namespace of its own whose /etc is an overlay: what the test writes under
# /etc (a browser's policy file) lands in $VT_SCRATCH_ROOT/upper and goes with
# it afterwards; the real /etc is never changed. Exit 77 (skipped) without
# root, unshare or overlay mounts.
set -u
here="$(cd "$(dirname "$0")" && pwd)"
if [ "$(id -u)" != 0 ] || ! command -v unshare >/dev/null; then
  echo "needs root and unshare for a mount namespace of its own" >&2
  exit 77
fi
root=$(mktemp -d /tmp/vtweb-etc-XXXXXX)
trap 'rm -rf "$root"' EXIT
mkdir -p "$root/upper" "$root/work"
export VT_SCRATCH_ROOT="$root"
if ! unshare --mount --propagation private sh -c \
  'mount -t overlay overlay -o "lowerdir=/etc,upperdir=$VT_SCRATCH_ROOT/upper,workdir=$VT_SCRATCH_ROOT/work" /etc' 2>/dev/null; then
  echo "no overlay mounts here" >&2
  exit 77
fi
unshare --mount --propagation private sh -c \
  'mount -t overlay overlay -o "lowerdir=/etc,upperdir=$VT_SCRATCH_ROOT/upper,workdir=$VT_SCRATCH_ROOT/work" /etc && exec "$@"' \
  sh "$here/run-node-test.sh" "$@"
