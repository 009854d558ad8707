#!/usr/bin/env bash
# For sites: builds the Debian packages pru-host and pru-server into dist/.
# Install them with: sudo apt install ./dist/pru-server_*.deb ./dist/pru-host_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc)"
mkdir -p dist
cpack --config build/CPackConfig.cmake -B dist >/dev/null
rm -rf dist/_CPack_Packages
ls -1 dist/*.deb
