#!/bin/sh
# Index-edit benchmark: writes an AVI file of 200,000 small uncompressed frames
# with PCM audio, 2,000 of them null frames, then prints the median wall time
# of 5 whole-process runs (each on a fresh copy, the copy not timed) of
#  - mirdex --remove-null-frames F, against mirdex --report F (goal: at most 3x)
#    and against ffmpeg -i F -c copy out.avi (goal: at least 20x faster).
# Usage: bench/indexedit/run.sh RELEASE_BUILD_DIR [WORK_DIR]
set -e
. "$(dirname "$0")/../common.sh"
work=${2:-${TMPDIR:-/tmp}/mirdex-indexedit-bench}
make="$build/bench/indexedit/indexedit_bench_file"
need_built "$mirdex" "$make"
mkdir -p "$work"
src="$work/nulls_200k.avi"
[ -s "$src" ] || "$make" "$src" 200000
ls -l "$src" | awk '{print $5, $9}'

python3 - "$mirdex" "$src" "$work" <<'PY'
import os, shutil, statistics, subprocess, sys, time
mirdex, src, work = sys.argv[1:4]
copy = os.path.join(work, "edit.avi")
out = os.path.join(work, "copy.avi")

def median(cmd, fresh=False, repeats=5):
    """Median wall time of `repeats` runs after one that warms the page cache;
    with `fresh` each run gets a new copy of the file first."""
    times = []
    for i in range(repeats + 1):
        if fresh:
            # On disk before the run, as a capture is: the edit's own syncs
            # should not pay for writing out the copy.
            shutil.copyfile(src, copy)
            fd = os.open(copy, os.O_RDONLY)
            os.fsync(fd)
            os.close(fd)
        t0 = time.perf_counter()
        r = subprocess.run(cmd, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        t = time.perf_counter() - t0
        if r.returncode != 0:
            sys.exit(f"{cmd} failed ({r.returncode})")
        if i:
            times.append(t)
        last = r.stdout
    return statistics.median(times), last

edit, said = median([mirdex, "--remove-null-frames", copy], fresh=True)
print("  " + said.strip().replace(copy, "F"))
report, _ = median([mirdex, "--report", src])
ffmpeg, _ = median(["ffmpeg", "-v", "error", "-y", "-i", src, "-c", "copy", out])
check = subprocess.run([mirdex, "--report", copy], capture_output=True, text=True).stdout
frames = [l.strip() for l in check.splitlines() if l.strip().startswith(("frames:", "null frames:"))]
print("  after the edit: " + "; ".join(frames))
print(f"mirdex --remove-null-frames {edit*1000:.1f} ms, mirdex --report {report*1000:.1f} ms: "
      f"{edit/report:.2f}x the report (goal <= 3x)")
print(f"ffmpeg -c copy {ffmpeg*1000:.1f} ms: remove-null-frames is {ffmpeg/edit:.1f}x faster (goal >= 20x)")
os.remove(out)
PY
