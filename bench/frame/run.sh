#!/usr/bin/env bash
# Frame-view kernels on a 720x480 frame: bytes per second against memcpy.
set -euo pipefail
build=${1:-build}
"$build/bench/frame/bench_kernels" --benchmark_min_time=0.5 --benchmark_format=console | tee /tmp/mx-kernels.txt
awk '/^BM_/ { for (i = 1; i <= NF; ++i) if ($i ~ /bytes_per_second=|\/s$/) { } }' /tmp/mx-kernels.txt >/dev/null
python3 - /tmp/mx-kernels.txt <<'PY'
import re, sys
rates = {}
for line in open(sys.argv[1]):
    m = re.match(r'(BM_\S+)\s.*?([\d.]+)([GMk]i)B/s', line)
    if m:
        scale = {'Gi': 1024**3, 'Mi': 1024**2, 'ki': 1024}[m.group(3)]
        rates[m.group(1)] = float(m.group(2)) * scale
base = rates.get('BM_Memcpy')
for name, r in rates.items():
    if base and name != 'BM_Memcpy':
        print(f"{name}: {r / 2**30:.2f} GiB/s = {r / base:.2f}x memcpy")
PY
