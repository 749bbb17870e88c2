#!/usr/bin/env bash
# Builds varno when it is missing, turns the example logs into metadata files
# under out/example and lists what was written.
# Usage: tools/run_example.sh [extra varno options]
# BUILD_DIR selects another build folder (default build).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

build_dir=${BUILD_DIR:-build}
varno=$build_dir/bin/varno
if [ ! -x "$varno" ]; then
  echo "== building varno"
  cmake -S . -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" --target varno
fi

out=out/example
rm -rf "$out"  # a fresh run each time, so every day is processed
mkdir -p "$out"
echo "== $varno --stat=ALL --srcdir=examples/logs --outdir=$out -v $*"
status=0
"$varno" --stat=ALL --srcdir=examples/logs --outdir="$out" -v "$@" || status=$?

echo "== metadata files in $repo/$out"
(cd "$out" && find . -type f | sed 's|^\./||' | LC_ALL=C sort | while read -r f; do
  printf '%8d  %s\n' "$(wc -c <"$f")" "$f"
done)
if [ "$status" -ne 0 ]; then
  echo "varno exited with status $status" >&2
fi
exit "$status"
