#!/usr/bin/env bash
# Builds everything and runs the whole test suite twice: an optimised build, and
# a build with AddressSanitizer and UndefinedBehaviorSanitizer; the optimised
# build is also made into a Debian package, whose contents are checked.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/setup-deps.sh

jobs=$(nproc)
for preset in release sanitize; do
  echo "== $preset build"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "== $preset tests"
  ctest --preset "$preset" -j "$jobs"
  if [ "$preset" = release ]; then
    echo "== Debian package"
    rm -f build/release/velmora_*.deb
    cpack --preset release >/dev/null
    bash scripts/check-package.sh build/release/velmora_*.deb
  fi
done
