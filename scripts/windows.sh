#!/usr/bin/env bash
# Builds the Windows DLL, static library, tool and tests with mingw-w64,
# runs the tests under Wine in a fresh Wine prefix, runs the Windows tool and
# a C program built against the DLL against Samba (from the Linux build's
# interop suite), and puts what a Windows developer needs into
# build-windows/dist.
#
#   scripts/windows.sh            everything
#   VNSMB1C_WINDOWS_NO_SAMBA=1    leaves out the Samba part (which needs root)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

bash scripts/deps.sh g++-mingw-w64-x86-64-posix wine wine64 googletest

jobs=$(nproc 2>/dev/null || echo 2)
build=build-windows
toolchain=$root/cmake/mingw-w64-x86_64.cmake
started=$(date +%s)

echo "== windows: GoogleTest for mingw-w64 =="
gtest=$root/$build/googletest-install
if [ ! -f "$gtest/lib/cmake/GTest/GTestConfig.cmake" ]; then
    cmake -S /usr/src/googletest -B "$build/googletest" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
        -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DINSTALL_GTEST=ON -DCMAKE_INSTALL_PREFIX="$gtest" >/dev/null
    cmake --build "$build/googletest" -j "$jobs" --target install >/dev/null
fi

echo "== windows: library, tool and tests =="
# Optimised as a release, without debug information: the dist folder strips
# it anyway, and it costs a third of the build's time.
cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$toolchain" -DVNSMB1C_WERROR=ON \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS_RELEASE="-O2 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
    -DGTest_DIR="$gtest/lib/cmake/GTest" >/dev/null
cmake --build "$build" -j "$jobs"

echo "== windows: dist folder =="
dist=$build/dist
rm -rf "$dist"
mkdir -p "$dist"
cp "$build/bin/libvnsmb1c.dll" "$build/bin/vnsmb1c.exe" "$build/libvnsmb1c.dll.a" "$build/libvnsmb1c.a" \
    "$build/vnsmb1c.def" include/vnsmb1c.h "$dist/"
x86_64-w64-mingw32-strip --strip-debug "$dist/libvnsmb1c.dll" "$dist/vnsmb1c.exe"
ls -l "$dist"

echo "== windows: tests under Wine =="
prefix=$(mktemp -d -t vnsmb1c-wine.XXXXXX)
cleanup() {
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$prefix"
}
trap cleanup EXIT
export WINEPREFIX=$prefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" WINEARCH=win64
# One wineserver for the whole run, started before anything else uses the
# prefix: left to itself it exits a moment after its last client, and a test
# starting in that moment fails with "recvmsg: Connection reset by peer"
# before its first line. The trap above stops it.
wineserver -p
# No display: wineboot needs none, and the prompts for Mono and Gecko are off.
DISPLAY= wineboot --init >/dev/null 2>&1
ctest --test-dir "$build" --output-on-failure -j "$jobs" --timeout 600

if [ "${VNSMB1C_WINDOWS_NO_SAMBA:-}" = 1 ]; then
    echo "== windows: Samba part left out (VNSMB1C_WINDOWS_NO_SAMBA=1) =="
else
    echo "== windows: the tool and a DLL client against Samba =="
    linux=build
    if [ ! -f "$linux/build.ninja" ]; then
        cmake -S . -B "$linux" -G Ninja -DVNSMB1C_WERROR=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$linux" -j "$jobs" --target test_interop
    VNSMB1C_WINDOWS_BIN=$root/$build/bin "$linux/tests/test_interop" --gtest_filter='WindowsClientTest.*'
fi
echo "== windows: done in $(( $(date +%s) - started )) s =="
