#!/usr/bin/env bash
# For sites: builds the Debian packages pru-host and pru-server into dist/.
# Install them with: sudo apt install ./dist/pru-server_*.deb ./dist/pru-host_*.deb
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
cd "$root"
mkdir -p dist
cpack --config build/CPackConfig.cmake -B dist >/dev/null
rm -rf dist/_CPack_Packages
ls -1 dist/*.deb
