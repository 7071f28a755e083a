#!/bin/sh
# Runs every fuzz target for a while: the AVI reader over the synthetic seeds,
# the real samples in tests/samples and the inputs kept in tests/avi/data; the
# WAVE reader over the WAVE samples; the other parsers over seeds of their own.
# SECONDS is shared out: the targets together run about twice as long, each at
# least a few seconds.
# Usage: tests/fuzz/run.sh BUILD_DIR SECONDS
set -e
build=${1:-build-fuzz}
seconds=${2:-30}
here=$(cd "$(dirname "$0")/../.." && pwd)
targets="avi_reader convert bmp_header wave_fmt wave profile reference marks"
count=$(echo $targets | wc -w)
each=$((2 * seconds / count))
[ "$each" -ge 4 ] || each=4
seeds="$build/fuzz-seeds"
others="$build/fuzz-seeds-other"
mkdir -p "$seeds" "$others"
"$build/tests/fuzz/avi_fuzz_seeds" "$seeds" "$others"
# Small real samples as extra seeds (linked, never copied).
mkdir -p "$build/fuzz-samples"
for f in "$here"/tests/samples/*.avi; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 400000 ] && ln -sf "$f" "$build/fuzz-samples/$(basename "$f")"
done
mkdir -p "$build/fuzz-wave-samples"
for f in "$here"/tests/samples/*.wav; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 400000 ] && ln -sf "$f" "$build/fuzz-wave-samples/$(basename "$f")"
done
for t in $targets; do
  corpus="$build/fuzz-corpus/$t"
  mkdir -p "$corpus"
  case $t in
    avi_reader) extra="$seeds $build/fuzz-samples $here/tests/avi/data"; len=400000 ;;
    convert) extra=""; len=20000 ;;
    wave) extra="$build/fuzz-wave-samples"; len=400000 ;;
    *) extra="$others/$t"; len=20000 ;;
  esac
  echo "$t:"
  # shellcheck disable=SC2086
  ASAN_OPTIONS=detect_leaks=1 "$build/tests/fuzz/${t}_fuzz" -max_total_time="$each" -max_len=$len \
    -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$build/" "$corpus" $extra 2>&1 |
    grep -E "stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|Done" || true
done
test -z "$(ls "$build"/crash-* "$build"/leak-* "$build"/timeout-* "$build"/oom-* 2>/dev/null; ls crash-* leak-* timeout-* 2>/dev/null)"
