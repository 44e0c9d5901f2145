#!/bin/bash
# Sets up, builds and runs every test: a normal build, the release packages
# for amd64 and arm64 (built for the oldest desktops, checked by lintian),
# then the sanitizer builds (AddressSanitizer + UBSan, over the ways kept for
# Qt 5.11; ThreadSanitizer for the threaded SDK tests), then the arm64 suites
# under emulation, then the fuzz targets under libFuzzer. Exit code 0 only
# when every run passed.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
JOBS=${JOBS:-2}

bash scripts/setup-deps.sh

build() { # dir, extra cmake args...
  local dir=$1; shift
  cmake -S "$ROOT" -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo "$@" >/dev/null
  cmake --build "$dir" -j"$JOBS"
}

status=0
echo "=== normal build ==="
build build

# The packages to ship (no tests or test hooks), one per architecture, built
# in a Debian 11 root (made once, then reused) and checked by lintian; the
# floor.* tests check what they require, and the normal build's packaging.deb
# test installs and removes this machine's one.
echo "=== release packages ==="
export VT_FLOOR_ROOT=${VT_FLOOR_ROOT:-$ROOT/build-floor/root}
bash scripts/build-package.sh build-release || status=1
deb=$(ls "$ROOT"/build-release/packages/vtinkhost_*_"$(dpkg --print-architecture)".deb 2>/dev/null | head -n 1 || true)

(cd build && VT_DEB_PACKAGE="$deb" VT_FLOOR_PACKAGES="$ROOT/build-release/packages" \
   ctest --output-on-failure -j"$JOBS" -LE "no-default") || status=1
# The amd64 package installed and run in a fresh Debian 11 root; its emulator
# is built in the packages' root.
deb_amd64=$(ls "$ROOT"/build-release/packages/vtinkhost_*_amd64.deb 2>/dev/null | head -n 1 || true)
(cd build && VT_DEB_PACKAGE="$deb_amd64" VT_FLOOR_BUILD_ROOT="$VT_FLOOR_ROOT" \
   ctest --output-on-failure -R '^packaging\.oldroot$') || status=1

# Built with VT_QT_FLOOR: these tests run over the ways kept for Qt 5.11.
echo "=== AddressSanitizer + UndefinedBehaviorSanitizer build, Qt 5.11's ways ==="
build build-asan -DVT_SANITIZE=address,undefined -DVT_QT_FLOOR=ON
(cd build-asan && ASAN_OPTIONS=detect_leaks=0:abort_on_error=0 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
   ctest --output-on-failure -j"$JOBS" -L sanitize) || status=1

if [ -d build-tsan ] || grep -rqs "tsan" tests/*/CMakeLists.txt; then
  echo "=== ThreadSanitizer build ==="
  build build-tsan -DVT_SANITIZE=thread
  (cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
     ctest --output-on-failure -j"$JOBS" -L tsan) || status=1
fi

# The arm64 build's driver, SDK and service end-to-end suites under qemu-user
# (installs the cross toolchain and arm64 libraries first).
echo "=== arm64 under qemu ==="
arm64_start=$(date +%s)
bash scripts/test-arm64.sh build-arm64 || status=1
echo "arm64 under qemu: $(( $(date +%s) - arm64_start )) s"

# Each fuzz target for VT_FUZZ_SECONDS (60 s) from its seed corpus, two at a
# time; a crash, leak, hang or runaway allocation fails.
echo "=== fuzzing (libFuzzer, clang, AddressSanitizer + UndefinedBehaviorSanitizer) ==="
if command -v clang++-14 >/dev/null; then
  cmake -S "$ROOT" -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_C_COMPILER=clang-14 \
    -DCMAKE_CXX_COMPILER=clang++-14 -DVT_FUZZ=ON -DVT_BUILD_TESTS=OFF -DVT_SANITIZE=address,undefined >/dev/null
  cmake --build build-fuzz -j"$JOBS" --target vt_fuzzers
  (cd build-fuzz && ctest --output-on-failure -j"$JOBS" -L fuzz) || status=1
else
  echo "clang++-14 missing: fuzzing not run" >&2
  status=1
fi

exit $status
