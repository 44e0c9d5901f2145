#!/bin/bash
# Sets up, builds and starts vtinkhost from the build folder.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j2
cd build/bin
exec ./vtinkhost
