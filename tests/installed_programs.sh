#!/usr/bin/env bash
# Installs the build into an empty prefix and runs the programs from there,
# away from the build tree: every program is in bin/, finds every library it
# needs, and velmora-render makes a frame.
set -euo pipefail
cmake=$1
build=$2

prefix=$(mktemp -d)
trap 'rm -rf "$prefix"' EXIT
"$cmake" --install "$build" --prefix "$prefix" >/dev/null
cd "$prefix"

for program in velmora velmora-render; do
  [[ -x bin/$program ]] || { echo "error: bin/$program was not installed" >&2; exit 1; }
done
for program in bin/*; do
  if ldd "$program" | grep -q 'not found'; then
    echo "error: $program misses libraries:" >&2
    ldd "$program" | grep 'not found' >&2
    exit 1
  fi
done
bin/velmora-render --size 64x48 --out frame.png
[[ -s frame.png ]] || { echo "error: the installed velmora-render wrote no frame" >&2; exit 1; }
bin/velmora-render --size 64x48 --scene share/velmora/examples/spread-32.json --out scene.png
[[ -s scene.png ]] || { echo "error: the installed example scene made no frame" >&2; exit 1; }
