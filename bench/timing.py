"""Whole-process timing for the benchmark scripts (imported by their Python
parts; run.sh passes this folder)."""
import os
import sys
import time


def best_run(cmd, dest, repeats=3, sync=False):
    """Best wall time of `repeats` runs of `cmd` after one that warms the page
    cache, with the CPU time (user + system) of that run. `dest`, the output,
    is removed before each run, so no run pays for truncating the last one's;
    with `sync` the disk is synced too, so no run pays for another's
    write-back."""
    best = (1e30, 0.0)
    for i in range(repeats + 1):
        if os.path.exists(dest):
            os.remove(dest)
        if sync:
            os.sync()
        t0 = time.perf_counter()
        pid = os.fork()
        if pid == 0:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, 1)
            os.dup2(devnull, 2)
            os.execvp(cmd[0], cmd)
        _, status, ru = os.wait4(pid, 0)
        wall = time.perf_counter() - t0
        if status != 0:
            sys.exit(f"{' '.join(cmd)} failed ({status})")
        if i and wall < best[0]:
            best = (wall, ru.ru_utime + ru.ru_stime)
    return best
