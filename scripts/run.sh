#!/usr/bin/env bash
# Builds the library, its tools and tests, then shows the command-line tool at
# work on the media library in examples/, served by the in-process fake server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh

cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)"

tree=examples/media-library.json
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT

# Prints a command as it could be typed, then runs it.
show() {
    printf '\n$ vnsmb1c'
    printf ' %q' "$@"
    printf '\n'
    ./build/tools/vnsmb1c "$@"
}

show version
show selftest
show --fake "$tree" shares smb://fake
show --fake "$tree" ls smb://fake/Media
show --fake "$tree" ls smb://fake/Media/Movies
show --fake "$tree" stat "smb://fake/Media/Movies/Sintel (2010).mkv"
show --fake "$tree" get "smb://fake/Media/Movies/Sintel (2010).mkv" "$out/"
ls -l "$out"
show --fake "$tree" cat smb://fake/Media/Music/playlist.m3u
show --fake "$tree" host list smb://fake Media/Movies
