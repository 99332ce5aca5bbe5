#!/usr/bin/env bash
# Builds the program and runs its main job. With no arguments it evaluates the
# demo formulas; any arguments are passed to velmora-cli.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j "$(nproc)" --target velmora-cli >/dev/null
if [ $# -eq 0 ]; then
  echo "velmora-cli calc --math-errors examples/calc-demo.txt"
  ./build/release/velmora-cli calc --math-errors examples/calc-demo.txt || true
else
  exec ./build/release/velmora-cli "$@"
fi
