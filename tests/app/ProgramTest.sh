#!/bin/sh
# The mirdex program as a user starts it: the command-line forms that need no
# decoders start without loading Qt or FFmpeg, and --framemd5 reaches the
# decoders in the library beside the program, which has no Qt; every form
# takes a path longer than the old 260-byte limit.
# Usage: ProgramTest.sh MIRDEX MKDEMO
set -u
mirdex=$1
mkdemo=$2
fail() {
  echo "FAILED: $*"
  exit 1
}
needed=$(readelf -d "$mirdex" | grep NEEDED) || fail "readelf cannot read $mirdex"
if echo "$needed" | grep -Eq 'libav|libsw|Qt6'; then
  fail "mirdex itself needs these libraries: $(echo "$needed" | grep -E 'libav|libsw|Qt6')"
fi
# The headless forms that decode load FFmpeg from a library without Qt.
batch="$(dirname "$mirdex")/libmirdex_batch.so"
readelf -d "$batch" | grep NEEDED | grep -q libavcodec || fail "$batch does not load the decoders"
readelf -d "$batch" | grep NEEDED | grep -q Qt6 && fail "$batch needs Qt"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$mkdemo" "$work/demo.avi" >/dev/null || fail "mkdemo"

"$mirdex" --help >"$work/help" || fail "--help exit status $?"
grep -q -- '--report' "$work/help" || fail "--help does not name --report"

"$mirdex" --report --json "$work/demo.avi" >"$work/report.json"
rc=$?
# The demo file has a null frame and a repeated one but nothing wrong.
[ $rc -eq 0 ] || fail "--report exit status $rc: $(cat "$work/report.json")"
python3 - "$work/report.json" <<'PY' || fail "--report --json facts"
import json, sys
r = json.load(open(sys.argv[1]))[0]
assert r["frames"] == 60, r
assert r["null_frames"] == [20], r
assert r["video_description"].startswith("無圧縮24bit"), r
PY

"$mirdex" --framemd5 "$work/demo.avi" >"$work/md5" || fail "--framemd5 exit status $?"
[ "$(wc -l <"$work/md5")" -eq 60 ] || fail "--framemd5 printed $(wc -l <"$work/md5") lines, not 60"
grep -Eqv '^[0-9]+,[0-9a-f]{32}$' "$work/md5" && fail "--framemd5 line not N,MD5: $(grep -Ev '^[0-9]+,[0-9a-f]{32}$' "$work/md5" | head -1)"
# Frame 20 is null (black here); frame 40 repeats the picture of 39.
[ "$(sed -n 21p "$work/md5" | cut -d, -f2)" = "$(head -c 230400 /dev/zero | md5sum | cut -d' ' -f1)" ] ||
  fail "null frame 20 is not black"
[ "$(sed -n 41p "$work/md5" | cut -d, -f2)" = "$(sed -n 40p "$work/md5" | cut -d, -f2)" ] ||
  fail "frame 40 does not repeat frame 39"
[ "$(sed -n 40p "$work/md5" | cut -d, -f2)" != "$(sed -n 39p "$work/md5" | cut -d, -f2)" ] ||
  fail "frames 38 and 39 are the same picture"

"$mirdex" --framemd5 "$work/missing.avi" >/dev/null 2>"$work/err"
rc=$?
[ $rc -eq 2 ] || fail "--framemd5 of a missing file: exit status $rc"
[ -s "$work/err" ] || fail "--framemd5 of a missing file: no message"

# A capture deep in Japanese folders: a path far over the old 260-byte
# limit, each name well under NAME_MAX.
deep=$(cd "$work" && pwd -P)
for level in 01 02 03 04 05 06 07 08 09 10 11; do deep="$deep/撮影データ保存先フォルダ第${level}階層"; done
mkdir -p "$deep" || fail "mkdir of the deep folder"
long="$deep/長時間収録ファイル.avi"
[ "$(printf %s "$long" | wc -c)" -gt 400 ] || fail "the deep path is only $(printf %s "$long" | wc -c) bytes"
cp "$work/demo.avi" "$long" || fail "cp to the deep path"

"$mirdex" --report "$long" >"$work/deep-report" 2>&1
rc=$?
[ $rc -eq 0 ] || fail "--report of the deep path: exit status $rc: $(cat "$work/deep-report")"
[ "$(head -n 1 "$work/deep-report")" = "$long" ] || fail "--report names $(head -n 1 "$work/deep-report")"
grep -q '^  frames: 60 in the index' "$work/deep-report" || fail "--report of the deep path: $(cat "$work/deep-report")"
"$mirdex" --framemd5 "$long" >"$work/deep-md5" || fail "--framemd5 of the deep path: exit status $?"
cmp -s "$work/deep-md5" "$work/md5" || fail "--framemd5 of the deep path differs from the demo's"

# The window's start-up passes the whole name from the command line to the
# file open: the program soon holds the file. The end of the session (SIGTERM)
# closes the window as its close button does, and the file that opened is at
# the top of the recent-file list it writes.
mkdir -p "$work/home" "$work/tmp"
QT_QPA_PLATFORM=offscreen MIRDEX_HOME="$work/home" TMPDIR="$work/tmp" "$mirdex" "$long" \
  >"$work/window-out" 2>&1 &
pid=$!
holds() {
  for fd in /proc/$pid/fd/*; do
    [ "$(readlink "$fd" 2>/dev/null)" = "$long" ] && return 0
  done
  return 1
}
tries=0
until holds; do
  tries=$((tries + 1))
  if [ $tries -gt 300 ] || ! kill -0 $pid 2>/dev/null; then
    kill $pid 2>/dev/null
    wait $pid 2>/dev/null
    fail "the window did not open the deep path: $(cat "$work/window-out")"
  fi
  sleep 0.1
done
kill -TERM $pid
wait $pid
rc=$?
[ $rc -eq 0 ] || fail "the window ended with status $rc on SIGTERM: $(cat "$work/window-out")"
tr -d '\r' <"$work/home/Mirdex.ini" | grep -qxF "File0=$long" ||
  fail "the recent-file list does not start with the deep path: $(cat "$work/home/Mirdex.ini")"
echo "ok"
