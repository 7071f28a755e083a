#!/bin/sh
# mirdex --save on files ffmpeg made: copies keep every frame and the audio
# of the view, the new file reads back in ffprobe without a warning, the
# audio is interleaved every 30 frames, clipping cuts or pads the picture,
# DV reference records read back as the source's frames, and a save that is
# refused or fails leaves nothing new at the name.
# Usage: SaveTest.sh MIRDEX
set -u
mirdex=$1
fail() {
  echo "FAILED: $*"
  exit 1
}
command -v ffmpeg >/dev/null && command -v ffprobe >/dev/null || fail "ffmpeg and ffprobe are needed"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
work=$(pwd -P)

make() {  # OUT, then ffmpeg's output options
  out=$1
  shift
  ffmpeg -v error -f lavfi -i testsrc=size=160x120:rate=25 -f lavfi -i sine=frequency=440:sample_rate=48000 \
    -t 2 "$@" "$out" || fail "ffmpeg $out"
}
make mjpeg.avi -c:v mjpeg -c:a pcm_s16le
make mpeg4.avi -c:v mpeg4 -bf 2 -g 12 -c:a pcm_s16le
make raw.avi -c:v rawvideo -pix_fmt bgr24 -c:a pcm_s16le
make mp3.avi -c:v mjpeg -c:a libmp3lame
"$mirdex" --null-frame 7 mjpeg.avi >/dev/null || fail "--null-frame"

# The picture and the samples of the view, as --framemd5 and --export-wav
# read them; the copy's audio may only add silence past the source's end.
same_view() {  # SOURCE COPY [MARKS]
  m=${3:+--marks $3}
  "$mirdex" --framemd5 $m "$1" >a.md5 2>/dev/null || fail "--framemd5 $1"
  "$mirdex" --framemd5 "$2" >b.md5 2>/dev/null || fail "--framemd5 $2"
  cmp -s a.md5 b.md5 || fail "$2 frames differ from $1 $m: $(diff a.md5 b.md5 | head -3)"
  "$mirdex" --export-wav a.wav $m "$1" || fail "--export-wav $1"
  "$mirdex" --export-wav b.wav "$2" || fail "--export-wav $2"
  python3 - a.wav b.wav <<'PY' || fail "$2 audio differs from $1 $m"
import sys
def data(p):
    b = open(p, 'rb').read()
    i = b.index(b'data')
    return b[i + 8:]
a, b = data(sys.argv[1]), data(sys.argv[2])
assert len(b) >= len(a) and b[:len(a)] == a and not any(b[len(a):]), (len(a), len(b))
PY
  [ -z "$(ffprobe -v warning "$2" 2>&1)" ] || fail "ffprobe on $2: $(ffprobe -v warning "$2" 2>&1 | head -3)"
}

printf '[%s]\nDeleteRange=10,19,\n' "$work/mjpeg.avi" >mjpeg.mrk
printf '[%s]\nDeleteRange=3,12,|30,31,\n' "$work/raw.avi" >raw.mrk
"$mirdex" --save c1.avi --copy mjpeg.avi || fail "copy mjpeg: $?"
same_view mjpeg.avi c1.avi
"$mirdex" --save c2.avi --copy --marks mjpeg.mrk mjpeg.avi || fail "copy mjpeg with a deletion range: $?"
same_view mjpeg.avi c2.avi mjpeg.mrk
"$mirdex" --save c3.avi --copy mpeg4.avi || fail "copy mpeg4: $?"
same_view mpeg4.avi c3.avi
"$mirdex" --save c4.avi --copy --marks raw.mrk raw.avi || fail "copy raw: $?"
same_view raw.avi c4.avi raw.mrk
"$mirdex" --save c5.avi --copy mp3.avi || fail "copy with mp3 audio: $?"
same_view mp3.avi c5.avi
"$mirdex" --save c6.avi --copy --audio-codec mp2 mjpeg.avi || fail "mp2 audio: $?"
[ -z "$(ffprobe -v warning c6.avi 2>&1)" ] || fail "ffprobe on the mp2 save: $(ffprobe -v warning c6.avi 2>&1 | head -3)"
# A source on another file system: the chunks cannot be copied by the
# system, so they are read and written.
if shm=$(mktemp -d /dev/shm/mx-save.XXXXXX 2>/dev/null); then
  cp mjpeg.avi "$shm/" && "$mirdex" --save c7.avi --copy "$shm/mjpeg.avi" || fail "copy from $shm: $?"
  same_view "$shm/mjpeg.avi" c7.avi
  rm -rf "$shm"
