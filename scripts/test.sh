#!/usr/bin/env bash
# Builds the library and runs every test: once in a plain build and once
# under AddressSanitizer and UndefinedBehaviorSanitizer, the threads and
# sessions suites under ThreadSanitizer, then the fuzz targets, then the
# Windows build and its tests under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

jobs=$(nproc 2>/dev/null || echo 2)
run_suite() {
    local dir=$1
    shift
    cmake -S . -B "$dir" -G Ninja -DVNSMB1C_WERROR=ON "$@" >/dev/null
    cmake --build "$dir" -j "$jobs"
    ctest --test-dir "$dir" --output-on-failure -j "$jobs" --timeout 600
}

echo "== tests: plain build =="
run_suite build -DCMAKE_BUILD_TYPE=RelWithDebInfo
echo "== tests: sanitizer build =="
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    run_suite build-asan -DCMAKE_BUILD_TYPE=Debug -DVNSMB1C_SANITIZE=ON
# The suites of threads, sessions, cancels and stalled servers (a few
# minutes; the library and two test programs are built for it).
echo "== tests: ThreadSanitizer, threads and sessions =="
cmake -S . -B build-tsan -G Ninja -DVNSMB1C_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVNSMB1C_TSAN=ON \
    -DVNSMB1C_TOOLS=OFF >/dev/null
cmake --build build-tsan -j "$jobs" --target test_api test_interop
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/test_api \
    --gtest_filter='Threads.*:Sessions.*:SilentFront.*:Calls/CancelBlocked.*:SilentServer.*'
TSAN_OPTIONS=halt_on_error=1 ./build-tsan/tests/test_interop --gtest_filter='TwoServers.*'
# 23 targets at 20 s each, one per core at a time: about four minutes.
echo "== fuzz targets: 20 s each over the committed seeds, then mutating =="
fuzz_dir=$(mktemp -d)
trap 'rm -rf "$fuzz_dir"' EXIT
VNSMB1C_FUZZ_DIR=$fuzz_dir bash scripts/fuzz.sh all 20
echo "== Windows: mingw-w64 build, its tests under Wine, the Windows programs against Samba =="
bash scripts/windows.sh
