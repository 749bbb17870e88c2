#!/usr/bin/env bash
# Times the HTTP metadata and the merge of results.
#
#   bench/http_bench.sh [--lines N] [--files F] [--keep]
#       one generated combined proxy log day of N lines (default 2 000 000):
#       varno --stat=HTTP against the mawk program bench/mawk/http.awk and
#       wc -l; then F generated result files of 10 000 lines each (default
#       100): varno --merge of the first F/2 and of all F (linear: about 2x).
#
# Data goes to bench/data/ (kept between runs, regenerated when the options or
# genproxy change), outputs to bench/data/out-http/ (removed unless --keep).
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=2000000
FILES=100
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --lines=*) LINES=${1#*=}; shift ;;
    --files) FILES=$2; shift 2 ;;
    --files=*) FILES=${1#*=}; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,12p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

ensure_tools
GENPROXY="$BUILD_DIR/bin/genproxy"
[ -x "$GENPROXY" ] || cmake --build "$BUILD_DIR" --target genproxy
GENLOGS=$GENPROXY  # generate() stamps the data with this binary
DATA=bench/data/http-$LINES
generate "$DATA" --days 1 --start 20240101 --lines-per-day "$LINES" --seed 42 --quiet

OUT=bench/data/out-http
rm -rf "$OUT"
mkdir -p "$OUT/mawk"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT

LOG=$DATA/kelb20240101.log
cat "$LOG" >/dev/null  # warm the page cache
lines=$(file_lines "$LOG"); bytes=$(file_bytes "$LOG")
measure /dev/null /dev/null wc -l "$LOG"; add_row "wc -l" "$lines" "$bytes"; wc=$WALL
measure "$OUT/http.out" "$OUT/http.err" "$VARNO" --stat=HTTP --srcdir="$DATA" --outdir="$OUT/varno" -v
add_row "varno --stat=HTTP" "$lines" "$bytes"; varno=$WALL
measure /dev/null /dev/null mawk -v out="$OUT/mawk" -f bench/mawk/http.awk "$LOG"
add_row "mawk http.awk" "$lines" "$bytes"; mawk=$WALL

# Result files: 10 000 lines each, the names of each file partly shared with
# the others, volumes in KiB, a series of 15-minute buckets.
RESULTS=bench/data/results-$FILES
if [ ! -f "$RESULTS/.done" ]; then
  rm -rf "$RESULTS"
  mkdir -p "$RESULTS"
  for i in $(seq 1 "$FILES"); do
    mawk -v f="$i" 'BEGIN {
      printf "params;start=2024/01/%02d 00:00:00;end=2024/01/%02d 23:59:59\nformat;units=KiB\n\n", f % 28 + 1, f % 28 + 1
      split("TUH TUV TUB TIH TIV TIB THH THV THB", keys, " ")
      n = 0
      for (k = 1; k <= 9; k++) for (j = 0; j < 1000; j++) { printf "%s;name%d;%d.%02d\n", keys[k], (j * 7 + f * 13) % 5000, j + 1, j % 100; n++ }
      printf "HTTP;200;%d\nS;%d.50;%d;0;0;0;0;0;0;0;0;0;0\n", f, f * 1000, f
      for (q = 0; n < 9998; q++) { printf "H;2024/01/%02d;%02d:%02d;%d.25;%d;1;0;0;0;0;0;0;0;0;0\n", f % 28 + 1, int(q / 4) % 24, (q % 4) * 15, q, q; n++ }
    }' >"$RESULTS/r$i.txt"
  done
  touch "$RESULTS/.done"
fi
half=("$RESULTS"/r$(seq -s ' ' 1 $((FILES / 2)) | sed "s| |.txt $RESULTS/r|g").txt)
all=("$RESULTS"/r*.txt)
halfLines=$(file_lines "${half[@]}"); halfBytes=$(file_bytes "${half[@]}")
allLines=$(file_lines "${all[@]}"); allBytes=$(file_bytes "${all[@]}")
measure "$OUT/merge-half.out" "$OUT/merge-half.err" "$VARNO" --merge "${half[@]}" --output="$OUT/half.res"
add_row "varno --merge, $((FILES / 2)) files" "$halfLines" "$halfBytes"; mergeHalf=$WALL
measure "$OUT/merge-all.out" "$OUT/merge-all.err" "$VARNO" --merge "${all[@]}" --output="$OUT/all.res"
add_row "varno --merge, $FILES files" "$allLines" "$allBytes"; mergeAll=$WALL

print_table
echo
echo "HTTP: mawk/varno $(ratio "$mawk" "$varno"), varno/wc $(ratio "$varno" "$wc")"
echo "merge: $FILES files / $((FILES / 2)) files $(ratio "$mergeAll" "$mergeHalf") (2.00 = linear)"
for kind in al tr wf; do
  if diff <(tr -d '\r' <"$OUT/varno/_kelb_cs/_kelb-${kind}20240101.csv" | sort) <(sort "$OUT/mawk/$kind.csv") >/dev/null; then
    echo "HTTP-${kind^^}: varno and mawk agree"
  else
    echo "HTTP-${kind^^}: varno and mawk differ (hostile lines, ties at the --top cut):"
    diff <(tr -d '\r' <"$OUT/varno/_kelb_cs/_kelb-${kind}20240101.csv" | sort) <(sort "$OUT/mawk/$kind.csv") | head -6 | sed 's/^/  /'
  fi
done
