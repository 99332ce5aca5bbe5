#!/usr/bin/env bash
# Runs the GUI tests that need a real window system (focus, activation) on a
# private Xvfb display with the openbox window manager.
#   bash scripts/real-window-tests.sh path/to/velmora_gui_tests
set -euo pipefail
tests=$1
work=$(mktemp -d)
cleanup() {
  kill "${wm:-}" "${xvfb:-}" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
exec 3>"$work/display"
Xvfb -displayfd 3 -screen 0 1280x900x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
display=":$(head -n1 "$work/display")"
DISPLAY=$display openbox --startup "touch $work/ready" >/dev/null 2>&1 &
wm=$!
for _ in $(seq 100); do [ -e "$work/ready" ] && break; sleep 0.1; done
[ -e "$work/ready" ] || { echo "the window manager did not start"; exit 1; }
# Under LeakSanitizer: the X and D-Bus client libraries keep some memory for the
# life of the process; that is theirs, not ours.
printf 'leak:libdbus-1.so\nleak:libfontconfig.so\nleak:libxcb\nleak:libX11\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp${LSAN_OPTIONS:+:$LSAN_OPTIONS}"
DISPLAY=$display QT_QPA_PLATFORM=xcb "$tests" --gtest_filter='RealWindow.*'
