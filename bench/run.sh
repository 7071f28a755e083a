#!/usr/bin/env bash
# Runs every benchmark script (bench/*/run.sh) against a release build.
set -euo pipefail
build=${1:-build}
here=$(cd "$(dirname "$0")" && pwd)
status=0
for script in "$here"/*/run.sh; do
  [ -x "$script" ] || continue
  echo "== $(basename "$(dirname "$script")")"
  "$script" "$build" || status=1
done
exit $status
