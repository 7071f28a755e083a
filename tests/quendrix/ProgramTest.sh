#!/bin/sh
# The quendrix program as a user starts it: its window reads and writes
# Quendrix.ini in its own settings folder (QUENDRIX_HOME here) and never
# touches Mirdex's settings.
# Usage: ProgramTest.sh QUENDRIX
set -u
quendrix=$1
fail() {
  echo "FAILED: $*"
  exit 1
}
work=$(mktemp -d)
pid=
trap '[ -n "$pid" ] && kill -KILL "$pid" 2>/dev/null; rm -rf "$work"' EXIT
mkdir "$work/quendrix" "$work/mirdex" "$work/home"
printf '[Setting]\r\nRange=1234\r\n' >"$work/quendrix/Quendrix.ini"

QUENDRIX_HOME=$work/quendrix MIRDEX_HOME=$work/mirdex HOME=$work/home XDG_CONFIG_HOME=$work/home/.config \
  QT_QPA_PLATFORM=offscreen "$quendrix" >"$work/out" 2>&1 &
pid=$!
# The window is up once the program catches SIGTERM; the signal then closes
# it as its close button does.
tries=0
while :; do
  mask=$(sed -n 's/^SigCgt:[[:space:]]*//p' "/proc/$pid/status" 2>/dev/null)
  [ -z "$mask" ] && fail "quendrix ended before its window was up: $(cat "$work/out")"
  [ $((0x$mask >> 14 & 1)) -eq 1 ] && break
  tries=$((tries + 1))
  [ $tries -gt 600 ] && fail "quendrix's window did not come up in 60 s"
  sleep 0.1
done
kill -TERM "$pid"
wait "$pid"
rc=$?
pid=
[ $rc -eq 0 ] || fail "quendrix exit status $rc after SIGTERM: $(cat "$work/out")"

ini=$(cat "$work/quendrix/Quendrix.ini")
echo "$ini" | grep -q '^Range=1234' || fail "Quendrix.ini lost its setting: $ini"
echo "$ini" | grep -q '^\[Window\]' || fail "the window did not write Quendrix.ini at close: $ini"
others=$(find "$work" -name 'Mirdex.ini*')
[ -z "$others" ] || fail "Quendrix wrote $others"
echo "ok"