fi
# DV to DV: the decoder's pictures go to the encoder as they are, so the
# new frames stay within a DV generation's loss of the source's (a round
# trip through RGB, or the wrong picture, gives far less than 60 dB).
ffmpeg -v error -f lavfi -i testsrc=size=720x480:rate=30000/1001 -t 1 -c:v dvvideo -pix_fmt yuv411p dv.avi ||
  fail "ffmpeg dv.avi"
"$mirdex" --save r1.avi --codec dvsd dv.avi || fail "dv to dv: $?"
psnr=$(ffmpeg -i dv.avi -i r1.avi -lavfi "[0:v][1:v]psnr" -f null - 2>&1 | sed -n 's/.* y:\([0-9.]*\) .*/\1/p')
python3 -c "import sys; sys.exit(not float('${psnr:-0}') > 60)" || fail "dv to dv: luma PSNR ${psnr:-?} dB"

# The headers and index of a file, as Python sees them.
cat >avi.py <<'PY'
import struct, sys
def chunks(b, at, end):
    while at + 8 <= end:
        ck, size = b[at:at + 4], struct.unpack('<I', b[at + 4:at + 8])[0]
        yield ck, at + 8, size
        at += 8 + size + (size & 1)
def parse(path):
    b = open(path, 'rb').read()
    f = {'strh': [], 'strf': [], 'movi': 0, 'b': b}
    def walk(at, end):
        for ck, data, size in chunks(b, at, end):
            if ck in (b'RIFF', b'LIST'):
                if b[data:data + 4] == b'movi':
                    f['movi'] = data
                walk(data + 4, data + size)
            elif ck == b'avih':
                f['avih'] = struct.unpack('<14I', b[data:data + 56])
            elif ck in (b'strh', b'strf'):
                f[ck.decode()].append(b[data:data + size])
            elif ck == b'idx1':
                f['idx1'] = [struct.unpack('<4sIII', b[data + i:data + i + 16]) for i in range(0, size, 16)]
    walk(12, len(b))
    return f
def video(f, n):  # the data of the n-th video chunk
    e = [x for x in f['idx1'] if x[0] in (b'00db', b'00dc')][n]
    at = f['movi'] + e[2] + 8
    return f['b'][at:at + e[3]]
PY

# 31 frames: audio before frame 0 (30 frames) and before frame 30 (one).
"$mirdex" --save s31.avi --copy --range 5-35 mjpeg.avi || fail "31 frames: $?"
"$mirdex" --save vo.avi --copy --video-only mjpeg.avi || fail "video only: $?"
python3 - <<'PY' || fail "31-frame save or video only"
import sys
sys.path.insert(0, '.')
from avi import parse
f = parse('s31.avi')
kinds = [e[0] for e in f['idx1']]
assert kinds.count(b'01wb') == 2 and kinds[0] == b'01wb' and kinds[31] == b'01wb', kinds
sizes = [e[3] for e in f['idx1'] if e[0] == b'01wb']
assert sizes == [30 * 1920 * 2, 1920 * 2], sizes
assert f['avih'][4] == 31 and f['avih'][6] == 2, f['avih']
v = parse('vo.avi')
assert v['avih'][6] == 1 and len(v['strh']) == 1, v['avih']
assert all(e[0] != b'01wb' for e in v['idx1'])
null = [e for e in v['idx1'] if e[3] == 0]
assert len(null) == 1 and null[0][2] == 0, null
PY

