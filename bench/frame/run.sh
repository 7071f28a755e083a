#!/usr/bin/env bash
# Frame reader and view kernels, measured in one run on this machine:
#  1. whole-process sequential ReadFrame (bench_readframe) against
#     `ffmpeg -threads 1 ... -f rawvideo -pix_fmt bgr24` on the same files,
#     made here by ffmpeg (720x480: DV, HuffYUV, MJPEG, uncompressed 24-bit,
#     MPEG-4 with 30-frame GOPs);
#  2. the brightness and field-split kernels on a 720x480 frame against memcpy.
set -euo pipefail
build=${1:-build}
frames=${FRAMES:-300}
work=$(mktemp -d "${TMPDIR:-/tmp}/mx-framebench.XXXXXX")
trap 'rm -rf "$work"' EXIT

src="-f lavfi -i testsrc2=size=720x480:rate=30000/1001 -frames:v $frames"
make_file() {  # name, codec options
  ffmpeg -v error -y $src $2 "$work/$1.avi"
}
make_file dv "-c:v dvvideo -pix_fmt yuv411p -s 720x480"
make_file huffyuv "-c:v huffyuv -pix_fmt yuv422p"
make_file mjpeg "-c:v mjpeg -q:v 3 -pix_fmt yuvj422p"
make_file raw24 "-c:v rawvideo -pix_fmt bgr24"
make_file mpeg4 "-c:v mpeg4 -g 30 -bf 0 -q:v 4"

# Best of five wall-clock runs of a command, in seconds.
best_of() {
  local best=
  for _ in 1 2 3 4 5; do
    local t0 t1
    t0=$(date +%s.%N)
    "$@" >/dev/null 2>&1 || true
    t1=$(date +%s.%N)
    best=$(python3 -c "import sys; a=float(sys.argv[1]); b=float(sys.argv[2]); print(b if not a or b<a else a)" "${best:-0}" "$(python3 -c "print($t1-$t0)")")
  done
  echo "$best"
}

printf '%-8s %10s %10s %8s\n' codec "ours f/s" "ffmpeg f/s" ratio
for name in dv huffyuv mjpeg raw24 mpeg4; do
  f="$work/$name.avi"
  cat "$f" >/dev/null  # both read from the page cache
  ours=$(best_of "$build/bench/frame/bench_readframe" "$f")
  theirs=$(best_of ffmpeg -v error -threads 1 -i "$f" -f rawvideo -pix_fmt bgr24 -y /dev/null)
  python3 -c "
import sys
n=$frames; o=float('$ours'); t=float('$theirs')
print(f'%-8s %10.1f %10.1f %7.2fx' % ('$name', n/o, n/t, t/o))"
done

echo
"$build/bench/frame/bench_kernels" --benchmark_min_time=0.5 --benchmark_format=console | tee "$work/kernels.txt"
python3 - "$work/kernels.txt" <<'PY'
import re, sys
rates = {}
for line in open(sys.argv[1]):
    m = re.match(r'(BM_\S+)\s.*?([\d.]+)([GMk])i?B?/s', line)
    if m:
        scale = {'G': 1024**3, 'M': 1024**2, 'k': 1024}[m.group(3)]
        rates[m.group(1)] = float(m.group(2)) * scale
base = rates.get('BM_Memcpy')
for name, r in rates.items():
    if base and name != 'BM_Memcpy':
        print(f"{name}: {r / 2**30:.2f} GiB/s = {r / base:.2f}x memcpy")
PY
