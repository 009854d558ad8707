#!/usr/bin/env bash
# The main job: installs what is missing, builds what it runs, and runs the system.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
# The demonstration runs the server, the host and the screen's module; tests
# and benchmarks are built by scripts/test.sh.
"$root/scripts/build.sh" pru_server pru_host PRU87000
exec "$root/scripts/demo.sh" "$@"
