#!/bin/bash
# Installs every Debian 12 package the build, the program and the tests need.
# Non-interactive and idempotent; run as root (or with sudo available).
#   --arm64: instead, what the arm64 suites under emulation need
#   (scripts/test-arm64.sh): cross compiler, qemu-user and the arm64 libraries,
#   beside the host's own (multiarch).
set -euo pipefail

PKGS=(
  # build
  cmake g++ make pkg-config
  qtbase5-dev libqt5websockets5-dev libqt5svg5-dev libusb-1.0-0-dev zlib1g-dev libssl-dev
  # tests: USB emulation, test frameworks, desktop, documents
  umockdev libumockdev-dev libglib2.0-dev libgtest-dev libbenchmark-dev
  xvfb xauth trayer xdotool x11-utils imagemagick poppler-utils procps
  fonts-liberation fonts-dejavu-core fonts-wqy-microhei iproute2
  # web kit and browser tests
  chromium chromium-driver firefox-esr openssl
  # packaging
  dpkg-dev file lintian
  # Debian 11 roots: the packages are built in one and installed in another
  mmdebstrap curl
  # fuzzing: clang with libFuzzer and the sanitizer runtimes
  clang-14 libclang-rt-14-dev
)

SUDO=""
if [ "$(id -u)" != 0 ]; then SUDO="sudo"; fi

if [ "${1:-}" = "--arm64" ]; then
  # umockdev's tool package and development files are for one architecture at
  # a time: scripts/test-arm64.sh takes the arm64 preload from its package and
  # the headers from the host's.
  PKGS=(
    crossbuild-essential-arm64 qemu-user-static binfmt-support qtbase5-dev-tools file
    qtbase5-dev:arm64 libqt5websockets5-dev:arm64 libqt5svg5-dev:arm64
    libusb-1.0-0-dev:arm64 zlib1g-dev:arm64 libglib2.0-dev:arm64 libgtest-dev:arm64
    libumockdev0:arm64 libumockdev-dev libssl-dev:arm64
  )
  dpkg --print-foreign-architectures | grep -qx arm64 || $SUDO dpkg --add-architecture arm64
fi

missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "setup-deps: installing ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -qq
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
# OpenSSL 1.1.1 beside the system's 3, unpacked into the source tree for
# the evidence test on the oldest libcrypto supported.
bash "$(dirname "$0")/fetch-libssl11.sh" "$(dirname "$0")/../build-deps/libssl1.1" >/dev/null
# Node.js and npm come with the machine image (Debian's npm conflicts with it).
command -v node >/dev/null || echo "setup-deps: warning: node not found; web tests will be skipped" >&2
echo "setup-deps: all packages present"
