#!/usr/bin/env bash
# A newcomer's first hour, on a machine that has nothing yet: bootstraps a
# minimal Debian 12 (bookworm) root file system from the mirror this machine's
# apt uses, copies a clean clone of the current commit into it and runs the
# README's two commands there as a user with sudo (and once before that as a
# user without sudo, who must be told what to ask for). Then it installs the
# built package into a second fresh root file system without build tools and
# runs velmora-cli, and velmora under Xvfb, from it. The root file systems are
# removed at the end.
#
#   bash scripts/fresh-debian-check.sh        (as root; about 30-60 minutes, ~6 GB)
#   bash scripts/fresh-debian-check.sh --package velmora_2.0_amd64.deb
#                                             only the second half, with a package
#                                             built before (about 10 minutes)
#
# ROOTFS_BASE (default /work) is where the root file systems go; logs go to
# build/fresh-debian-check/ of this checkout. KEEP_ROOTFS=1 keeps them.
# Not part of CI: it needs root, mounts and the network to the mirror.
set -uo pipefail
repo=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
base=${ROOTFS_BASE:-/work}
logs=$repo/build/fresh-debian-check
clean=$base/rootfs-velmora-clean
buildfs=$base/rootfs-velmora-build
runfs=$base/rootfs-velmora-run
[ "$(id -u)" -eq 0 ] || { echo "fresh-debian-check: run as root (debootstrap, chroot, mounts)" >&2; exit 2; }
command -v debootstrap >/dev/null || { echo "fresh-debian-check: apt-get install debootstrap" >&2; exit 2; }
commit=$(git -C "$repo" rev-parse HEAD)
given_deb=
if [ "${1:-}" = --package ]; then
  given_deb=$(realpath "$2") || exit 2
  [ -f "$given_deb" ] || { echo "fresh-debian-check: no file $2" >&2; exit 2; }
