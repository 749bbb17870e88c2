#!/usr/bin/env bash
# Puts web statistics side by side with its floor and with other tools, in
# alternating rounds, and prints medians of wall and CPU (user + system)
# seconds, peak memory and the ratios the program is held to:
#   - the summary run (--webstat="" --outform=summary) against the floor
#     program bench/floor/webstat_floor.cpp (the same result file, checked
#     byte for byte), for day 1 and for all days: at most 1.5x;
#   - its proxy lines per CPU-second: at least 4 M;
#   - against GoAccess (Debian's goaccess, one thread) over day 1's finished
#     transactions converted to access-log lines (bench/mawk/webstat_access.awk,
#     not timed): at most a quarter of its time; mawk's top users and hosts
#     (bench/mawk/webstat_top.awk) over the same day for reference;
#   - a search run that matches about 1 % of the transactions (blocked for a
#     virus, content or a ban) against grep -F -c of one transaction id over
#     the same logs: at most 1.5x;
#   - peak memory of the summary run for 1 day and for all days.
#
#   bench/webstat_bench.sh [--lines N] [--days D] [--rounds R] [--slow-rounds S] [--keep]
#       D generated days (default 7) of N proxy lines each (default 1 000 000),
#       R rounds (default 3); GoAccess and mawk run in the first S rounds only
#       (default 1: they are slow and only references).
#
# Data goes to bench/data/ (kept between runs, regenerated when the options or
# genproxy change), outputs to bench/data/out-webstat/ (removed unless --keep).
# On a busy machine compare the CPU columns; wall seconds are noisy there.
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=1000000
DAYS=7
ROUNDS=3
SLOW_ROUNDS=1
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --lines=*) LINES=${1#*=}; shift ;;
    --days) DAYS=$2; shift 2 ;;
    --days=*) DAYS=${1#*=}; shift ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --slow-rounds) SLOW_ROUNDS=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,27p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

ensure_tools
FLOOR="$BUILD_DIR/bin/webstat_floor"
GENPROXY="$BUILD_DIR/bin/genproxy"
for target in webstat_floor genproxy; do
  [ -x "$BUILD_DIR/bin/$target" ] || cmake --build "$BUILD_DIR" --target "$target" >/dev/null
done
if [ "$HAVE_GNU_TIME" != 1 ]; then
  echo "GNU time is needed for CPU seconds" >&2
  exit 1
fi
HAVE_GOACCESS=1
command -v goaccess >/dev/null 2>&1 || { HAVE_GOACCESS=0; echo "note: goaccess not installed, its row is left out" >&2; }

GENLOGS=$GENPROXY  # generate() stamps the data with this binary
DATA=bench/data/proxy-$DAYS-$LINES
generate "$DATA" --days "$DAYS" --start 20240101 --lines-per-day "$LINES" --seed 42 --quiet
DAY1=$DATA-day1
mkdir -p "$DAY1"
ln -sf "$REPO/$DATA/kelb20240101.log" "$DAY1/kelb20240101.log"

OUT=bench/data/out-webstat
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT

FIRST=$DATA/kelb20240101.log
ALL=("$DATA"/kelb*.log)
cat "${ALL[@]}" >/dev/null  # warm the page cache
dayLines=$(file_lines "$FIRST"); dayBytes=$(file_bytes "$FIRST")
allLines=$(file_lines "${ALL[@]}"); allBytes=$(file_bytes "${ALL[@]}")
mawk -f bench/mawk/webstat_access.awk "$FIRST" >"$OUT/access1.log"
accessLines=$(file_lines "$OUT/access1.log"); accessBytes=$(file_bytes "$OUT/access1.log")
# One transaction id, from a finished transaction in the middle of day 1.
oneId=$(awk -F';' '$3 == "E" && ++n == 200000 { print $4; exit }' "$FIRST")

# Runs: name|lines|bytes|slow|command. Every round runs them in this order.
RUNS=(
  "cat, $DAYS days|$allLines|$allBytes|0|cat ${ALL[*]}"
  "floor summary, day 1|$dayLines|$dayBytes|0|$FLOOR $DAY1"
  "varno summary, day 1|$dayLines|$dayBytes|0|$VARNO --webstat= --outform=summary $DAY1"
  "floor summary, $DAYS days|$allLines|$allBytes|0|$FLOOR $DATA"
  "varno summary, $DAYS days|$allLines|$allBytes|0|$VARNO --webstat= --outform=summary -v $DATA"
  "grep -F -c one id, $DAYS days|$allLines|$allBytes|0|grep -F -c $oneId ${ALL[*]}"
  "varno search ~1 %, $DAYS days|$allLines|$allBytes|0|$VARNO --webstat=blocked=virus,content,banned --outform=search -v $DATA"
  "mawk top users+hosts, day 1|$dayLines|$dayBytes|1|mawk -f bench/mawk/webstat_top.awk $FIRST"
)
[ "$HAVE_GOACCESS" = 1 ] && RUNS+=(
  "goaccess, day 1 finished|$accessLines|$accessBytes|1|goaccess $OUT/access1.log --no-global-config --log-format=COMBINED -o $OUT/goaccess.json"
)

declare -A WALLS CPUS RSSES
for ((round = 1; round <= ROUNDS; ++round)); do
  echo "== round $round of $ROUNDS" >&2
  for i in "${!RUNS[@]}"; do
    IFS='|' read -r name lines bytes slow command <<<"${RUNS[$i]}"
    [ "$slow" = 1 ] && [ "$round" -gt "$SLOW_ROUNDS" ] && continue
    # shellcheck disable=SC2086
    measure "$OUT/run$i.out" "$OUT/run$i.err" $command
    [ "$RC" = 0 ] || [ "$name" = "${name#grep}" ] || RC=0  # grep -c exits 1 on no match
    [ "$RC" = 0 ] || echo "warning: $name exited $RC" >&2
    WALLS[$i]+=" $WALL"; CPUS[$i]+=" $CPU"; RSSES[$i]+=" $RSS_MB"
  done
done

# med KIND INDEX: the median of a run's wall or CPU seconds, its peak MiB.
med() {
  local -n values=$1
  # shellcheck disable=SC2086
  median ${values[$2]}
}
peak() {
  # shellcheck disable=SC2086
  printf '%s\n' ${RSSES[$1]} | sort -g | tail -n 1
}
cpuOf() { med CPUS "$1"; }

printf '\n%-36s %10s %8s %8s %8s %9s %14s\n' "run (medians)" "lines" "MiB in" "wall s" "cpu s" "peak MiB" "Mlines/cpu-s"
for i in "${!RUNS[@]}"; do
  IFS='|' read -r name lines bytes slow command <<<"${RUNS[$i]}"
  [ -n "${CPUS[$i]:-}" ] || continue
  awk -v l="$name" -v n="$lines" -v b="$bytes" -v w="$(med WALLS "$i")" -v c="$(cpuOf "$i")" -v r="$(peak "$i")" 'BEGIN {
    rate = (c > 0) ? sprintf("%.2f", n / c / 1e6) : "-"
    printf "%-36s %10d %8.1f %8.2f %8.2f %9s %14s\n", l, n, b / 1048576, w, c, r, rate
  }'
