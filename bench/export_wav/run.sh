#!/bin/sh
# WAVE export benchmark: mirdex --export-wav OUT.wav F against
# ffmpeg -i F -vn -c:a pcm_s16le OUT.wav on
#  - a one-hour DV-shaped capture (720x480 at 29.97 fps, a small video chunk
#    per frame, 48 kHz stereo 16-bit PCM interleaved per frame), written by
#    export_wav_bench_file;
#  - an AVI with 20 minutes of 48 kHz stereo MP3 (192 kb/s) made by ffmpeg:
#    the export includes decoding it.
# Prints, with the input in the page cache, the best of 3 runs of each
# (wall time, and the CPU time of the same run), the ratio ffmpeg / mirdex,
# and whether the samples (the data chunks) of the two outputs are equal.
# Outputs go to OUT_DIR (default /dev/shm when it exists, else WORK_DIR), so
# disk write-back does not blur the figures. Goals: PCM >= 2x, MP3 >= 1.0x.
# Usage: bench/export_wav/run.sh RELEASE_BUILD_DIR [WORK_DIR]
set -e
. "$(dirname "$0")/../common.sh"
work=${2:-${TMPDIR:-/tmp}/mirdex-wav-bench}
make="$build/bench/export_wav/export_wav_bench_file"
need_built "$mirdex" "$make"
mkdir -p "$work"
if [ -z "$OUT_DIR" ]; then
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then OUT_DIR=/dev/shm/mirdex-wav-bench; else OUT_DIR=$work; fi
fi
mkdir -p "$OUT_DIR"
pcm="$work/dv_1h.avi"
mp3="$work/mp3_20min.avi"
[ -s "$pcm" ] || "$make" "$pcm" 3600
if [ ! -s "$mp3" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc=s=32x24" -frames:v 1 -q:v 10 "$work/tiny.jpg"
  ffmpeg -v error -y -loop 1 -framerate 25 -i "$work/tiny.jpg" \
    -f lavfi -i "anoisesrc=r=48000:a=0.3:c=pink,aformat=channel_layouts=stereo" -t 1200 \
    -c:v copy -c:a libmp3lame -b:a 192k "$mp3"
fi
ls -l "$pcm" "$mp3" | awk '{print $5, $9}'

python3 - "$bench" "$mirdex" "$pcm" "$mp3" "$OUT_DIR" <<'PY'
import os, platform, struct, subprocess, sys
sys.path.insert(0, sys.argv[1])
from timing import best_run

mirdex, pcm, mp3, out = sys.argv[2:6]

def data_chunk(path):
    """(offset, size) of the data chunk; RF64 sizes come from ds64."""
    with open(path, "rb") as f:
        head = f.read(12)
        ds64 = None
        while True:
            h = f.read(8)
            if len(h) < 8:
                sys.exit(f"{path}: no data chunk")
            cid, size = h[:4], struct.unpack("<I", h[4:])[0]
            if cid == b"ds64":
                ds64 = struct.unpack("<QQ", f.read(16))[1]
                size -= 16
            if cid == b"data":
                if head[:4] == b"RF64" and size == 0xFFFFFFFF:
                    size = ds64
                return f.tell(), size
            f.seek(size + (size & 1), 1)

def same_samples(a, b):
    (oa, na), (ob, nb) = data_chunk(a), data_chunk(b)
    if na != nb:
        return f"DIFFERENT lengths ({na} and {nb} bytes)"
    r = subprocess.run(["cmp", "-s", "-i", f"{oa}:{ob}", "-n", str(na), a, b])
    return f"equal ({na} bytes)" if r.returncode == 0 else "DIFFERENT samples"

print(f"machine: {platform.machine()}, {os.cpu_count()} cores, load average "
      f"{os.getloadavg()[0]:.1f} at the start; outputs in {out}")
for name, src, goal in (("PCM, 1 h", pcm, 2.0), ("MP3, 20 min", mp3, 1.0)):
    ours_out, theirs_out = os.path.join(out, "mirdex.wav"), os.path.join(out, "ffmpeg.wav")
    ours = best_run([mirdex, "--export-wav", ours_out, src], ours_out)
    theirs = best_run(["ffmpeg", "-v", "error", "-y", "-i", src, "-vn", "-c:a", "pcm_s16le", theirs_out], theirs_out)
    print(f"{name}: mirdex --export-wav {ours[0]:.3f} s (cpu {ours[1]:.3f} s), ffmpeg {theirs[0]:.3f} s "
          f"(cpu {theirs[1]:.3f} s): {theirs[0]/ours[0]:.2f}x faster, cpu {theirs[1]/ours[1]:.2f}x "
          f"(goal >= {goal:g}x); samples {same_samples(ours_out, theirs_out)}; "
          f"output {os.path.getsize(ours_out)} bytes")
    os.remove(ours_out)
    os.remove(theirs_out)
print(f"load average {os.getloadavg()[0]:.1f} at the end (2 cores shared: above 2, the figures are noisy)")
PY
