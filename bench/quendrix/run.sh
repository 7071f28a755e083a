#!/usr/bin/env bash
# Quendrix's headless form against cp on a 1-hour 48 kHz 16-bit stereo WAVE
# (about 691 MB, made here): throughput as a ratio of cp's (cp copies inside
# the kernel; dd shows what a plain read/write loop gets), and peak memory,
# also for a 6-minute file to show that memory does not grow with the length.
# Usage: bench/quendrix/run.sh BUILD_DIR   (a release build with target quendrix)
set -euo pipefail
build=$(cd "${1:-build}" && pwd)
exe="$build/src/quendrix/quendrix"
[ -x "$exe" ] || { echo "no $exe: build the quendrix target first" >&2; exit 1; }
command -v sox >/dev/null || { echo "sox is needed (make deps)" >&2; exit 1; }
work=$(mktemp -d "${TMPDIR:-/tmp}/quendrix-bench.XXXXXX")
trap 'rm -rf "$work"' EXIT
export QUENDRIX_HOME="$work"  # keep the user's settings out of it
runs=${RUNS:-5}

now() { date +%s.%N; }
# Wall time of one run writing $1, started with the old output gone and no
# dirty pages pending, so that every run meets the same file-system state.
timed() {
  local t0 t1
  rm -f "$1"
  shift
  sync
  t0=$(now)
  "$@" >/dev/null
  t1=$(now)
  echo "$t1 - $t0" | bc -l
}
min() { if [ -z "$1" ] || [ "$(echo "$2 < $1" | bc -l)" = 1 ]; then echo "$2"; else echo "$1"; fi; }
peak_kb() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -1; }

echo "making test files..."
# Two tones and a little noise, so every period has a real choice to make.
sox -q -n -r 48000 -c 2 -b 16 "$work/long.wav" synth 3600 sine 440 sine 661 synth 3600 pinknoise amod 0.02 0.98 gain -6
sox -q -n -r 48000 -c 2 -b 16 "$work/short.wav" synth 360 sine 440 sine 661 synth 360 pinknoise amod 0.02 0.98 gain -6
bytes=$(stat -c %s "$work/long.wav")
cat "$work/long.wav" >/dev/null

# Rounds alternate the commands, so a busy moment of the machine hurts all alike.
tcp= tdd= tq= tqx=
for _ in $(seq "$runs"); do
  tcp=$(min "$tcp" "$(timed "$work/copy.wav" cp "$work/long.wav" "$work/copy.wav")")
  tdd=$(min "$tdd" "$(timed "$work/copy.wav" dd if="$work/long.wav" of="$work/copy.wav" bs=1M status=none)")
  tq=$(min "$tq" "$(timed "$work/out.wav" "$exe" --output "$work/out.wav" --range 10000 --dispose 1 --shorten --no-keep-size "$work/long.wav")")
  tqx=$(min "$tqx" "$(timed "$work/out.wav" "$exe" --output "$work/out.wav" --range 4410 --dispose 1 --extend --keep-size "$work/long.wav")")
done
rm -f "$work/copy.wav"
# What starting the program costs (it links Qt for its window), included above.
tstart=
for _ in $(seq "$runs"); do
  t0=$(now)
  "$exe" --help >/dev/null
  tstart=$(min "$tstart" "$(echo "$(now) - $t0" | bc -l)")
done
mem_long=$(peak_kb "$exe" --output "$work/out.wav" --range 10000 --dispose 1 "$work/long.wav")
mem_short=$(peak_kb "$exe" --output "$work/out.wav" --range 10000 --dispose 1 "$work/short.wav")
mem_cp=$(peak_kb cp "$work/long.wav" "$work/copy.wav")

mb=$(echo "$bytes / 1000000" | bc -l)
printf 'input: %.0f MB (1 h, 48 kHz, 16-bit, stereo), best of %d runs\n' "$mb" "$runs"
printf 'cp                          %6.3f s  %7.1f MB/s\n' "$tcp" "$(echo "$mb / $tcp" | bc -l)"
printf 'dd bs=1M (read/write loop) %6.3f s  %7.1f MB/s  ratio vs cp %.2fx\n' "$tdd" "$(echo "$mb / $tdd" | bc -l)" \
  "$(echo "$tcp / $tdd" | bc -l)"
printf 'quendrix shorten 10000/1    %6.3f s  %7.1f MB/s  ratio vs cp %.2fx\n' "$tq" "$(echo "$mb / $tq" | bc -l)" \
  "$(echo "$tcp / $tq" | bc -l)"
printf 'quendrix extend+keep 4410/1 %6.3f s  %7.1f MB/s  ratio vs cp %.2fx\n' "$tqx" "$(echo "$mb / $tqx" | bc -l)" \
  "$(echo "$tcp / $tqx" | bc -l)"
printf 'quendrix start-up alone      %6.3f s\n' "$tstart"
printf 'peak memory: quendrix %d KB on 1 h, %d KB on 6 min; cp %d KB\n' "$mem_long" "$mem_short" "$mem_cp"
