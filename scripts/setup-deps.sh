#!/usr/bin/env bash
# Installs the Debian 12 packages that the build, the tests, the Debian package
# step and the fuzzers need. Quiet and quick when they are all there.
# As root it runs apt-get itself; otherwise through sudo; with neither it says
# what is missing and the command a root user runs, and fails.
#   bash scripts/setup-deps.sh
set -euo pipefail

packages=(
  # compiling
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libjpeg62-turbo-dev libpng-dev
  # animations: WebP, GIF and its palettes
  libwebp-dev libgif-dev libimagequant-dev
  # run time: Qt's Japanese dialogs, the Japanese font
  qt6-translations-l10n fonts-ipafont-gothic
  # tests on a real window
  xvfb openbox xdotool
  # fuzzers
  clang libclang-rt-14-dev
  # the Debian package: cpack's dpkg-shlibdeps runs file(1); the package checks
  dpkg-dev file desktop-file-utils shared-mime-info lintian man-db
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

advise() {
  echo "  ${missing[*]}" >&2
  echo "A root user installs them with:" >&2
  echo "  apt-get update && apt-get install -y ${missing[*]}" >&2
}
sudo_cmd=()
if [ "$(id -u)" -ne 0 ]; then
  if ! command -v sudo >/dev/null 2>&1; then
    echo "setup-deps: these Debian packages are missing, and this user is not root and has no sudo:" >&2
    advise
    exit 1
  fi
  sudo_cmd=(sudo)
fi

log=$(mktemp "${TMPDIR:-/tmp}/velmora-setup-deps.XXXXXX")
# apt-get's own output goes to the log; its status lines become a short
# progress display (every tenth of the download and of the installation).
apt_step() {
  "${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o APT::Status-Fd=1 "$@" 2>&1 |
    awk -v logfile="$log" -F: '
      /^(dl|pm)status:/ {
        step = int($3 / 10)
        if (step > last[$1]) {
          last[$1] = step
          printf "  %s %d%%\n", ($1 == "dlstatus" ? "downloading" : "installing"), step * 10
          fflush()
        }
        next
      }
      { print >> logfile; fflush(logfile) }'
  return "${PIPESTATUS[0]}"
}

echo "setup-deps: installing ${#missing[@]} Debian packages (the first time takes a few minutes): ${missing[*]}"
[ ${#sudo_cmd[@]} -gt 0 ] && echo "setup-deps: through sudo (it may ask for your password)"
echo "setup-deps: apt-get update"
if ! apt_step update -q; then
  echo "setup-deps: 'apt-get update' failed; its output:" >&2
  tail -n 20 "$log" >&2
  if [ ${#sudo_cmd[@]} -gt 0 ]; then echo "setup-deps: the missing packages:" >&2; advise; fi
  exit 1
fi
echo "setup-deps: apt-get install"
if ! apt_step install -y -q "${missing[@]}"; then
  echo "setup-deps: 'apt-get install' failed; the end of its output (all of it: $log):" >&2
  tail -n 20 "$log" >&2
  if [ ${#sudo_cmd[@]} -gt 0 ]; then echo "setup-deps: the missing packages:" >&2; advise; fi
  exit 1
fi
rm -f "$log"
echo "setup-deps: done"
