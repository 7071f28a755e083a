#!/bin/sh
# Deletion view: ChangeOpenAviParam over 216,000 frames with a PCM chunk per
# frame and 1,000 deletion ranges, measured on this machine (goal <= 10 ms).
# Usage: bench/edit/run.sh RELEASE_BUILD_DIR
set -e
build=$(cd "${1:-build}" && pwd)
bench="$build/bench/edit/bench_deletion_view"
[ -x "$bench" ] || { echo "missing $bench (build the release tree with Google benchmark first)"; exit 2; }
"$bench" --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
