#!/bin/sh
# zub answers --help and --version anywhere, and without a display says so in one line.
set -u
zub=$1
fail() { echo "FAIL: $*"; exit 1; }
nodisplay() { env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$@"; }

nodisplay "$zub" --help | grep -q '^Usage: zub' || fail "zub --help without a display"
nodisplay "$zub" --version | grep -q '^zub [0-9]' || fail "zub --version without a display"
err=$(nodisplay "$zub" 2>&1 >/dev/null)
status=$?
[ "$status" -eq 1 ] || fail "zub without a display: exit $status, not 1"
[ "$(printf '%s\n' "$err" | wc -l)" -eq 1 ] && printf '%s' "$err" | grep -q 'no display' ||
  fail "zub without a display: not one line saying so: $err"
err=$(DISPLAY=:9999 env -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$zub" 2>&1 >/dev/null)
[ $? -eq 1 ] && printf '%s' "$err" | grep -q 'cannot open the display :9999' ||
  fail "zub with a display that does not answer: $err"
echo "zub: help and version without a display, one line when there is none"
