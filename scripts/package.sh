#!/usr/bin/env bash
# For sites: builds the Debian packages pru-host and pru-server into dist/.
# Install them with: sudo apt install ./dist/pru-server_*.deb ./dist/pru-host_*.deb
# The packages hold stripped programs; dist/debug/ keeps their debug
# information (objcopy --only-keep-debug) for reading a site's crash report.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# What the packages ship, nothing else (cmake/Packaging.cmake installs these).
shipped=(pru_server pru_host PRU87000 framework dataset rpc pru_data pru_definitions)
"$root/scripts/build.sh" "${shipped[@]}"
cd "$root"
rm -rf dist/debug
mkdir -p dist/debug
rm -f dist/pru-host_*.deb dist/pru-server_*.deb
cpack --config build/CPackConfig.cmake -B dist >/dev/null
rm -rf dist/_CPack_Packages
for file in build/bin/pru_server build/bin/pru_host build/lib/lib{PRU87000,framework,dataset,rpc,pru_data,pru_definitions}.so; do
  objcopy --only-keep-debug "$file" "dist/debug/$(basename "$file").debug"
done
ls -1 dist/*.deb
