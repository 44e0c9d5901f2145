#!/bin/bash
# Runs a test program with the umockdev preload, so that libusb in it (or in
# the programs it starts) reaches the emulated pads. Under a sanitizer its
# runtime has to come first in LD_PRELOAD. VT_UMOCKDEV_PRELOAD names the
# preload of another architecture, VT_EMULATOR the program that runs it
# (both empty for native tests).
set -e
pre="${VT_UMOCKDEV_PRELOAD:-libumockdev-preload.so.0}"
if [ -n "${VT_UMOCKDEV_PRELOAD:-}" ]; then
  if [ ! -e "$VT_UMOCKDEV_PRELOAD" ]; then
    echo "umockdev preload $VT_UMOCKDEV_PRELOAD missing" >&2
    exit 77
  fi
elif [ -z "$(ldconfig -p | grep libumockdev-preload.so.0)" ]; then
  echo "umockdev preload not installed" >&2
  exit 77
fi
case "${VT_SANITIZE:-}" in
  *address*) pre="$(gcc -print-file-name=libasan.so):$pre" ;;
  *thread*)  pre="$(gcc -print-file-name=libtsan.so):$pre" ;;
esac
export LD_PRELOAD="$pre${LD_PRELOAD:+:$LD_PRELOAD}"
# shellcheck disable=SC2086 # the emulator and its options, split on purpose
exec ${VT_EMULATOR:-} "$@"
