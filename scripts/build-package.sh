#!/bin/bash
# Builds the packages to ship into BUILD_DIR/packages/ (default build-release),
# one per architecture (VT_PACKAGE_ARCHS, default "amd64 arm64"): the program
# and its two libraries only (no tests, emulator or test hooks), with Debian's
# hardening build flags, stripped. They are built in a Debian 11 root
# (VT_FLOOR_ROOT, default build-floor/root, made or reused by floor-root.sh),
# so that they run on the oldest desktops supported; arm64 is cross-compiled
# there with Debian multiarch. Each package must pass lintian (any error, or
# any warning without an override in packaging/lintian-overrides, fails), and
# all of them must hold the same files.
#   bash scripts/build-package.sh [BUILD_DIR]
#   bash scripts/build-package.sh --native [BUILD_DIR]   # this system's arch, built here
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
native=0
if [ "${1:-}" = --native ]; then native=1; shift; fi
dir=${1:-build-release}
JOBS=${JOBS:-2}
archs=${VT_PACKAGE_ARCHS:-amd64 arm64}
froot=${VT_FLOOR_ROOT:-$ROOT/build-floor/root}
for tool in lintian dpkg-deb; do
  command -v "$tool" >/dev/null || { echo "build-package: $tool missing (scripts/setup-deps.sh installs it)" >&2; exit 1; }
done
# shellcheck source=floor-lib.sh
. scripts/floor-lib.sh
rm -rf "$dir/packages"
mkdir -p "$dir/packages"

# The build commands, run here (--native) or in the root: ARCH SOURCE BUILD.
# Configured with the floor's Qt fallbacks; DEB_HOST_ARCH tells dpkg-buildflags
# and cpack's dpkg-shlibdeps which architecture the binaries are for.
inner='set -eu
arch=$1 src=$2 out=$3 jobs=$4
export DEB_HOST_ARCH=$arch
flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
# Read by CMake when it first configures the folder.
export CFLAGS="$(flags CPPFLAGS) $(flags CFLAGS)"
export CXXFLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)"
export LDFLAGS="$(flags LDFLAGS)"
cross=
if [ "$arch" != "$(dpkg --print-architecture)" ]; then
  export VT_CROSS_TRIPLET=$(dpkg-architecture -a"$arch" -qDEB_HOST_MULTIARCH 2>/dev/null)
  cross=-DCMAKE_TOOLCHAIN_FILE=$src/cmake/cross-multiarch.cmake
fi
rm -rf "$out/packages"
cmake -S "$src" -B "$out" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_BUILD_TESTS=OFF -DVT_QT_FLOOR=${VT_QT_FLOOR:-ON} $cross >/dev/null
cmake --build "$out" -j"$jobs"
(cd "$out" && cpack -G DEB >/dev/null)
# Debian 10 (UOS 20) names the GCC runtime libgcc1; libgcc-s1 came with GCC 10.
for deb in "$out"/packages/*.deb; do
  t=$(mktemp -d)
  dpkg-deb -R "$deb" "$t/p"
  sed -i -E "/^Depends:/s/libgcc-s1 \(>= ([^)]*)\)/libgcc-s1 (>= \1) | libgcc1 (>= 1:\1)/" "$t/p/DEBIAN/control"
  dpkg-deb -Zxz --root-owner-group -b "$t/p" "$deb" >/dev/null
  rm -rf "$t"
done'

t0=$SECONDS
if [ $native = 1 ]; then
  for tool in dpkg-buildflags cpack; do
    command -v "$tool" >/dev/null || { echo "build-package: $tool missing (scripts/setup-deps.sh installs it)" >&2; exit 1; }
  done
  archs=$(dpkg --print-architecture)
else
  [ "$(id -u)" = 0 ] || { echo "build-package: the Debian 11 root needs root (or use --native)" >&2; exit 1; }
  pkgs=(cmake g++ make pkg-config dpkg-dev file qtbase5-dev libqt5websockets5-dev libqt5svg5-dev
        libusb-1.0-0-dev zlib1g-dev libssl-dev)
  for a in $archs; do
    [ "$a" = amd64 ] && continue
    pkgs+=("crossbuild-essential-$a")
    for p in qtbase5-dev libqt5websockets5-dev libqt5svg5-dev libusb-1.0-0-dev zlib1g-dev libssl-dev; do pkgs+=("$p:$a"); done
  done
  trap 'floor_umount "$froot"' EXIT
  bash scripts/floor-root.sh "$froot" "${pkgs[@]}"
  echo "build-package: Debian 11 root ready ($((SECONDS - t0)) s)"
  # The sources, copied with their times kept so that the build folders in
  # the root rebuild only what changed.
  rm -rf "$froot/src/vtinkhost"
  mkdir -p "$froot/src/vtinkhost" "$froot/build"
  tar -C "$ROOT" --exclude=./.git --exclude='./build*' --exclude=node_modules -cf - . | tar -C "$froot/src/vtinkhost" -xf -
fi

for a in $archs; do
  t=$SECONDS
  if [ $native = 1 ]; then
    VT_QT_FLOOR=OFF bash -c "$inner" inner "$a" "$ROOT" "$ROOT/$dir" "$JOBS"
  else
    floor_run "$froot" bash -c "$inner" inner "$a" /src/vtinkhost "/build/$a" "$JOBS"
    cp "$froot/build/$a"/packages/*.deb "$dir/packages/"
  fi
  echo "build-package: $a built ($((SECONDS - t)) s)"
done

debs=("$dir"/packages/*.deb)
n=$(wc -w <<<"$archs")
[ ${#debs[@]} = "$n" ] && [ -f "${debs[0]}" ] || { echo "build-package: expected $n packages, got ${debs[*]}" >&2; exit 1; }
status=0
for deb in "${debs[@]}"; do
  a=$(dpkg-deb -f "$deb" Architecture)
  case "$deb" in *_"$a".deb) ;; *) echo "build-package: $deb says Architecture: $a" >&2; status=1 ;; esac
  echo "build-package: lintian $deb"
  lintian --fail-on error,warning --info "$deb" || status=1
done
# The same files (names, kinds, modes) in every package.
list() { dpkg-deb -c "$1" | awk '{ sub(/ -> .*/, ""); print $1, $NF }' | sort; }
for deb in "${debs[@]:1}"; do
  if ! diff <(list "${debs[0]}") <(list "$deb") >&2; then
    echo "build-package: $deb and ${debs[0]} hold different files" >&2; status=1
  fi
done
[ $status = 0 ] || exit 1
echo "build-package: ${debs[*]} pass lintian ($((SECONDS - t0)) s)"
