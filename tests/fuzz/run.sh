#!/bin/sh
# Runs the AVI reader's fuzz target for a while over the synthetic seeds,
# the real samples in tests/samples and the inputs kept in tests/avi/data.
# Usage: tests/fuzz/run.sh BUILD_DIR SECONDS
set -e
build=${1:-build-fuzz}
seconds=${2:-30}
here=$(cd "$(dirname "$0")/../.." && pwd)
seeds="$build/fuzz-seeds"
corpus="$build/fuzz-corpus"
mkdir -p "$seeds" "$corpus"
"$build/tests/fuzz/avi_fuzz_seeds" "$seeds"
# Small real samples as extra seeds (read in place, never copied).
samples=""
for f in "$here"/tests/samples/*.avi; do
  [ -f "$f" ] && [ "$(stat -c %s "$f")" -le 400000 ] && samples="$samples $f"
done
if [ -n "$samples" ]; then
  mkdir -p "$build/fuzz-samples"
  for f in $samples; do ln -sf "$f" "$build/fuzz-samples/$(basename "$f")"; done
fi
ASAN_OPTIONS=detect_leaks=1 "$build/tests/fuzz/avi_reader_fuzz" -max_total_time="$seconds" -max_len=400000 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$corpus" "$seeds" "$build/fuzz-samples" "$here/tests/avi/data" 2>&1 |
  grep -E "stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|Done" || true
# The converter of uncompressed formats (no seeds: its input is a made-up format).
mkdir -p "$build/convert-corpus"
ASAN_OPTIONS=detect_leaks=1 "$build/tests/fuzz/convert_fuzz" -max_total_time="$seconds" -max_len=20000 \
  -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 "$build/convert-corpus" 2>&1 |
  grep -E "stat::number_of_executed_units|stat::new_units_added|ERROR|SUMMARY|Done" || true
test -z "$(ls "$build"/crash-* "$build"/leak-* "$build"/timeout-* 2>/dev/null; ls crash-* leak-* timeout-* 2>/dev/null)"
