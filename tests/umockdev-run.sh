#!/bin/bash
# Runs a test program with the umockdev preload, so that libusb in it (or in
# the programs it starts) reaches the emulated pads. Under a sanitizer its
# runtime has to come first in LD_PRELOAD.
set -e
pre="libumockdev-preload.so.0"
case "${VT_SANITIZE:-}" in
  *address*) pre="$(gcc -print-file-name=libasan.so):$pre" ;;
  *thread*)  pre="$(gcc -print-file-name=libtsan.so):$pre" ;;
esac
if [ -z "$(ldconfig -p | grep libumockdev-preload.so.0)" ]; then
  echo "umockdev preload not installed" >&2
  exit 77
fi
export LD_PRELOAD="$pre${LD_PRELOAD:+:$LD_PRELOAD}"
exec "$@"
