#!/usr/bin/env bash
# Builds varno and varno-report when missing, turns the example logs into
# metadata files under out/example, lists what was written, and writes the
# report page out/example/report.html.
# Usage: tools/run_example.sh [extra varno options]
# BUILD_DIR selects another build folder (default build).
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

build_dir=${BUILD_DIR:-build}
varno=$build_dir/bin/varno
report=$build_dir/bin/varno-report
if [ ! -x "$varno" ] || [ ! -x "$report" ]; then
  echo "== building varno and varno-report"
  cmake -S . -B "$build_dir" -G Ninja >/dev/null
  cmake --build "$build_dir" --target varno varno-report
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
echo "== $report $out"
report_status=0
"$report" "$out" || report_status=$?
echo "== open the report page in a browser: file://$repo/$out/report.html"
if [ "$status" -ne 0 ]; then
  echo "varno exited with status $status" >&2
fi
if [ "$report_status" -ne 0 ]; then
  echo "varno-report exited with status $report_status" >&2
  [ "$status" -ne 0 ] || status=$report_status
fi
exit "$status"
