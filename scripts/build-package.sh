#!/bin/bash
# Builds the Debian package to ship into BUILD_DIR/packages/ (default
# build-release): the program and its two libraries only (no tests, emulator
# or test hooks), with Debian's hardening build flags, stripped. Then checks
# it with lintian: any error, or any warning without an override in
# packaging/lintian-overrides, fails.
#   bash scripts/build-package.sh [BUILD_DIR]
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
dir=${1:-build-release}
JOBS=${JOBS:-2}
for tool in dpkg-buildflags cpack lintian; do
  command -v "$tool" >/dev/null || { echo "build-package: $tool missing (scripts/setup-deps.sh installs it)" >&2; exit 1; }
done

flags() { DEB_BUILD_MAINT_OPTIONS=hardening=+all dpkg-buildflags --get "$1"; }
# Read by CMake when it first configures the folder.
export CFLAGS="$(flags CPPFLAGS) $(flags CFLAGS)"
export CXXFLAGS="$(flags CPPFLAGS) $(flags CXXFLAGS)"
export LDFLAGS="$(flags LDFLAGS)"
rm -rf "$dir/packages"
cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_BUILD_TESTS=OFF >/dev/null
cmake --build "$dir" -j"$JOBS"
(cd "$dir" && cpack -G DEB >/dev/null)
debs=("$dir"/packages/*.deb)
[ ${#debs[@]} = 1 ] && [ -f "${debs[0]}" ] || { echo "build-package: cpack made ${debs[*]}" >&2; exit 1; }
echo "build-package: lintian ${debs[0]}"
lintian --fail-on error,warning --info "${debs[0]}"
echo "build-package: ${debs[0]} passes lintian"
