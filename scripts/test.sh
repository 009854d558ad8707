#!/usr/bin/env bash
# Installs what is missing, builds (normal, sanitizers, fuzzers), starts the
# throwaway database servers, runs every test, and stops the servers again.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
"$root/scripts/deps.sh"

echo "== formatting (.clang-format)"
# Names every file and line that clang-format would change.
git ls-files -z 'src/*.cpp' 'src/*.h' 'tests/*.cpp' 'tests/*.h' 'bench/*.cpp' 'bench/*.h' 'fuzz/*.cpp' 'fuzz/*.h' \
  | xargs -0 clang-format --dry-run --Werror

jobs=$(nproc)
# A warning fails the build here, so the tree stays at none.
strict=(-DCMAKE_COMPILE_WARNING_AS_ERROR=ON)
echo "== build (RelWithDebInfo)"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo "${strict[@]}" >/dev/null
cmake --build build -j "$jobs"
echo "== build (AddressSanitizer + UndefinedBehaviorSanitizer)"
# Line tables are all the sanitizers' reports need, and they build faster.
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g1" -DPRU_SANITIZE=ON \
  "${strict[@]}" >/dev/null
# The tests and what they start; the benchmarks run from the normal build.
cmake --build build-asan -j "$jobs" --target pru_tests
echo "== build (libFuzzer targets)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPRU_FUZZ=ON "${strict[@]}" >/dev/null
cmake --build build-fuzz -j "$jobs" --target fuzzers

work=$(mktemp -d /tmp/pru-test.XXXXXX)
chmod 755 "$work"
cleanup() {
  "$root/scripts/pg-cluster.sh" stop "$work/pg" || true
  [ -x "$root/scripts/firebird-server.sh" ] && "$root/scripts/firebird-server.sh" stop "$work/fb" || true
  rm -rf "$work"
}
trap cleanup EXIT

echo "== starting PostgreSQL"
PRU_TEST_PG=$("$root/scripts/pg-cluster.sh" start "$work/pg" "${PRU_PG_PORT:-55432}")
export PRU_TEST_PG
echo "   $PRU_TEST_PG"
if [ -x "$root/scripts/firebird-server.sh" ]; then
  echo "== starting Firebird"
  PRU_TEST_FB=$("$root/scripts/firebird-server.sh" start "$work/fb" "${PRU_FB_PORT:-53050}")
  export PRU_TEST_FB
  echo "   $PRU_TEST_FB"
fi
# In CI a database test that cannot reach its server fails instead of skipping.
export PRU_REQUIRE_SERVERS=1
export QT_QPA_PLATFORM=offscreen

echo "== tests"
ctest --test-dir build --output-on-failure -j "$jobs"
echo "== tests under sanitizers (leaks checked)"
# Leaks are checked too: a test that leaks fails (Qt's own allocations have
# needed no suppression so far; add one with a comment if ever they do).
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan --output-on-failure -j "$jobs"
echo "== packages: contents, the systemd unit, the server's configuration in a scratch root"
"$root/scripts/package-check.sh" build
echo "== crash safety: the server killed with SIGKILL while clients save (short run; 100 kills by hand)"
build/bin/pru_crash --kills "${PRU_CRASH_KILLS:-10}"
echo "== load soak: 32 clients of reads and saves (short run; 600 s by hand)"
build/bin/pru_soak --seconds "${PRU_SOAK_SECONDS:-30}" --interval 10
echo "== floods from many loopback addresses: a real operator is served meanwhile (short run; 10 s a flood by hand)"
build/bin/pru_flood --seconds "${PRU_FLOOD_SECONDS:-3}" --threads 64 --engine all
echo "== short fuzz runs"
for f in build-fuzz/bin/fuzz_*; do
  [ -x "$f" ] || continue
  name=$(basename "$f")
  mkdir -p "$work/corpus/$name"
  seeds="$root/fuzz/corpus/$name"; [ -d "$seeds" ] || seeds=""
  if ! "$f" -max_total_time="${PRU_FUZZ_SECONDS:-20}" -print_final_stats=1 "$work/corpus/$name" $seeds >"$work/$name.log" 2>&1; then
    tail -50 "$work/$name.log"; echo "fuzzer $name failed"; exit 1
  fi
  echo "   $name: $(grep -E 'stat::number_of_executed_units' "$work/$name.log" | awk '{print $2}') executions"
done
echo "== all tests passed"
