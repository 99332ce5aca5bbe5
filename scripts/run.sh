#!/usr/bin/env bash
# Builds the program (with its templates and help topics) and starts it.
#   bash scripts/run.sh              the desktop program (velmora)
#   bash scripts/run.sh examples     paints the example documents into build/pictures/
#   bash scripts/run.sh ARGS...      velmora-cli ARGS (calc, render); relative paths
#                                    are taken from the folder you call it in
set -euo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=$repo/build/release
step=
trap 'status=$?; [ -z "$step" ] || echo "run.sh: failed: $step (exit status $status)" >&2' EXIT
finish() { step=; trap - EXIT; }

step="installing the Debian packages (scripts/setup-deps.sh)"
bash "$repo/scripts/setup-deps.sh"

step="configuring the build (cmake --preset release, in $repo)"
if [ ! -f "$build/build.ninja" ]; then echo "run.sh: configuring the build in $build"; fi
log=$(mktemp "${TMPDIR:-/tmp}/velmora-configure.XXXXXX")
if ! (cd "$repo" && cmake --preset release) >"$log" 2>&1; then
  cat "$log" >&2
  rm -f "$log"
  exit 1
fi
rm -f "$log"

# Ninja prints one line per step ([done/total]) and the compiler's messages;
# when everything is up to date it prints a single line.
step="building (cmake --build --preset release, in $repo; the compiler's messages are above)"
echo "run.sh: building velmora, velmora-cli, the templates and the help topics (the first build takes minutes)"
(cd "$repo" && cmake --build --preset release -j "$(nproc)" --target velmora velmora-cli velmora_content)

if [ $# -eq 0 ]; then
  finish
  exec "$build/velmora"
elif [ "$1" = examples ] && [ $# -eq 1 ]; then
  step="painting the examples"
  pictures=$repo/build/pictures
  mkdir -p "$pictures"
  for doc in "$repo"/examples/*.vokt; do
    name=$(basename "${doc%.vokt}")
    out=$pictures/$name.png
    # This one swaps the colours of the picture before it: it starts from the plasma.
    if [ "$name" = rotate-channels ]; then
      [ -f "$pictures/plasma.png" ] ||
        "$build/velmora-cli" render "$repo/examples/plasma.vokt" -o "$pictures/plasma.png"
      echo "velmora-cli render examples/$name.vokt --input build/pictures/plasma.png -o build/pictures/$name.png"
      "$build/velmora-cli" render "$doc" --input "$pictures/plasma.png" -o "$out"
    else
      echo "velmora-cli render examples/$name.vokt -o build/pictures/$name.png"
      "$build/velmora-cli" render "$doc" -o "$out"
    fi
  done
  echo "velmora-cli calc --math-errors examples/calc-demo.txt"
  "$build/velmora-cli" calc --math-errors "$repo/examples/calc-demo.txt" || true
  echo "run.sh: the pictures are in $pictures"
  finish
else
  finish
  exec "$build/velmora-cli" "$@"
fi
