#!/usr/bin/env bash
# The waveform strip during step playback of a 720x480 DV file with 48 kHz
# stereo PCM, made here by ffmpeg: playback in the program's window with the
# strip on against the strip off, and the strip's own cost per frame at the
# start and at the end of the file (bench_waveform, offscreen window, a
# scratch settings folder).
set -euo pipefail
build=${1:-build}
frames=${FRAMES:-300}
work=$(mktemp -d "${TMPDIR:-/tmp}/mx-wavebench.XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg -v error -y -f lavfi -i testsrc2=size=720x480:rate=30000/1001 \
  -f lavfi -i "sine=frequency=440:sample_rate=48000,aformat=channel_layouts=stereo" -frames:v "$frames" \
  -c:v dvvideo -pix_fmt yuv411p -c:a pcm_s16le -shortest "$work/dv.avi"
MIRDEX_HOME="$work" QT_QPA_PLATFORM=offscreen "$build/bench/waveform/bench_waveform" "$work/dv.avi"
