#!/usr/bin/env bash
# Builds the library and its tools, then shows the library at work.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target vnsmb1c_hello
./build/tools/vnsmb1c_hello
