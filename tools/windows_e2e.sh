#!/bin/sh
# Cross-builds texport for 64-bit and 32-bit Windows with MinGW-w64 (static, warnings as errors)
# and runs the end-to-end suite against the 64-bit build under wine, in a fresh wine prefix.
# Needs: g++-mingw-w64-x86-64-posix g++-mingw-w64-i686-posix wine64, and a native build in
# build/ (for the test program itself).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
for arch in x86_64 i686; do
  cmake -S . -B "build-windows-$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
    -DTEXPORT_BUILD_TESTS=OFF -DTEXPORT_WERROR=ON
  cmake --build "build-windows-$arch" -j2
done

wine=$(command -v wine64 || command -v wine || echo /usr/lib/wine/wine64)
prefix_home=$(mktemp -d)
trap 'WINEPREFIX="$prefix_home/prefix" "$(dirname "$wine")/wineserver" -k 2>/dev/null || true; rm -rf "$prefix_home"' EXIT
export WINEPREFIX="$prefix_home/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
"$wine" wineboot -i >/dev/null 2>&1 || true

TEXPORT_RUNNER="$wine" \
TEXPORT_EXE="$root/build-windows-x86_64/texport_sfd_only.exe" \
TEXPORT_ALL_PASSES_EXE="$root/build-windows-x86_64/texport_all_passes.exe" \
  "$root/build/tests/e2e_tests"
