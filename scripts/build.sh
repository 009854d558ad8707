#!/usr/bin/env bash
# Installs what is missing and builds into build/ (run.sh and package.sh).
#   scripts/build.sh [TARGET...]   only those targets (and what they need); all without
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh"
launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_C_COMPILER_LAUNCHER=ccache -DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
# Configured on every run: the version comes from project() and the checkout.
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
if [ $# -gt 0 ]; then
  cmake --build build -j "$(nproc)" --target "$@"
else
  cmake --build build -j "$(nproc)"
fi
