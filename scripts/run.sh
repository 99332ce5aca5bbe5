#!/usr/bin/env bash
# Builds the program and starts it.
#   bash scripts/run.sh              the desktop program (velmora)
#   bash scripts/run.sh examples     paints the example documents into build/pictures/
#   bash scripts/run.sh ARGS...      velmora-cli ARGS (calc, render)
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target velmora velmora-cli >/dev/null
if [ $# -eq 0 ]; then
  exec ./build/release/velmora
elif [ "$1" = examples ]; then
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
