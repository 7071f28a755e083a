#!/bin/sh
# AVI save benchmark on a DV capture (720x480 at 29.97 fps, real DV frames
# made by ffmpeg and repeated, 48 kHz stereo 16-bit PCM interleaved per
# frame, idx1), written by save_bench_file:
#  - copy: mirdex --save OUT.avi --copy F on a 2 GB capture, against
#    cp --reflink=never F OUT (goal >= 0.9x) and ffmpeg -i F -c copy OUT.avi
#    (goal >= 1.3x);
#  - recompression to DV: mirdex --save OUT.avi --codec dvsd F against
#    ffmpeg -threads 1 -i F -threads 1 -c:v dvvideo -c:a copy OUT.avi
#    (goal >= 1.0x), on a shorter capture (RECODE_MB, default 300 MB).
# Prints the best of 3 whole-process runs after one that warms the page cache
# (wall time and the CPU time of that run) and the ratios. Outputs go next to
# the input, in WORK_DIR, on the disk a user's would be on: each run starts
# after the last run's output is removed and the disk is synced, so no run
# pays for another's write-back. Every output is checked: frame count, and
# `ffprobe -v warning` silent; the copy's packets must hash as the source's.
# Usage: bench/save/run.sh RELEASE_BUILD_DIR [WORK_DIR]
set -e
. "$(dirname "$0")/../common.sh"
work=${2:-${TMPDIR:-/tmp}/mirdex-save-bench}
make="$build/bench/save/save_bench_file"
need_built "$mirdex" "$make"
mkdir -p "$work"
dv="$work/frames.dv"
big="$work/dv_2gb.avi"
short="$work/dv_short.avi"
[ -s "$dv" ] || ffmpeg -v error -y -f lavfi -i "testsrc2=s=720x480:r=30000/1001" -frames:v 4 \
  -c:v dvvideo -pix_fmt yuv411p -f rawvideo "$dv"
[ -s "$big" ] || "$make" "$dv" "$big" 2000
[ -s "$short" ] || "$make" "$dv" "$short" "${RECODE_MB:-300}"
ls -l "$big" "$short" | awk '{print $5, $9}'

python3 - "$bench" "$mirdex" "$big" "$short" "$work" <<'PY'
import os, platform, subprocess, sys
sys.path.insert(0, sys.argv[1])
from timing import best_run

mirdex, big, short, out = sys.argv[2:6]

def probe(path):
    """(video packets, ffprobe's warnings)."""
    r = subprocess.run(["ffprobe", "-v", "warning", "-count_packets", "-select_streams", "v",
                        "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", path],
                       capture_output=True, text=True)
    return int(r.stdout.strip() or -1), r.stderr.strip()

def packet_hashes(path):
    r = subprocess.run(["ffmpeg", "-v", "error", "-i", path, "-map", "0", "-c", "copy", "-f", "streamhash",
                        "-hash", "md5", "-"], capture_output=True, text=True, check=True)
    return r.stdout

def check(path, frames):
    n, warnings = probe(path)
    ok = n == frames and not warnings
    return f"{n} frames{'' if n == frames else f' (expected {frames})'}" + \
           (f", ffprobe: {warnings!r}" if warnings else ", ffprobe silent"), ok

print(f"machine: {platform.machine()}, {os.cpu_count()} cores, load average "
      f"{os.getloadavg()[0]:.1f} at the start; outputs in {out} "
      f"({subprocess.run(['df', '--output=source', out], capture_output=True, text=True).stdout.split()[-1]})")
failed = False
ours_out, theirs_out = os.path.join(out, "mirdex.avi"), os.path.join(out, "other.avi")

frames = probe(big)[0]
ours = best_run([mirdex, "--save", ours_out, "--copy", big], ours_out, sync=True)
text, ok = check(ours_out, frames)
same = packet_hashes(ours_out) == packet_hashes(big)
failed |= not ok or not same
print(f"copy, {os.path.getsize(big)} bytes: mirdex --save --copy {ours[0]:.3f} s (cpu {ours[1]:.3f} s), "
      f"output {os.path.getsize(ours_out)} bytes, {text}, packets "
      f"{'as the source' if same else 'DIFFERENT from the source'}")
os.remove(ours_out)
for name, cmd, goal in (("cp --reflink=never", ["cp", "--reflink=never", big, theirs_out], 0.9),
                        ("ffmpeg -c copy", ["ffmpeg", "-v", "error", "-y", "-i", big, "-c", "copy", theirs_out],
                         1.3)):
    theirs = best_run(cmd, theirs_out, sync=True)
    print(f"  {name} {theirs[0]:.3f} s (cpu {theirs[1]:.3f} s): mirdex {theirs[0]/ours[0]:.2f}x "
          f"(goal >= {goal:g}x)")
    os.remove(theirs_out)

frames = probe(short)[0]
ours = best_run([mirdex, "--save", ours_out, "--codec", "dvsd", short], ours_out, sync=True)
text, ok = check(ours_out, frames)
failed |= not ok
theirs = best_run(["ffmpeg", "-v", "error", "-y", "-threads", "1", "-i", short, "-threads", "1", "-c:v", "dvvideo",
                   "-c:a", "copy", theirs_out], theirs_out, sync=True)
print(f"recompression to DV, {frames} frames ({os.path.getsize(short)} bytes): mirdex --save --codec dvsd "
      f"{ours[0]:.3f} s (cpu {ours[1]:.3f} s), {text}; ffmpeg -threads 1 -c:v dvvideo {theirs[0]:.3f} s "
      f"(cpu {theirs[1]:.3f} s): mirdex {theirs[0]/ours[0]:.2f}x (goal >= 1.0x)")
os.remove(ours_out)
os.remove(theirs_out)
print(f"load average {os.getloadavg()[0]:.1f} at the end (2 cores shared: above 2, the figures are noisy)")
sys.exit(1 if failed else 0)
PY
