#!/usr/bin/env bash
# Builds the program and runs its main job. With no arguments it paints the
# example documents into build/pictures/ and evaluates the demo formulas; any
# arguments are passed to velmora-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target velmora-cli >/dev/null
if [ $# -eq 0 ]; then
  mkdir -p build/pictures
  for doc in examples/*.vokt; do
    out="build/pictures/$(basename "${doc%.vokt}").png"
    echo "velmora-cli render $doc -o $out"
    ./build/release/velmora-cli render "$doc" -o "$out"
  done
  echo "velmora-cli calc --math-errors examples/calc-demo.txt"
  ./build/release/velmora-cli calc --math-errors examples/calc-demo.txt || true
else
  exec ./build/release/velmora-cli "$@"
fi
