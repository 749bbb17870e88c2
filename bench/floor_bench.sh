#!/usr/bin/env bash
# Puts the metadata generator side by side with its floor: for one generated
# day of SMTP and of RBL logs, runs in alternation
#   cat, wc -l, the floor program (bench/floor/*_floor.cpp), varno --stat and
#   the mawk program (bench/mawk/*.awk)
# and prints the median wall and CPU (user + system) seconds of each, the
# ratios to varno, and whether varno and the floor wrote the same file.
#
#   bench/floor_bench.sh [--lines N] [--rounds R] [--mawk-rounds M] [--keep]
#       N SMTP lines (default 1 000 000), R rounds (default 5), mawk only in
#       the first M rounds (default 1: it is slow and only a reference).
#
# Medians of alternating runs keep the comparison fair on a busy machine;
# CPU seconds are steadier than wall seconds there.
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=1000000
ROUNDS=5
MAWK_ROUNDS=1
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --mawk-rounds) MAWK_ROUNDS=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

ensure_tools
if [ ! -x "$BUILD_DIR/bin/smtp_in_floor" ] || [ ! -x "$BUILD_DIR/bin/rbl_in_floor" ]; then
  cmake --build "$BUILD_DIR" --target smtp_in_floor rbl_in_floor >/dev/null
fi
if [ "$HAVE_GNU_TIME" != 1 ]; then
  echo "GNU time is needed for CPU seconds" >&2
  exit 1
fi

SMTP_DIR=bench/data/stat-smtp
RBL_DIR=bench/data/stat-rbl
RBL_SMTP_LINES=$((LINES * 1389 / 1000))
generate "$SMTP_DIR" --days 1 --start 20240101 --lines-per-day "$LINES" --directions in --logs smtp --seed 7 --quiet
generate "$RBL_DIR" --days 1 --start 20240101 --lines-per-day "$RBL_SMTP_LINES" --directions in --logs rbl --seed 7 --quiet
SMTP_LOG=$SMTP_DIR/smtp20240101.log
RBL_LOG=$RBL_DIR/rbl20240101.log
OUT=bench/data/out-floor
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT
cat "$SMTP_LOG" "$RBL_LOG" >/dev/null  # warm the page cache

# run NAME command...: one timed run; appends "wall cpu" to $OUT/NAME.times.
run() {
  local name=$1
  shift
  local tf
  tf=$(mktemp)
  /usr/bin/time -f '%e %U %S' -o "$tf" "$@" >/dev/null 2>"$OUT/$name.err" || echo "$name: exit $?" >&2
  tail -n 1 "$tf" | awk '{ printf "%s %.3f\n", $1, $2 + $3 }' >>"$OUT/$name.times"
  rm -f "$tf"
}

# median NAME COLUMN: median of column 1 (wall) or 2 (cpu) of NAME's runs.
median() {
  sort -n -k"$2" "$OUT/$1.times" | awk -v c="$2" '{ v[NR] = $c } END {
    if (NR == 0) { print "-"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for kind in smtp rbl; do
  if [ "$kind" = smtp ]; then log=$SMTP_LOG; dir=$SMTP_DIR; type=SMTP-IN; awkf=bench/mawk/smtp_in.awk
  else log=$RBL_LOG; dir=$RBL_DIR; type=RBL-IN; awkf=bench/mawk/rbl_in.awk; fi
  for ((r = 1; r <= ROUNDS; r++)); do
    run "$kind-cat" cat "$log"
    run "$kind-wc" wc -l "$log"
    run "$kind-floor" "$BUILD_DIR/bin/${kind}_in_floor" "$log" "$OUT/$kind-floor.csv"
    rm -rf "$OUT/$kind-varno"
    run "$kind-varno" "$VARNO" --stat="$type" --srcdir="$dir" --outdir="$OUT/$kind-varno"
    if [ "$r" -le "$MAWK_ROUNDS" ]; then run "$kind-mawk" mawk -f "$awkf" "$log"; fi
  done
done

smtpLines=$(file_lines "$SMTP_LOG"); smtpBytes=$(file_bytes "$SMTP_LOG")
rblLines=$(file_lines "$RBL_LOG"); rblBytes=$(file_bytes "$RBL_LOG")
printf '\nmedians of %d alternating rounds (mawk: %d)\n' "$ROUNDS" "$MAWK_ROUNDS"
printf '%-26s %10s %8s %8s %11s %14s %14s\n' run lines "wall s" "cpu s" "Mlines/s" "wall/varno" "cpu/varno"
for kind in smtp rbl; do
  if [ "$kind" = smtp ]; then lines=$smtpLines; bytes=$smtpBytes; type=SMTP-IN; else lines=$rblLines; bytes=$rblBytes; type=RBL-IN; fi
  vw=$(median "$kind-varno" 1); vc=$(median "$kind-varno" 2)
  for tool in cat wc floor varno mawk; do
    [ -f "$OUT/$kind-$tool.times" ] || continue
    w=$(median "$kind-$tool" 1); c=$(median "$kind-$tool" 2)
    case $tool in
      cat) label="cat ($kind log)" ;; wc) label="wc -l" ;; floor) label="floor ${kind}_in_floor" ;;
      varno) label="varno --stat=$type" ;; mawk) label="mawk ${kind}_in.awk" ;;
    esac
    awk -v l="$label" -v n="$lines" -v w="$w" -v c="$c" -v vw="$vw" -v vc="$vc" 'BEGIN {
      rate = (w > 0) ? sprintf("%.2f", n / w / 1e6) : "-"
      rw = (vw > 0) ? sprintf("%.2f", w / vw) : "-"; rc = (vc > 0) ? sprintf("%.2f", c / vc) : "-"
      printf "%-26s %10d %8.3f %8.3f %11s %14s %14s\n", l, n, w, c, rate, rw, rc }'
  done
  fw=$(median "$kind-floor" 1); fc=$(median "$kind-floor" 2)
  echo "  $type: varno / floor = $(ratio "$vw" "$fw") wall, $(ratio "$vc" "$fc") cpu;" \
    "$(awk -v b="$bytes" 'BEGIN { printf "%.0f MiB", b / 1048576 }') in"
  varnoFile=$(find "$OUT/$kind-varno" -name "_${kind}*.csv" | head -n 1)
  if [ -n "$varnoFile" ] && cmp -s "$varnoFile" "$OUT/$kind-floor.csv"; then
    echo "  $type: varno and the floor wrote the same file"
  else
    echo "  $type: varno and the floor wrote DIFFERENT files"
  fi
done
