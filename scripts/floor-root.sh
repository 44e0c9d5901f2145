#!/bin/bash
# Makes (or reuses) a Debian 11 "bullseye" root: the oldest userland the
# package registry serves, used to build the packages for the floor and to
# install them on an older system.
#   bash scripts/floor-root.sh ROOT [PACKAGE...]
# Prints nothing but errors; PACKAGEs missing in ROOT are installed (names
# may carry ":arm64"). Run commands in it with floor_run from floor-lib.sh.
set -euo pipefail
root=${1:?usage: floor-root.sh ROOT [PACKAGE...]}
shift
here=$(cd "$(dirname "$0")" && pwd)
# shellcheck source=floor-lib.sh
. "$here/floor-lib.sh"

command -v mmdebstrap >/dev/null || {
  apt-get -o DPkg::Lock::Timeout=900 install -y -qq --no-install-recommends mmdebstrap >/dev/null; }

if [ ! -x "$root/usr/bin/apt-get" ]; then
  mirror=$(floor_mirror)
  # Never remove a folder with the host's /dev still bound in it.
  floor_umount "$root"; floor_umount "$root.new"
  rm -rf --one-file-system "$root" "$root.new"
  mkdir -p "$(dirname "$root")"
  # A half-made root is removed so that the next run starts again.
  mmdebstrap --variant=apt --quiet --include=ca-certificates bullseye "$root.new" "$mirror" \
    || { rm -rf --one-file-system "$root.new"; exit 1; }
  mv "$root.new" "$root"
  floor_run "$root" apt-get update -qq
fi

missing=()
for p in "$@"; do
  floor_run "$root" dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  case " ${missing[*]}" in *:arm64*) floor_run "$root" dpkg --add-architecture arm64 ;; esac
  floor_run "$root" apt-get update -qq
  floor_run "$root" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
fi
