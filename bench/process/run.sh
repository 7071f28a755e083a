#!/usr/bin/env bash
# Step playback through the driver against ReadFrame alone, on a 720x480 DV
# file made here by ffmpeg; and the title rewrites of an operation with
# progress. Best of five rounds in one process (bench_playback).
set -euo pipefail
build=${1:-build}
frames=${FRAMES:-300}
work=$(mktemp -d "${TMPDIR:-/tmp}/mx-playbench.XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi -i testsrc2=size=720x480:rate=30000/1001 -frames:v "$frames" \
  -c:v dvvideo -pix_fmt yuv411p "$work/dv.avi"
"$build/bench/process/bench_playback" "$work/dv.avi"
