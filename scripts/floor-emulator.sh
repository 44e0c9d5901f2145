#!/bin/bash
# Builds the pad emulator for a Debian 11 root: Debian 11's umockdev (0.15)
# lacks the ioctl API padsim needs, so umockdev is built from Debian 12's
# source package, and vtinkpad against it, all in a Debian 11 build root.
#   bash scripts/floor-emulator.sh BUILD_ROOT OUT
# OUT/usr/local/ then holds libumockdev, its preload and lib/vtinkpad/
# (vtinkpad and its sample signatures), to be copied into a Debian 11
# system's /usr/local; OUT/depends lists the Debian 11 packages they need.
# A finished OUT is reused while the padsim sources are unchanged.
set -euo pipefail
root=${1:?usage: floor-emulator.sh BUILD_ROOT OUT}
out=${2:?usage: floor-emulator.sh BUILD_ROOT OUT}
here=$(cd "$(dirname "$0")" && pwd)
src=$(dirname "$here")
# shellcheck source=floor-lib.sh
. "$here/floor-lib.sh"
UMOCKDEV=0.17.16
DEBIAN_REV=1
# The source package as first fetched: its signer's key is not at hand in
# the root, so the files are checked against these (the .dsc then checks
# the tarballs again).
SHA256="f27aa40a42178ed5fbed5259d56586e19db8aea6c983a32edef0adc6f33a3bb7  umockdev_0.17.16-1.dsc
4f405b8ce9219f8117d8605ecd815b8941cd829dae11b4a26b1a49ff7ea3ae26  umockdev_0.17.16.orig.tar.xz
4a4a7b4c13e9b83429bb296870f2b9b7fc4e71c86fff6b5b9075f6812e4826b8  umockdev_0.17.16-1.debian.tar.xz"

key=$( (echo "umockdev $UMOCKDEV-$DEBIAN_REV"; cd "$src" &&
        find padsim driver/include CMakeLists.txt scripts/floor-emulator.sh -type f -print0 | sort -z | xargs -0 sha256sum) | sha256sum)
if [ -f "$out/key" ] && [ "$(cat "$out/key")" = "$key" ]; then
  exit 0
fi

trap 'floor_umount "$root"' EXIT
bash "$here/floor-root.sh" "$root" build-essential cmake pkg-config meson ninja-build valac \
  libglib2.0-dev libudev-dev libpcap-dev qtbase5-dev libqt5websockets5-dev libqt5svg5-dev \
  libusb-1.0-0-dev zlib1g-dev libgtest-dev dpkg-dev xz-utils

# umockdev from Debian 12's source package, with its Debian patches.
work=/var/tmp/vt-emulator
rm -rf "$root$work"
mkdir -p "$root$work/dl"
pool="$(floor_mirror)/pool/main/u/umockdev"
for f in "umockdev_$UMOCKDEV-$DEBIAN_REV.dsc" "umockdev_$UMOCKDEV.orig.tar.xz" \
         "umockdev_$UMOCKDEV-$DEBIAN_REV.debian.tar.xz"; do
  curl -fsS --retry 3 -o "$root$work/dl/$f" "$pool/$f"
done
(cd "$root$work/dl" && echo "$SHA256" | sha256sum --quiet -c -)
floor_run "$root" sh -ec "
  cd $work
  dpkg-source -x dl/umockdev_$UMOCKDEV-$DEBIAN_REV.dsc umockdev >/dev/null 2>&1
  meson setup --prefix=/usr/local --buildtype=release -Dgtk_doc=false umockdev-build umockdev >/dev/null
  ninja -C umockdev-build -j2 >/dev/null
  meson install -C umockdev-build >/dev/null
  ldconfig"

# vtinkpad and padsim from this tree, against that umockdev.
mkdir -p "$root$work/vtinkhost"
tar -C "$src" --exclude=./.git --exclude='./build*' --exclude=node_modules -cf - . | tar -C "$root$work/vtinkhost" -xf -
floor_run "$root" sh -ec "
  cd $work
  cmake -S vtinkhost -B vt-build -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_BUILD_TESTS=ON >/dev/null
  cmake --build vt-build -j2 --target vtinkpad >/dev/null"

rm -rf "$out"
mkdir -p "$out/usr/local/lib/vtinkpad"
multiarch=$(floor_run "$root" dpkg-architecture -qDEB_HOST_MULTIARCH)
lib="$out/usr/local/lib/$multiarch"
mkdir -p "$lib"
cp -a "$root/usr/local/lib/$multiarch"/libumockdev*.so.0* "$lib/"
cp -a "$root$work/vt-build/bin/vtinkpad" "$root$work/vt-build/bin/signatures" "$out/usr/local/lib/vtinkpad/"
# The Debian 11 packages the emulator runs on, from its binaries.
floor_run "$root" sh -ec "
  cd $work && mkdir -p deps/debian && cd deps
  printf 'Source: vt-emulator\n\nPackage: vt-emulator\nArchitecture: any\n' > debian/control
  dpkg-shlibdeps -O --ignore-missing-info -l/usr/local/lib/$multiarch ../vt-build/bin/vtinkpad \
    /usr/local/lib/$multiarch/libumockdev.so.0 /usr/local/lib/$multiarch/libumockdev-preload.so.0" \
  | sed -n 's/^shlibs:Depends=//p' | tr ',' '\n' | sed 's/^ *//; s/[ (].*//; /^$/d' | sort -u > "$out/depends"
rm -rf "$root$work"
echo "$key" > "$out/key"
