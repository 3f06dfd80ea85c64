#!/bin/sh
# Converts a copy of the bundled examples with the all-passes build under valgrind's memcheck:
# any memory error or leak fails. Usage: tools/valgrind_examples.sh [BUILD_DIR]
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build}" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$root"/examples/* "$work/"
# A second copy without templates exercises the built-in headers too.
mkdir "$work/no-templates"
for f in "$root"/examples/*; do
  case $(basename "$f") in HEADER*) ;; *) cp "$f" "$work/no-templates/" ;; esac
done
for folder in "$work" "$work/no-templates"; do
  (cd "$folder" && valgrind --quiet --error-exitcode=99 --leak-check=full \
     --show-leak-kinds=definite,indirect,possible --errors-for-leak-kinds=definite,indirect,possible \
     "$build/texport_all_passes" </dev/null >/dev/null)
done
echo "valgrind: no errors, no leaks"