done

same() { cmp -s "$1" "$2" && echo "same result" || echo "RESULTS DIFFER"; }
# ratio line: label, numerator index, denominator index, goal text.
ratioLine() {
  printf '  %-52s %6sx   %s\n' "$1" "$(ratio "$(cpuOf "$2")" "$(cpuOf "$3")")" "$4"
}
echo
echo "ratios of CPU seconds (goal in brackets):"
ratioLine "varno summary / floor, day 1 ($(same "$OUT/run1.out" "$OUT/run2.out"))" 2 1 "[<= 1.5]"
ratioLine "varno summary / floor, $DAYS days ($(same "$OUT/run3.out" "$OUT/run4.out"))" 4 3 "[<= 1.5]"
echo "  varno summary, $DAYS days: $(awk -v n="$allLines" -v c="$(cpuOf 4)" 'BEGIN { printf "%.2f", n / c / 1e6 }') M proxy lines per CPU-second   [>= 4]"
[ "$HAVE_GOACCESS" = 1 ] && ratioLine "varno summary, day 1 / GoAccess over its finished ones" 2 8 "[<= 0.25]"
ratioLine "varno summary, day 1 / mawk top users and hosts" 2 7 "[reference]"
ratioLine "varno search ~1 % / grep -F -c one id, $DAYS days" 6 5 "[<= 1.5]"
transactions=$(grep -o '[0-9]* item(s) match' "$OUT/run4.err" | cut -d' ' -f1)
hits=$(grep -o '[0-9]* item(s) match' "$OUT/run6.err" | cut -d' ' -f1)
echo "  search hits: $hits of $transactions transactions ($(ratio "$((hits * 100))" "$transactions") %)"
echo "peak memory of the summary run: day 1 $(peak 2) MiB, $DAYS days $(peak 4) MiB"
