# Sourced by the benchmark scripts after `set -e`, with the release build
# folder as $1: sets $bench (this folder), $build (absolute) and $mirdex.
bench=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-build}" && pwd)
mirdex="$build/src/app/mirdex"

# Stops with status 2 unless every program given is built.
need_built() {
  for p in "$@"; do
    [ -x "$p" ] || { echo "missing $p (build the release tree first)"; exit 2; }
  done
}
