#!/bin/sh
# Builds texport with every pass, regenerates the bundled examples, and converts a copy of them
# in build/examples-out (the examples folder itself stays as committed).
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
cmake -S "$root" -B "$root/build" -DTEXPORT_ALL_PASSES=ON
cmake --build "$root/build" -j2 --target texport make_examples
"$root/build/make_examples" "$root/examples"
out="$root/build/examples-out"
rm -rf "$out"
cp -R "$root/examples" "$out"
cd "$out"
"$root/build/texport" </dev/null
echo "Converted images are in $out:"
ls "$out"
