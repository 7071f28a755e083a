#!/bin/sh
# AVI reader benchmark: makes, with the ffmpeg tool, an OpenDML file of
# 200,000 small MJPEG frames (and PCM audio) in several RIFF parts and an idx1 file of
# 200,000 frames, then prints, measured on this machine in one run:
#  - mirdex --report wall time against ffprobe's probe of the same file,
#  - RebuildAviIndex chunks per second over the OpenDML file (indexes ignored),
#    with the threads it chooses and on one thread, against ffprobe counting
#    the packets,
#  - peak memory of both programs.
# Usage: bench/avi/run.sh RELEASE_BUILD_DIR [WORK_DIR]
set -e
. "$(dirname "$0")/../common.sh"
work=${2:-${TMPDIR:-/tmp}/mirdex-avi-bench}
rebuild="$build/bench/avi/avi_rebuild_bench"
need_built "$mirdex" "$rebuild"
mkdir -p "$work"
frames=200000
odml="$work/odml_200k.avi"
idx1="$work/idx1_200k.avi"
if [ ! -s "$odml" ] || [ ! -s "$work/tiny.jpg" ]; then
  ffmpeg -v error -y -f lavfi -i "testsrc=s=32x24" -frames:v 1 -q:v 10 "$work/tiny.jpg"
  # Small frames at 500 fps with 7.1 32-bit 192 kHz PCM: 400 s of it pass the
  # 1 GiB limit of a RIFF part twice, so ffmpeg writes three parts.
  ffmpeg -v error -y -loop 1 -framerate 500 -i "$work/tiny.jpg" -f lavfi -i "anullsrc=r=192000:cl=7.1" \
    -frames:v $frames -t 400 -c:v copy -c:a pcm_s32le "$odml"
fi
if [ ! -s "$idx1" ]; then
  ffmpeg -v error -y -loop 1 -framerate 25 -i "$work/tiny.jpg" -frames:v $frames -c:v copy "$idx1"
fi
ls -l "$odml" "$idx1" | awk '{print $5, $9}'

python3 - "$mirdex" "$rebuild" "$odml" "$idx1" <<'PY'
import json, os, subprocess, sys, time
mirdex, rebuild, odml, idx1 = sys.argv[1:5]

def run(cmd, repeats=5):
    """Best wall time of `repeats` runs after one that warms the page cache,
    and the peak resident memory (KiB) of one more run."""
    quiet = dict(stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    subprocess.run(cmd, **quiet)
    best = 1e30
    for _ in range(repeats):
        t0 = time.perf_counter()
        subprocess.run(cmd, **quiet)
        best = min(best, time.perf_counter() - t0)
    pid = os.fork()
    if pid == 0:
        devnull = os.open(os.devnull, os.O_WRONLY)
        os.dup2(devnull, 1)
        os.dup2(devnull, 2)
        os.execvp(cmd[0], cmd)
    _, _, ru = os.wait4(pid, 0)
    return best, ru.ru_maxrss

for name, path in (("OpenDML", odml), ("idx1", idx1)):
    rep = json.loads(subprocess.run([mirdex, "--report", "--json", path], capture_output=True).stdout)[0]
    ours, ourMem = run([mirdex, "--report", path])
    theirs, theirMem = run(["ffprobe", "-v", "error", "-show_entries", "format=duration", path])
    print(f"{name} file: {rep['frames']} frames, {rep['riff_parts']} RIFF part(s), index kind {rep['index_kind']}")
    print(f"  mirdex --report {ours*1000:.1f} ms, ffprobe probe {theirs*1000:.1f} ms: "
          f"{theirs/ours:.2f}x faster (goal >= 3x)")
    work = float(subprocess.run([rebuild, "--report", path], capture_output=True, text=True).stdout)
    start, _ = run(["ffprobe", "-version"])
    print(f"  without program start-up: report work {work*1000:.1f} ms in-process, ffprobe probe less its "
          f"start-up ({start*1000:.1f} ms) {max(theirs-start,0)*1000:.1f} ms: {max(theirs-start,0)/work:.1f}x")
    print(f"  peak memory: mirdex --report {ourMem/1024:.1f} MiB, ffprobe {theirMem/1024:.1f} MiB "
          f"({'within' if ourMem <= theirMem else 'ABOVE'} ffprobe's)")

out = subprocess.run([rebuild, odml, "5"], capture_output=True, text=True).stdout.split()
chunks, secs, rate = int(out[0]), float(out[1]), float(out[2])
secs1, rate1 = float(out[4]), float(out[5])
t0 = time.perf_counter()
cnt = subprocess.run(["ffprobe", "-v", "error", "-count_packets", "-select_streams", "v:0",
                      "-show_entries", "stream=nb_read_packets", "-of", "csv=p=0", odml],
                     capture_output=True, text=True).stdout.strip()
ff = time.perf_counter() - t0
ffrate = int(cnt) / ff
print(f"RebuildAviIndex over the OpenDML file (indexes ignored): {chunks} chunks in {secs*1000:.1f} ms = "
      f"{rate/1e6:.2f} M chunks/s (goal >= 1 M/s)")
print(f"  on one thread (the parts walked one after another): {secs1*1000:.1f} ms = {rate1/1e6:.2f} M chunks/s")
print(f"  ffprobe -count_packets: {cnt} packets in {ff*1000:.0f} ms = {ffrate/1e6:.3f} M packets/s; "
      f"rebuild is {rate/ffrate:.1f}x that")
PY
