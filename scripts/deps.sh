#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when missing:
# curl, ffmpeg and chromium are the clients the gateway tests drive;
# iproute2 makes the network namespaces of the NetBIOS interop tests.
set -euo pipefail

packages=(cmake ninja-build g++ pkg-config libgtest-dev rapidjson-dev libcli11-dev libcpp-httplib-dev samba smbclient
          iproute2 curl ffmpeg chromium "$@")
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
