#!/usr/bin/env bash
# Installs a build into a temporary root (DESTDIR, prefix /usr) and runs the
# installed programs from there: velmora-cli computes and paints; velmora
# (offscreen) takes the user's data folder for its templates, help topics and
# documents, fills it from the installed copies, and writes nothing beside
# itself.
#   bash scripts/install-test.sh BUILD_FOLDER SOURCE_FOLDER
set -euo pipefail
build=$(cd "$1" && pwd)
source=$(cd "$2" && pwd)
work=$(mktemp -d)
app=
cleanup() {
  if [ -n "$app" ]; then kill "$app" 2>/dev/null || true; wait "$app" 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

root=$work/root
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
bin=$root/usr/bin
data=$root/usr/share/velmora

# The shipped content is the code page 932 copy the program reads, unchanged.
for folder in Template Help; do
  shipped=$(cd "$build/$folder" && ls)
  [ -n "$shipped" ] || fail "no $folder files in the build"
  while IFS= read -r name; do
    [ -f "$build/$folder/$name" ] || continue
    cmp -s "$build/$folder/$name" "$data/$folder/$name" || fail "$folder/$name not installed as built"
  done <<<"$shipped"
done
for file in share/man/man1/velmora-cli.1.gz; do
  [ -s "$root/usr/$file" ] || fail "missing /usr/$file"
done
gzip -t "$root/usr/share/man/man1/velmora-cli.1.gz" || fail "the manual page is not gzip data"

# No library search path in what was installed (an empty or relative entry
# would load libraries from the user's current folder).
for file in "$bin"/* $(find "$root" -name '*.so'); do
  if readelf -d "$file" | grep -E 'RPATH|RUNPATH'; then fail "$file has a library search path"; fi
done

# velmora-cli, started from the installed files.
[ "$(echo '1+2' | "$bin/velmora-cli" calc)" = 3 ] || fail "installed velmora-cli calc"
"$bin/velmora-cli" render "$source/examples/gradient.vokt" --size 16x8 -o "$work/out.bmp" >/dev/null ||
  fail "installed velmora-cli render"
[ "$(head -c 2 "$work/out.bmp")" = BM ] || fail "render wrote no BMP"
# BMP and PNG reading and PNG writing come from the installed toolkit module.
"$bin/velmora-cli" render "$source/examples/gradient.vokt" --input "$work/out.bmp" -o "$work/out.png" >/dev/null ||
  fail "installed velmora-cli could not read a BMP and write a PNG (its module: $(find "$root" -name 'velmora-qtimage.so'))"
[ "$(head -c 4 "$work/out.png" | tail -c 3)" = PNG ] || fail "render wrote no PNG"

[ -x "$bin/velmora" ] || { echo "velmora not built: the desktop program's part skipped"; exit 0; }
for file in share/applications/velmora.desktop share/mime/packages/velmora.xml share/man/man1/velmora.1.gz \
            share/icons/hicolor/16x16/apps/velmora.png share/icons/hicolor/256x256/apps/velmora.png; do
  [ -s "$root/usr/$file" ] || fail "missing /usr/$file"
done

# The desktop program, as a user with a fresh home folder. The user already has
# a template named like a shipped one: it must be kept.
user=$work/data/velmora
mkdir -p "$work/home" "$user/Template"
first=$(cd "$data/Template" && ls | head -n1)
printf 'mine' >"$user/Template/$first"
HOME=$work/home XDG_DATA_HOME=$work/data XDG_CONFIG_HOME=$work/config QT_QPA_PLATFORM=offscreen \
  "$bin/velmora" >"$work/velmora.log" 2>&1 &
app=$!
for _ in $(seq 300); do
  [ -d "$user/作品" ] && break
  kill -0 "$app" 2>/dev/null || { cat "$work/velmora.log" >&2; fail "velmora ended early"; }
  sleep 0.1
done
[ -d "$user/作品" ] || fail "no documents folder in the user's data folder"
[ "$(cat "$user/Template/$first")" = mine ] || fail "the user's own template was replaced"
for folder in Template Help; do
  while IFS= read -r name; do
    [ "$folder/$name" = "Template/$first" ] && continue
    cmp -s "$data/$folder/$name" "$user/$folder/$name" || fail "$folder/$name not copied to the user's folder"
  done < <(cd "$data/$folder" && ls)
done
extra=$(cd "$bin" && ls | grep -v -x -e velmora -e velmora-cli || true)
[ -z "$extra" ] || fail "written beside the installed executables: $extra"
echo "installed programs ran from $root"
