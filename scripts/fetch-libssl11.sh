#!/bin/bash
# fetch-libssl11.sh DIR: unpacks Debian 11's libssl1.1 (OpenSSL 1.1.1, the
# oldest libcrypto the service supports) into DIR, for the test that runs the
# evidence against it. Only the package's files land in DIR: the package
# list comes from an apt setup of its own under DIR, so the system's apt
# sources and state stay as they are. Idempotent.
set -euo pipefail
dir=$(realpath -m "${1:?usage: fetch-libssl11.sh DIR}")
if [ -n "$(find "$dir/root" -name 'libcrypto.so.1.1' 2>/dev/null | head -n 1)" ]; then
  exit 0
fi
. "$(dirname "$0")/floor-lib.sh"
mirror=$(floor_mirror)
apt="$dir/apt"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial" "$apt/etc/preferences.d" "$apt/etc/sources.list.d"
echo "deb $mirror bullseye main" >"$apt/etc/sources.list"
opts=(-o "Dir::Etc::sourcelist=$apt/etc/sources.list" -o "Dir::Etc::sourceparts=$apt/etc/sources.list.d"
  -o "Dir::Etc::preferencesparts=$apt/etc/preferences.d" -o "Dir::State::Lists=$apt/lists"
  -o "Dir::Cache=$apt/cache" -o "Dir::State::status=/dev/null" -o "APT::Get::List-Cleanup=0"
  -o "Debug::NoLocking=1")
[ "$(id -u)" != 0 ] || opts+=(-o "APT::Sandbox::User=root") # the files are root's own
apt-get "${opts[@]}" -qq update
(cd "$dir" && apt-get "${opts[@]}" -qq download libssl1.1)
deb=$(ls "$dir"/libssl1.1_*.deb | head -n 1)
rm -rf "$dir/root"
dpkg-deb -x "$deb" "$dir/root"
find "$dir/root" -name 'libcrypto.so.1.1'
