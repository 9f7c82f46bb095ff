#!/usr/bin/env bash
# Installs the Debian packages a job needs, when missing.
#   bash scripts/deps.sh [--build] [--list] [PACKAGE...]
# Without --build: what the build and every test need (the test command, the
# benchmark). With --build: what building and the main job need (the demo of
# scripts/run.sh), without the test peers. --list prints the packages instead
# of installing them. PACKAGEs are added to the set.
set -euo pipefail

# The sets, one line each, so that a package moves or goes in one place.
build_packages=(cmake ninja-build g++ pkg-config libgtest-dev rapidjson-dev libcli11-dev libboost-dev libcpp-httplib-dev)
demo_packages=(curl)                               # the main job fetches from the gateway
# The interop suite's server, the gateway's clients, and iproute2 for the
# network namespaces of the NetBIOS interop tests.
test_packages=(samba smbclient iproute2 curl ffmpeg chromium)

packages=("${build_packages[@]}")
only_build=0
list=0
for arg in "$@"; do
    case "$arg" in
    --build) only_build=1 ;;
    --list) list=1 ;;
    *) packages+=("$arg") ;;
    esac
done
if ((only_build)); then
    packages+=("${demo_packages[@]}")
else
    packages+=("${test_packages[@]}")
fi
if ((list)); then
    printf '%s\n' "${packages[@]}" | awk '!seen[$0]++'
    exit 0
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if ((${#missing[@]})); then
    echo "installing: ${missing[*]}"
    if [ "$(id -u)" -ne 0 ]; then
        echo "missing packages and not root: ${missing[*]}" >&2
        exit 1
    fi
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi
