#!/usr/bin/env bash
# Builds the library, its tools and tests, then shows the command-line tool at
# work on the media library in examples/, served by the in-process fake server.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/deps.sh --build  # no test peers (Samba, ffmpeg, chromium): the tests install those

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
show --fake "$tree" ls -R "smb://fake/Media/TV"
show --fake "$tree" get -r -u "smb://fake/Media/TV" "$out/"
show --fake "$tree" get -r -u "smb://fake/Media/TV" "$out/"
ls -lR "$out"
show --fake "$tree" cat smb://fake/Media/Music/playlist.m3u
show --fake "$tree" host list smb://fake Media/Movies
# The fake server's NetBIOS network: its browse list, and the server by name.
show --fake "$tree" servers
show --fake "$tree" ls smb://mediabox/Public

# The HTTP gateway on a free loopback port: a folder page, its JSON and the
# first bytes of a film, fetched with curl; then stopped by its PID.
printf '\n$ vnsmb1c --fake %q serve smb://fake/Media --listen 127.0.0.1:0 &\n' "$tree"
./build/tools/vnsmb1c --fake "$tree" serve smb://fake/Media --listen 127.0.0.1:0 >"$out/serve.out" 2>"$out/serve.log" &
serve_pid=$!
for _ in $(seq 100); do
    grep -q 'http://' "$out/serve.out" 2>/dev/null && break
    sleep 0.1
done
cat "$out/serve.out"
base=$(sed -n 's|.* on \(http://[^ ]*\)/$|\1|p' "$out/serve.out")
if [ -n "$base" ] && command -v curl >/dev/null; then
    printf '\n$ curl -s %s/Media/Movies/ | grep href\n' "$base"
    curl -s --max-time 10 "$base/Media/Movies/" | grep -o '<a href="[^"]*">[^<]*</a>'
    printf '\n$ curl -s %s/Media/Movies/?format=json\n' "$base"
    curl -s --max-time 10 "$base/Media/Movies/?format=json"
    printf '\n$ curl -s -D - -o part.bin -r 0-15 %s/Media/Movies/Sintel%%20%%282010%%29.mkv; od -A d -t x1 part.bin\n' "$base"
    curl -s --max-time 10 -D - -o "$out/part.bin" -r 0-15 "$base/Media/Movies/Sintel%20%282010%29.mkv" | tr -d '\r'
    od -A d -t x1 "$out/part.bin"
fi
sleep 0.2  # the gateway logs a request once its answer went out
kill "$serve_pid"
wait "$serve_pid" 2>/dev/null || true
printf '\n(gateway log)\n'
cat "$out/serve.log"
