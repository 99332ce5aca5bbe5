#!/usr/bin/env bash
# The manual pages and the programs' own word on themselves: both pages format
# without a warning at 80 and 60 columns, every option the programs' --help
# lists is in velmora-cli's page, and --version prints the package version on
# one line.
#   bash scripts/manual-test.sh BUILD_FOLDER SOURCE_FOLDER VERSION
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
version=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }
export LANG=C.UTF-8

for page in velmora-cli velmora; do
  for width in 80 60; do
    warnings=$(MANWIDTH=$width man --warnings -l "$source/resources/$page.1" 2>&1 >/dev/null)
    [ -z "$warnings" ] || fail "$page.1 at $width columns: $warnings"
  done
  MANWIDTH=250 man -l "$source/resources/$page.1" >"$work/$page.txt" 2>/dev/null
  grep -q -- "$page --version" "$work/$page.txt" || fail "$page.1 does not show --version"
done

cli=$build/velmora-cli
{ "$cli" --help; "$cli" calc --help; "$cli" render --help; "$cli" animate --help; } >"$work/help.txt"
grep -qF -- '--dump=tokens|intercode|steps' <(sed -n '/calc/p' "$work/help.txt" | head -n1) ||
  fail "velmora-cli --help does not list --dump=steps: $(grep -m1 calc "$work/help.txt")"
options=$(grep -oE -- '--[a-z-]+(=[a-z|]+)?' "$work/help.txt" | sort -u)
[ "$(wc -l <<<"$options")" -ge 6 ] || fail "too few options found in --help: $options"
while IFS= read -r option; do
  grep -qF -- "$option" "$work/velmora-cli.txt" || fail "velmora-cli.1 lacks $option"
done <<<"$options"

[ "$("$cli" --version)" = "velmora-cli $version" ] || fail "velmora-cli --version: $("$cli" --version)"
if [ -x "$build/velmora" ]; then
  # Before the toolkit starts: no display, no platform plugin needed.
  out=$(env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=none "$build/velmora" --version 2>&1) ||
    fail "velmora --version: $out"
  [ "$out" = "velmora $version" ] || fail "velmora --version: $out"
fi
echo "manual pages clean; $(wc -l <<<"$options") options documented; --version: $version"
