#!/bin/bash
# Cross-builds the tests for arm64 with Debian multiarch and runs the driver,
# SDK and service end-to-end suites under qemu-user, every emulated model.
#   bash scripts/test-arm64.sh [BUILD_DIR]       (default build-arm64)
# Packages come from scripts/setup-deps.sh --arm64. The programs run through
# binfmt_misc when the kernel lets it be mounted, else with the emulator as
# prefix (CTest's emulator for plain test programs, umockdev-run.sh's for the
# rest). VT_TIME_SCALE (default 10) stretches the tests' deadlines and CTest's
# timeouts; nothing waits longer than what it waits for.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${1:-build-arm64}
case "$BUILD" in /*) ;; *) BUILD=$ROOT/$BUILD ;; esac
JOBS=${JOBS:-2}
SCALE=${VT_TIME_SCALE:-10}
TRIPLET=aarch64-linux-gnu

bash scripts/setup-deps.sh --arm64

# umockdev's preload (package "umockdev") and development files cannot be
# installed for two architectures at once: the preload comes from the arm64
# package unpacked into the build folder, the headers (arch-independent, same
# version) from the host's package.
extra=$BUILD/arm64-extra
umockdev_version=$(dpkg-query -W -f='${Version}' "libumockdev0:arm64")
mkdir -p "$extra"
if [ ! -e "$extra/usr/lib/$TRIPLET/libumockdev-preload.so.0" ]; then
  (cd "$extra" && apt-get download "umockdev:arm64=$umockdev_version" >/dev/null 2>&1 \
     && dpkg-deb -x umockdev_*_arm64.deb . && rm -f umockdev_*_arm64.deb) \
    || { echo "test-arm64: umockdev:arm64 $umockdev_version could not be fetched" >&2; exit 1; }
fi
mkdir -p "$extra/lib" "$extra/pkgconfig"
ln -sfn "/usr/lib/$TRIPLET/libumockdev.so.0" "$extra/lib/libumockdev.so"
cat >"$extra/pkgconfig/umockdev-1.0.pc" <<EOF
Name: umockdev
Description: umockdev for $TRIPLET (host headers, target library)
Version: ${umockdev_version%%-*}
Requires: glib-2.0, gobject-2.0
Libs: -L$extra/lib -lumockdev
Cflags: -I/usr/include/umockdev-1.0
EOF
export VT_UMOCKDEV_PRELOAD=$extra/usr/lib/$TRIPLET/libumockdev-preload.so.0

# binfmt_misc: registered by qemu-user-static through binfmt-support once the
# file system is mounted.
emulator=""
if [ ! -e /proc/sys/fs/binfmt_misc/register ]; then
  mount -t binfmt_misc binfmt_misc /proc/sys/fs/binfmt_misc 2>/dev/null || true
fi
if [ -e /proc/sys/fs/binfmt_misc/register ] && [ ! -e /proc/sys/fs/binfmt_misc/qemu-aarch64 ]; then
  update-binfmts --enable qemu-aarch64 >/dev/null 2>&1 || true
fi
if ! grep -qs '^enabled' /proc/sys/fs/binfmt_misc/qemu-aarch64 \
   || [ "$(grep -s '^enabled' /proc/sys/fs/binfmt_misc/status)" != enabled ]; then
  emulator="qemu-aarch64-static -L /"
  echo "test-arm64: binfmt_misc not available, running with \"$emulator\" as prefix"
fi

start=$(date +%s)
VT_CROSS_TRIPLET=$TRIPLET VT_CROSS_EMULATOR="$emulator" PKG_CONFIG_PATH=$extra/pkgconfig \
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/cross-multiarch.cmake" \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_TIME_SCALE="$SCALE" >/dev/null

# Only what the suites run.
targets=(vtinkdrv vtinksdk vtinksdk-noabout test_drv_frame test_drv_hid test_drv_tablet
  test_drv_fingerprint test_drv_padwatch test_drv_reader_release test_drv_decode
  sdk_e2e_tests test_service_e2e test_service_live)
cmake --build "$BUILD" -j"$JOBS" --target "${targets[@]}"
built=$(date +%s)
echo "test-arm64: built in $((built - start)) s"

file "$BUILD/bin/test_service_e2e" | grep -q "ARM aarch64" || {
  echo "test-arm64: not an arm64 build" >&2; exit 1; }

export VT_EMULATOR="$emulator"
status=0
log=$BUILD/arm64-ctest.log
(cd "$BUILD" && ctest --output-on-failure --no-tests=error -j"$JOBS" \
   -R '^(driver\.|sdk\.e2e$|service\.(e2e|e2e\.noabout|e2e\.nosdk|live)$)') 2>&1 | tee "$log" \
  || status=1
# This script installed every tool the suites need: a skipped suite is a fault.
if grep -q '(Skipped)\|Not Run' "$log"; then
  echo "test-arm64: a suite was skipped" >&2
  status=1
fi
echo "test-arm64: ran in $(( $(date +%s) - built )) s"
exit $status
