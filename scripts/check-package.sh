#!/usr/bin/env bash
# Checks the Debian package that cpack built: its file list, its dependencies,
# the desktop entry (desktop-file-validate), the .vokt document type (the
# MIME XML compiled by update-mime-database must know the extension and the
# first line), no maintainer scripts, no library search path in the
# executables, and lintian: no error and no warning that the package's
# overrides do not explain.
#   bash scripts/check-package.sh velmora_VERSION_ARCH.deb
set -euo pipefail
# dpkg-deb and tar print non-ASCII file names as octal escapes in the C locale.
export LC_ALL=C.UTF-8
deb=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

dpkg-deb --contents "$deb" | awk '{print $6}' | sed 's|^\./|/|' >"$work/files"
for file in /usr/bin/velmora /usr/bin/velmora-cli /usr/share/man/man1/velmora-cli.1.gz /usr/share/man/man1/velmora.1.gz \
            /usr/share/doc/velmora/copyright /usr/share/doc/velmora/changelog.gz /usr/share/lintian/overrides/velmora \
            /usr/share/applications/velmora.desktop /usr/share/mime/packages/velmora.xml \
            /usr/share/velmora/Template/プラズマ.qtp /usr/share/velmora/Help/ファイル.txt; do
  grep -qxF "$file" "$work/files" || fail "$file is not in the package"
done
for size in 16 22 24 32 48 64 128 256; do
  grep -qxF "/usr/share/icons/hicolor/${size}x${size}/apps/velmora.png" "$work/files" || fail "no ${size}px icon"
done
[ "$(grep -c '^/usr/share/velmora/Template/.*\.qtp$' "$work/files")" -ge 10 ] || fail "templates missing"
grep -qE '^/usr/lib/([^/]+/)?velmora/velmora-qtimage\.so$' "$work/files" || fail "velmora-cli's toolkit module is not in the package"
if grep -v -e '^/usr/bin/' -e '^/usr/share/' -e '^/usr/lib/' -e '/$' "$work/files"; then fail "files outside /usr/bin, /usr/lib and /usr/share"; fi

depends=$(dpkg-deb --field "$deb" Depends)
for package in libqt6widgets6 libqt6gui6 libqt6core6 libjpeg62-turbo fonts-ipafont-gothic qt6-translations-l10n; do
  grep -qE "(^|, )$package( |,|$)" <<<"$depends" || fail "Depends lacks $package: $depends"
done

recommends=$(dpkg-deb --field "$deb" Recommends)
for package in man-db xdg-utils; do
  grep -qE "(^|, )$package( |,|$)" <<<"$recommends" || fail "Recommends lacks $package: $recommends"
done
# The private module is nothing for ldconfig: no maintainer scripts, no triggers.
dpkg-deb --ctrl-tarfile "$deb" | tar -t | sed 's|^\./||' >"$work/control-files"
if grep -E '^(postinst|postrm|preinst|prerm|triggers)$' "$work/control-files"; then fail "maintainer scripts or triggers in the package"; fi

dpkg-deb --extract "$deb" "$work/root"
for program in velmora velmora-cli; do
  if readelf -d "$work/root/usr/bin/$program" | grep -E 'RPATH|RUNPATH'; then fail "$program has a library search path"; fi
done
grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/' \
  "$work/root/usr/share/doc/velmora/copyright" || fail "copyright file is not machine-readable"
desktop-file-validate "$work/root/usr/share/applications/velmora.desktop" || fail "desktop entry"
grep -qx 'Exec=velmora %f' "$work/root/usr/share/applications/velmora.desktop" || fail "desktop entry Exec"
# The installed data is the code page 932 copy. (grep reads it all: with -q it
# may stop early, iconv then dies of SIGPIPE and pipefail fails the check.)
iconv -f CP932 -t UTF-8 "$work/root/usr/share/velmora/Help/ファイル.txt" | grep -c '作品' >/dev/null ||
  fail "help topic not code page 932"
# Image files must really be PNG at their size.
for size in 16 256; do
  head -c 24 "$work/root/usr/share/icons/hicolor/${size}x${size}/apps/velmora.png" | od -An -tx1 | tr -d ' \n' |
    grep -q "^89504e47.*$(printf '%08x' "$size")$(printf '%08x' "$size")$" || fail "${size}px icon is not a ${size}px PNG"
done

mkdir -p "$work/mime/packages"
cp "$work/root/usr/share/mime/packages/velmora.xml" "$work/mime/packages/"
XDG_DATA_DIRS="$work:/usr/share" update-mime-database "$work/mime" 2>"$work/mime.log" || { cat "$work/mime.log" >&2; fail "MIME XML"; }
[ ! -s "$work/mime.log" ] || { cat "$work/mime.log" >&2; fail "MIME XML warnings"; }
grep -q ':application/x-velmora-vokt:\*\.vokt' "$work/mime/globs2" || fail "no *.vokt glob"
grep -qa '<VOKT 1.0>' "$work/mime/magic" || fail "no <VOKT 1.0> magic"
grep -qx 'application/x-velmora-vokt' "$work/mime/types" || fail "type not registered"
# Tags marked I (information) and overridden ones are fine; the overrides give their reasons.
if ! lintian --fail-on error,warning "$deb" >"$work/lintian.log" 2>&1; then
  cat "$work/lintian.log" >&2
  fail "lintian"
fi
echo "lintian: $(grep -c . "$work/lintian.log" || true) remarks, none an error or warning"
echo "package $(basename "$deb") checked: $(wc -l <"$work/files") entries; Depends: $depends"
