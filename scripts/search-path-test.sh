#!/usr/bin/env bash
# The executables' library search paths: no RPATH/RUNPATH entry may be empty or
# relative (the loader reads both against the current folder), and a library
# planted in the current folder under the name of one the programs need is not
# loaded.
#   bash scripts/search-path-test.sh BUILD_FOLDER PLANTED_LIBRARY
set -euo pipefail
build=$(cd "$1" && pwd)
planted=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Every ELF executable and module the build made at its top level.
checked=0
for file in "$build"/*; do
  [ -f "$file" ] && [ -x "$file" ] || [[ "$file" == *.so ]] || continue
  [ "$(head -c 4 "$file" | od -An -c | tr -d ' ')" = '177ELF' ] || continue
  checked=$((checked + 1))
  paths=$(readelf -d "$file" | sed -n 's/.*(\(RPATH\|RUNPATH\)).*\[\(.*\)\]$/\2/p')
  [ -z "$paths" ] && continue
  IFS=: read -r -a entries <<<"$paths:"
  [ "${paths: -1}" != : ] && [ "${paths:0:1}" != : ] && [[ "$paths" != *::* ]] ||
    fail "$(basename "$file"): empty entry in its search path [$paths]"
  for entry in "${entries[@]}"; do
    [[ "$entry" == /* || "$entry" == '$ORIGIN'* ]] || fail "$(basename "$file"): relative entry '$entry' in [$paths]"
  done
done
[ "$checked" -ge 2 ] || fail "found only $checked executables in $build"

# The planted library, in the folder the programs are started from.
cp "$planted" "$work/libjpeg.so.62"
for program in velmora-cli velmora; do
  [ -x "$build/$program" ] || continue
  out=$(cd "$work" && "$build/$program" --version 2>&1) || fail "$program --version beside a planted libjpeg.so.62: $out"
  [ ! -e "$work/planted-library-ran" ] || fail "$program loaded the library planted in the current folder"
  [[ "$out" == "$program "[0-9]* ]] || fail "$program --version printed: $out"
done
echo "search paths of $checked files clean; the planted library was not loaded"