# Clipping: the picture cut out of the unclipped one, or inside black.
"$mirdex" --save u0.avi --range 3-3 --video-only raw.avi || fail "uncompressed: $?"
"$mirdex" --save u1.avi --range 3-3 --video-only --clip 2,4,6,8 raw.avi || fail "clip: $?"
"$mirdex" --save u2.avi --range 3-3 --video-only --clip -2,-4,-6,-8 raw.avi || fail "negative clip: $?"
python3 - <<'PY' || fail "clipping"
import struct, sys
sys.path.insert(0, '.')
from avi import parse, video
def check(path, w, h):
    f = parse(path)
    bi = struct.unpack('<IiiHHIIiiII', f['strf'][0][:40])
    rc = struct.unpack('<4h', f['strh'][0][48:56])
    assert (f['avih'][8], f['avih'][9], bi[1], bi[2], rc[2], rc[3]) == (w, h, w, h, w, h), (path, bi, rc)
    return video(f, 0)
def row(p, w, y):  # bottom-up rows, 4-byte aligned
    s = (3 * w + 3) & ~3
    return p[s * y:s * y + 3 * w]
src = check('u0.avi', 160, 120)
cut = check('u1.avi', 146, 114)
for y in range(114):
    assert row(cut, 146, y) == row(src, 160, y + 4)[18:18 + 3 * 146], y
pad = check('u2.avi', 174, 126)
for y in range(126):
    r = row(pad, 174, y)
    if 4 <= y < 124:
        assert r == bytes(18) + row(src, 160, y - 4) + bytes(24), y
    else:
        assert not any(r), y
PY

# DV reference records: CRC of the upper-cased name, offset, size, name;
# read back through the frame reader as the source's own frames.
mkdir sub
ffmpeg -v error -f lavfi -i testsrc=size=720x480:rate=30000/1001 -f lavfi -i sine=sample_rate=48000 -t 0.5 \
  -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le sub/Source.avi || fail "ffmpeg DV"
"$mirdex" --save ref.avi --dv-reference sub/Source.avi || fail "DV reference: $?"
"$mirdex" --framemd5 sub/Source.avi >a.md5 2>/dev/null
"$mirdex" --framemd5 ref.avi >b.md5 2>/dev/null || fail "--framemd5 of the reference file"
cmp -s a.md5 b.md5 || fail "the reference file's frames differ from the source's"
python3 - "$work/sub/Source.avi" <<'PY' || fail "reference record"
import struct, sys, zlib
sys.path.insert(0, '.')
from avi import parse, video
name = sys.argv[1].upper().encode()
src = parse('sub/Source.avi')
f = parse('ref.avi')
assert f['strh'][0][4:8] == b'dvrs'
r = video(f, 1)
crc, offset, size = struct.unpack('<III', r[:12])
assert crc == zlib.crc32(name) and r[12:12 + len(name)] == name, r[:40]
assert len(r) % 4 == 0 and 1 <= len(r) - 12 - len(name) <= 4 and not any(r[12 + len(name):])
assert src['b'][offset:offset + size] == video(src, 1), (offset, size)
PY
"$mirdex" --save bad.avi --dv-reference mjpeg.avi 2>/dev/null && fail "DV reference of an MJPEG file saved"
[ -e bad.avi ] && fail "a refused DV reference save left bad.avi"

# A name that is an opened file, also through a link, is refused before
# anything is written.
ln -s mjpeg.avi link.avi
before=$(md5sum <mjpeg.avi)
"$mirdex" --save link.avi --copy mjpeg.avi 2>err && fail "saving over the opened file through a link"
grep -q '保存するAVIファイル名は開いているAVIファイル名です!' err || fail "refusal message: $(cat err)"
[ -L link.avi ] && [ "$(md5sum <mjpeg.avi)" = "$before" ] || fail "the refused save changed the files"
"$mirdex" --save "$work/./mjpeg.avi" --copy mjpeg.avi 2>/dev/null && fail "saving over the opened file by another path"

# Out of space: the earlier file of the name stays and no temporary is left.
echo earlier >full.avi
ls >before.ls
(ulimit -f 200; exec "$mirdex" --save full.avi --uncompressed raw.avi) 2>err && fail "a save past the size limit succeeded"
grep -q 'full.avi' err || fail "the failure does not name the file: $(cat err)"
[ "$(cat full.avi)" = earlier ] || fail "the earlier full.avi was replaced"
ls | cmp -s - before.ls || fail "the failed save left files: $(ls | diff before.ls - )"
echo "SaveTest passed"
