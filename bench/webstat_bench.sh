#!/usr/bin/env bash
# Times web statistics runs against a mawk program and reports peak memory.
#
#   bench/webstat_bench.sh [--lines N] [--days D] [--keep]
#       D generated days (default 7) of N proxy lines each (default 2 000 000);
#       runs varno --webstat --outform=summary over the first day and over all
#       days, a search run that matches about 1 % of the transactions (those
#       blocked for a virus, content, a ban or a rule), and the mawk program
#       bench/mawk/webstat_top.awk (top users and hosts by volume) over all days.
#
# Data goes to bench/data/ (kept between runs, regenerated when the options or
# genproxy change), outputs to bench/data/out-webstat/ (removed unless --keep).
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=2000000
DAYS=7
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --lines=*) LINES=${1#*=}; shift ;;
    --days) DAYS=$2; shift 2 ;;
    --days=*) DAYS=${1#*=}; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

ensure_tools
GENPROXY="$BUILD_DIR/bin/genproxy"
if [ ! -x "$GENPROXY" ]; then
  cmake --build "$BUILD_DIR" --target genproxy
fi
GENLOGS=$GENPROXY  # generate() stamps the data with this binary
DATA=bench/data/proxy-$DAYS-$LINES
generate "$DATA" --days "$DAYS" --start 20240101 --lines-per-day "$LINES" --seed 42 --quiet

OUT=bench/data/out-webstat
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT

FIRST=$DATA/kelb20240101.log
ALL=("$DATA"/kelb*.log)
cat "${ALL[@]}" >/dev/null  # warm the page cache
firstLines=$(file_lines "$FIRST"); firstBytes=$(file_bytes "$FIRST")
allLines=$(file_lines "${ALL[@]}"); allBytes=$(file_bytes "${ALL[@]}")

measure /dev/null /dev/null wc -l "${ALL[@]}"; add_row "wc -l, all days" "$allLines" "$allBytes"
measure "$OUT/day1.res" "$OUT/day1.err" "$VARNO" "--webstat=start=2024/01/01;end=2024/01/01" \
  --outform=summary -v "$DATA"
add_row "varno summary, day 1" "$firstLines" "$firstBytes"; rssDay1=$RSS_MB
measure "$OUT/all.res" "$OUT/all.err" "$VARNO" --webstat= --outform=summary -v "$DATA"
add_row "varno summary, $DAYS days" "$allLines" "$allBytes"; varnoAll=$WALL; rssAll=$RSS_MB
measure "$OUT/search.txt" "$OUT/search.err" "$VARNO" \
  "--webstat=blocked=virus,content,banned" --outform=search -v "$DATA"
add_row "varno search ~1 %, $DAYS days" "$allLines" "$allBytes"; rssSearch=$RSS_MB
measure "$OUT/mawk.txt" /dev/null mawk -f bench/mawk/webstat_top.awk "${ALL[@]}"
add_row "mawk webstat_top.awk, $DAYS days" "$allLines" "$allBytes"; mawkAll=$WALL

print_table
echo
transactions=$(grep -o '[0-9]* item(s) match' "$OUT/all.err" | cut -d' ' -f1)
hits=$(grep -o '[0-9]* item(s) match' "$OUT/search.err" | cut -d' ' -f1)
echo "transactions in the summary: $transactions; search hits: $hits ($(ratio "$((hits * 100))" "$transactions") %)"
echo "summary run vs mawk: $(ratio "$mawkAll" "$varnoAll")x faster"
echo "peak memory: day 1 $rssDay1 MiB, $DAYS days $rssAll MiB, search $rssSearch MiB"
# The finished transactions' top volumes must agree with mawk's.
tr -d '\r' <"$OUT/all.res" | grep -E '^TUV;' | head -3 >"$OUT/varno_tuv.txt" || true
grep -E '^TUV;' "$OUT/mawk.txt" | head -3 >"$OUT/mawk_tuv.txt" || true
echo "top 3 users by volume, varno (all transactions) and mawk (finished ones):"
paste -d'|' "$OUT/varno_tuv.txt" "$OUT/mawk_tuv.txt" | sed 's/^/  /'
