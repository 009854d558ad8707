#!/usr/bin/env bash
# The main job: installs what is missing, builds, and runs the system.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
"$root/scripts/build.sh"
exec "$root/scripts/demo.sh" "$@"
