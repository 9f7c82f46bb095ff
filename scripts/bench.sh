#!/usr/bin/env bash
# Builds the benchmark and runs it: the library and smbclient read the same
# file from a Samba server on loopback through a delay proxy (added round
# trips 0, 1 and 3 ms by default) and list a large folder; then the HTTP
# gateway streams and lists beside the command-line tool (serve_bench). Needs root (it
# starts smbd and adds a Unix account). Arguments go to the benchmark, e.g.
#   bash scripts/bench.sh --size-mib 64 --rtt-ms 0,3 --entries 5000
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build-bench -G Ninja -DCMAKE_BUILD_TYPE=Release -DVNSMB1C_TESTS=OFF -DVNSMB1C_BENCH=ON >/dev/null
cmake --build build-bench -j "$(nproc 2>/dev/null || echo 2)" --target stream_bench serve_bench session_bench vnsmb1c_cli
./build-bench/bench/stream_bench "$@"
./build-bench/bench/serve_bench
./build-bench/bench/session_bench
