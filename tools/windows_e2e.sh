#!/bin/sh
# Cross-builds the tools for 32-bit and 64-bit Windows with MinGW-w64 (release, static, warnings as
# errors) and runs the end-to-end suite of a native build against each under wine, the 32-bit
# build first: it is the one the tool was made for. The builds go to folders of their own
# (build-windows-e2e-ARCH), so that a Windows build made by hand beside them is left alone.
# Usage: tools/windows_e2e.sh [NATIVE_BUILD_DIR]   (default: build; it must hold tests/e2e_tests)
# Needs: g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix ninja-build wine wine64 wine32:i386
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
native=$(cd "${1:-$root/build}" && pwd)
cd "$root"
for arch in i686 x86_64; do
  cmake -S . -B "build-windows-e2e-$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-$arch.cmake" \
    -DCMAKE_BUILD_TYPE=Release -DTEXPORT_WERROR=ON
  cmake --build "build-windows-e2e-$arch" -j2
done

# A fresh prefix, booted once, with its server kept between the runs of the suite.
prefix_home=$(mktemp -d)
trap 'wineserver -k 2>/dev/null || true; rm -rf "$prefix_home"' EXIT
export WINEPREFIX="$prefix_home/prefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
mkdir -p "$WINEPREFIX"
# Wine runs 32-bit programs only where the kernel itself can; some virtual machines' cannot.
runner=wine
arches="i686 x86_64"
if ! wine --version >/dev/null 2>&1; then
  runner=$(command -v wine64 || echo /usr/lib/wine/wine64)
  export WINELOADER="$runner"
  arches=x86_64
  echo "== this machine runs no 32-bit programs: the i686 build is built but not run"
fi
wineserver -p
"$runner" wineboot -i >/dev/null 2>&1 || true
for arch in $arches; do
  echo "== end-to-end suite against the $arch build under wine"
  TEXPORT_RUNNER="$runner" \
  TEXPORT_EXE="$root/build-windows-e2e-$arch/texport.exe" \
  TEXPORT_ALL_PASSES_EXE="$root/build-windows-e2e-$arch/texport_all_passes.exe" \
  TEXKIT_EXE="$root/build-windows-e2e-$arch/texkit.exe" \
    "$native/tests/e2e_tests" --gtest_brief=1
done