fi
mkdir -p "$logs"
rm -f "$logs"/*.log

summary=()
failures=0
record() { # record STATUS SECONDS TEXT
  local line
  line=$(printf '%-4s %6ss  %s' "$1" "$2" "$3")
  summary+=("$line")
  echo "== $line"
  [ "$1" = ok ] || failures=$((failures + 1))
}

mounted=()
mount_into() { # the kernel file systems a build and Xvfb need
  local root=$1
  mount -t proc proc "$root/proc" && mounted+=("$root/proc")
  mount -t sysfs sysfs "$root/sys" && mounted+=("$root/sys")
  mount --bind /dev "$root/dev" && mounted+=("$root/dev")
  mount --bind /dev/pts "$root/dev/pts" && mounted+=("$root/dev/pts")
  mount -t tmpfs tmpfs "$root/dev/shm" && mounted+=("$root/dev/shm")
}
cleanup() {
  local i
  for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do
    umount "${mounted[i]}" 2>/dev/null || umount -l "${mounted[i]}" 2>/dev/null || true
  done
  mounted=()
  if [ "${KEEP_ROOTFS:-0}" != 1 ]; then
    for root in "$clean" "$buildfs" "$runfs"; do
      # Never remove a tree that still has something mounted in it.
      if [ -d "$root" ] && ! grep -q " $root/" /proc/mounts; then rm -rf "$root"; fi
    done
  fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# in ROOT COMMAND...: as root inside; as USER COMMAND: as the user "dev", in a
# login shell, without a terminal (so nothing can wait for a password).
in_root() { local root=$1; shift; chroot "$root" env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root LANG=C.UTF-8 "$@"; }
as_user() { local root=$1; shift; chroot "$root" runuser -l dev -c "$*" </dev/null; }

# The mirror: the first Debian URI of this machine's apt sources.
mirror=$(grep -hs '^URIs:' /etc/apt/sources.list.d/*.sources | awk '{print $2}' | grep -m1 '/debian/\?$' || true)
[ -n "$mirror" ] || mirror=$(grep -hs '^deb ' /etc/apt/sources.list | awk '{print $2}' | grep -m1 '/debian/\?$' || true)
mirror=${mirror:-http://deb.debian.org/debian}
echo "fresh-debian-check: commit $commit, mirror $mirror, root file systems under $base, logs in $logs"

cleanup
start=$SECONDS
if debootstrap --variant=minbase bookworm "$clean" "$mirror" >"$logs/debootstrap.log" 2>&1; then
  record ok $((SECONDS - start)) "debootstrap a minimal bookworm"
else
  record FAIL $((SECONDS - start)) "debootstrap (see $logs/debootstrap.log)"
  exit 1
fi
# The same sources as this machine (updates and security too), and its resolver.
if ls /etc/apt/sources.list.d/*.sources >/dev/null 2>&1; then
  grep -l "$mirror" /etc/apt/sources.list.d/*.sources | while read -r f; do cp "$f" "$clean/etc/apt/sources.list.d/"; done
  [ -z "$(ls "$clean/etc/apt/sources.list.d/")" ] || : >"$clean/etc/apt/sources.list"
fi
cp /etc/resolv.conf "$clean/etc/resolv.conf" 2>/dev/null || true
in_root "$clean" useradd -m -s /bin/bash dev
cp -a "$clean" "$buildfs"
cp -a "$clean" "$runfs"
rm -rf "$clean"

# ---- The build machine: a clean clone, the README's commands. ----
if [ -n "$given_deb" ]; then
  rm -rf "$buildfs"
  cp "$given_deb" "$logs/"
  deb=$logs/$(basename "$given_deb")
else
mount_into "$buildfs"
git clone -q --no-checkout "$repo" "$buildfs/home/dev/velmora"
git -C "$buildfs/home/dev/velmora" -c advice.detachedHead=false checkout -q "$commit"
in_root "$buildfs" chown -R dev:dev /home/dev/velmora

# Without root and without sudo: one message naming the packages and the command.
start=$SECONDS
as_user "$buildfs" 'cd ~/velmora && bash scripts/run.sh' >"$logs/no-sudo.log" 2>&1
status=$?
if [ $status -ne 0 ] && grep -q 'apt-get install -y .*qt6-base-dev' "$logs/no-sudo.log" &&
   ! grep -q 'command not found' "$logs/no-sudo.log"; then
  record ok $((SECONDS - start)) "without sudo: exit $status, advice: $(grep -m1 'apt-get install' "$logs/no-sudo.log" | cut -c1-60)..."
else
  record FAIL $((SECONDS - start)) "without sudo (exit $status, see $logs/no-sudo.log)"
fi

# A user with sudo (what the README asks for), sudo itself installed by root.
in_root "$buildfs" apt-get update -qq >"$logs/sudo-install.log" 2>&1
in_root "$buildfs" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq sudo >>"$logs/sudo-install.log" 2>&1
echo 'dev ALL=(ALL) NOPASSWD: ALL' >"$buildfs/etc/sudoers.d/dev"
chmod 440 "$buildfs/etc/sudoers.d/dev"

# The first command builds and starts the desktop program: under Xvfb it must
# show a window with the templates loaded. The examples are the second use.
start=$SECONDS
as_user "$buildfs" 'cd ~/velmora && bash scripts/setup-deps.sh' >"$logs/setup-deps.log" 2>&1
status=$?
record "$([ $status -eq 0 ] && echo ok || echo FAIL)" $((SECONDS - start)) "scripts/setup-deps.sh as a user with sudo (exit $status)"
start=$SECONDS
as_user "$buildfs" 'cd ~/velmora
  Xvfb :7 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 & x=$!
  sleep 2
  # run.sh ends by exec-ing the program: its process becomes velmora.
  DISPLAY=:7 bash scripts/run.sh & r=$!
  while kill -0 $r 2>/dev/null && [ "$(cat /proc/$r/comm 2>/dev/null)" != velmora ]; do sleep 1; done
  sleep 5
  if [ "$(cat /proc/$r/comm 2>/dev/null)" = velmora ]; then echo "velmora is running"; kill $r; fi
  wait $r; echo "run.sh exit status $?"; kill $x' >"$logs/run.log" 2>&1
if grep -q 'velmora is running' "$logs/run.log" && [ -n "$(ls "$buildfs/home/dev/velmora/build/release/Template/" 2>/dev/null)" ]; then
  record ok $((SECONDS - start)) "bash scripts/run.sh: built, velmora ran under Xvfb with $(ls "$buildfs/home/dev/velmora/build/release/Template" | wc -l) templates, $(ls "$buildfs/home/dev/velmora/build/release/Help" | wc -l) help topics"
else
  record FAIL $((SECONDS - start)) "bash scripts/run.sh (see $logs/run.log)"
fi
start=$SECONDS
as_user "$buildfs" 'cd ~/velmora && bash scripts/run.sh examples && mkdir -p ~/elsewhere && cd ~/elsewhere &&
  cp ~/velmora/examples/rings.vokt . && bash ~/velmora/scripts/run.sh render rings.vokt -o rings.png' >"$logs/examples.log" 2>&1
status=$?
pictures=$buildfs/home/dev/velmora/build/pictures
rotated=$(stat -c %s "$pictures/rotate-channels.png" 2>/dev/null || echo 0)
if [ $status -eq 0 ] && [ -s "$buildfs/home/dev/elsewhere/rings.png" ] && [ "$rotated" -gt 20000 ]; then
  record ok $((SECONDS - start)) "run.sh examples ($(ls "$pictures" | wc -l) pictures, rotate-channels.png $rotated bytes) and a render in another folder"
else
  record FAIL $((SECONDS - start)) "run.sh examples / render elsewhere (exit $status, rotate-channels.png $rotated bytes; see $logs/examples.log)"
fi

start=$SECONDS
as_user "$buildfs" 'cd ~/velmora && bash scripts/test.sh' >"$logs/test.log" 2>&1
status=$?
tests=$(grep -E 'tests passed|tests failed' "$logs/test.log" | tr '\n' ' ')
record "$([ $status -eq 0 ] && echo ok || echo FAIL)" $((SECONDS - start)) "bash scripts/test.sh (exit $status): $tests"
grep -E '^package .* checked|^lintian' "$logs/test.log" || true
deb=$(ls "$buildfs"/home/dev/velmora/build/release/velmora_*.deb 2>/dev/null | head -n1)
for ((i = ${#mounted[@]} - 1; i >= 0; i--)); do umount "${mounted[i]}" || umount -l "${mounted[i]}"; done
mounted=()
if [ -z "$deb" ]; then
  record FAIL 0 "no package was built"
else
  cp "$deb" "$logs/"
  deb=$logs/$(basename "$deb")
fi
[ "${KEEP_ROOTFS:-0}" = 1 ] || rm -rf "$buildfs"
fi

# ---- A user's machine: the package, no build tools. ----
if [ -n "$deb" ]; then
  mount_into "$runfs"
  cp "$deb" "$runfs/tmp/"
  start=$SECONDS
  # xvfb and xdotool only to show and find the window here.
  if in_root "$runfs" sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -q /tmp/$(basename "$deb") xvfb xdotool" \
      >"$logs/package-install.log" 2>&1; then
    record ok $((SECONDS - start)) "apt-get install ./$(basename "$deb") in a fresh root file system"
  else
    record FAIL $((SECONDS - start)) "package installation (see $logs/package-install.log)"
  fi
  tools=$(in_root "$runfs" sh -c 'for t in gcc g++ cc c++ cmake ninja make; do command -v $t; done' || true)
  [ -z "$tools" ] || record FAIL 0 "build tools present on the user's machine: $tools"
  start=$SECONDS
  as_user "$runfs" 'set -e; velmora-cli --version; velmora-cli --help | grep -q -- "--dump=tokens|intercode|steps";
    [ "$(echo "1+2*3" | velmora-cli calc)" = 7 ]; mkdir -p pics; cd pics
    printf "<VOKT 1.0>\r\n<system>\r\nImageWidth = 64\r\nImageHeight = 32\r\n</system>\r\n<header>\r\n</header>\r\n<loop>\r\nr = x\r\ng = y\r\nb = 128\r\n</loop>\r\n" > ramp.vokt
    velmora-cli render ramp.vokt -o ramp.png; velmora-cli render ramp.vokt --input ramp.png -o ramp.jpg
    ls -l; LANG=C.UTF-8 MANWIDTH=80 man --warnings velmora-cli 2>&1 >/dev/null | (! grep .); LANG=C.UTF-8 MANWIDTH=80 man --warnings velmora 2>&1 >/dev/null | (! grep .)
    LANG=C.UTF-8 man velmora-cli | head -n 3; velmora --version' >"$logs/package-cli.log" 2>&1
  status=$?
  record "$([ $status -eq 0 ] && echo ok || echo FAIL)" $((SECONDS - start)) "installed velmora-cli: --version, calc, render PNG, PNG->JPEG, manual pages (exit $status; $(head -n1 "$logs/package-cli.log"))"
  start=$SECONDS
  as_user "$runfs" 'Xvfb :8 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 & x=$!; sleep 2
    DISPLAY=:8 velmora >velmora.log 2>&1 & v=$!
    for i in $(seq 60); do DISPLAY=:8 xdotool search --onlyvisible --class velmora >/dev/null 2>&1 && break; sleep 1; done
    echo "window: $(DISPLAY=:8 xdotool search --onlyvisible --class velmora | head -n1 | xargs -r -I{} env DISPLAY=:8 xdotool getwindowname {})"
    sleep 2; kill -0 $v && echo "velmora is running"; echo "templates: $(ls ~/.local/share/velmora/Template | wc -l)"
    kill $v; wait $v; kill $x; cat velmora.log' >"$logs/package-gui.log" 2>&1
  if grep -q 'velmora is running' "$logs/package-gui.log" && [ -d "$runfs/home/dev/.local/share/velmora/作品" ]; then
    record ok $((SECONDS - start)) "installed velmora under Xvfb: $(grep -m1 '^window:' "$logs/package-gui.log"), $(grep -m1 '^templates:' "$logs/package-gui.log") copied"
  else
    record FAIL $((SECONDS - start)) "installed velmora under Xvfb (see $logs/package-gui.log)"
  fi
fi

echo
echo "fresh-debian-check summary (commit ${commit:0:12}):"
printf '  %s\n' "${summary[@]}"
[ $failures -eq 0 ] && echo "fresh-debian-check: all passed" || echo "fresh-debian-check: $failures failed"
[ $failures -eq 0 ]
