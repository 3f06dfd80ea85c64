#!/bin/sh
# Builds texport with every pass, regenerates the bundled examples, and converts a copy of them
# in build-examples/examples-out (the examples folder itself stays as committed).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-examples"
cmake -S "$root" -B "$build" -DTEXPORT_ALL_PASSES=ON -DTEXPORT_BUILD_TESTS=OFF
cmake --build "$build" -j2 --target texport make_examples
"$build/make_examples" "$root/examples"
out="$build/examples-out"
rm -rf "$out"
cp -R "$root/examples" "$out"
cd "$out"
"$build/texport" </dev/null
echo "Converted images are in $out:"
ls "$out"
