#!/bin/sh
# Builds texport, then converts a copy of the bundled examples (examples/ stays as committed) with
# texport_all_passes in build-examples/examples-out, and lists the images it wrote.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build="$root/build-examples"
cmake -S "$root" -B "$build" -DTEXPORT_BUILD_TESTS=OFF >/dev/null
cmake --build "$build" -j2 --target texport texport_all_passes
out="$build/examples-out"
rm -rf "$out"
cp -R "$root/examples" "$out"
cd "$out"
"$build/texport_all_passes" </dev/null
echo
echo "Images written in $out:"
for name in *; do
  [ -e "$root/examples/$name" ] || echo "  $name"
done
