#!/usr/bin/env bash
# Times the delivery doctor over a generated week of mail logs.
#
#   bench/search_bench.sh [--lines N] [--keep]
#
# Seven days of N incoming SMTP lines a day (default 1 000 000; outgoing 2/5
# of that) with their RBL and postponer logs. Runs varno --search="" (every
# message, listed into a file), a search for one sender that sends about 1 %
# of the messages, and grep -F -c for one message ID over the same files as
# the floor; and the match-everything listing of the first day against cat
# of that day's logs into a file beside it (the 1 % search and grep: the
# median of three rounds). Prints the three ratios against their goals, on
# CPU time (user + system; the machine is shared, so wall times vary with
# its load). Logs are generated under $VARNO_BENCH_DATA
# (default /tmp/varno-bench), listings go there too (removed unless --keep).
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=1000000
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --lines=*) LINES=${1#*=}; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

DATA_ROOT=${VARNO_BENCH_DATA:-/tmp/varno-bench}
WEEK_DIR=$DATA_ROOT/week
ensure_tools
generate_week "$LINES"
OUT=$DATA_ROOT/out-search
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT

LOGS=("$WEEK_DIR"/*.log)
cat "${LOGS[@]}" >/dev/null  # warm the page cache
allLines=$(file_lines "${LOGS[@]}"); allBytes=$(file_bytes "${LOGS[@]}")
smtpMessages=$(file_lines "$WEEK_DIR"/smtp*.log)

# The sender closest to 1 % of the first day's SMTP lines (both directions).
SENDER=$(awk -F';' '$4 != "" { n[$4]++; total++ }
  END { want = total / 100; best = ""; gap = -1
        for (k in n) { d = n[k] - want; if (d < 0) d = -d; if (gap < 0 || d < gap || (d == gap && k < best)) { gap = d; best = k } }
        print best }' "$WEEK_DIR/smtp20240101.log" "$WEEK_DIR/smtp-out20240101.log")
# One accepted message from the middle of the week.
MSGID=$(awk -F';' -v half="$((LINES / 2))" 'NR >= half && $7 ~ /^A/ && $8 ~ /^[0-9A-F]+$/ { print $8; exit }' \
  "$WEEK_DIR/smtp20240104.log")
echo "== 1 % sender: $SENDER; message ID for grep: $MSGID" >&2

count_of() { grep -o '[0-9]* e-mail(s) match' "$1" | grep -o '^[0-9]*' || echo "?"; }

# One day of the week (hard links) for the match-everything listing against cat.
DAY_DIR=$DATA_ROOT/week-day1-search
rm -rf "$DAY_DIR"
mkdir -p "$DAY_DIR"
for f in "$WEEK_DIR"/*20240101.log; do ln "$f" "$DAY_DIR/" 2>/dev/null || cp "$f" "$DAY_DIR/"; done
dayLines=$(file_lines "$DAY_DIR"/*.log); dayBytes=$(file_bytes "$DAY_DIR"/*.log)
measure "$OUT/cat.txt" /dev/null cat "$DAY_DIR"/*.log
add_row "cat, 1 day" "$dayLines" "$dayBytes"; catDayWall=$WALL; catDayCpu=$CPU
rm -f "$OUT/cat.txt"
measure "$OUT/day.out" "$OUT/day.err" "$VARNO" --search="" --output="$OUT/day.txt" "$DAY_DIR" -v
add_row 'varno --search="", 1 day' "$dayLines" "$dayBytes"; dayWall=$WALL; dayCpu=$CPU
dayListing=$( [ -f "$OUT/day.txt" ] && wc -c <"$OUT/day.txt" || echo 0)
rm -f "$OUT/day.txt"

measure "$OUT/all.out" "$OUT/all.err" "$VARNO" --search="" --output="$OUT/all.txt" "$WEEK_DIR" -v
add_row 'varno --search="", 7 days' "$allLines" "$allBytes"; allWall=$WALL; allCpu=$CPU; allRc=$RC; allRss=$RSS_MB
allCount=$(count_of "$OUT/all.err")
allListing=$( [ -f "$OUT/all.txt" ] && wc -c <"$OUT/all.txt" || echo 0)
rm -f "$OUT/all.txt"  # can be gigabytes

# The 1 % search and grep take a few seconds each: three rounds, one of each
# after the other, and the median of each, so that a passing load on the
# machine weighs on both alike.
oneCpus=(); oneWalls=(); grepCpus=(); grepWalls=()
for round in 1 2 3; do
  measure "$OUT/one.out" "$OUT/one.err" "$VARNO" --search="from=$SENDER" --output="$OUT/one.txt" "$WEEK_DIR" -v
  oneRc=$RC; oneCpus+=("$CPU"); oneWalls+=("$WALL"); oneRss=$RSS_MB
  measure /dev/null /dev/null grep -F -c "$MSGID" "${LOGS[@]}"
  [ "$RC" = 1 ] && RC=0  # grep's "no match" in some file is not a failure here
  grepRc=$RC; grepCpus+=("$CPU"); grepWalls+=("$WALL"); grepRss=$RSS_MB
done
oneCpu=$(median "${oneCpus[@]}"); oneWall=$(median "${oneWalls[@]}")
grepCpu=$(median "${grepCpus[@]}"); grepWall=$(median "${grepWalls[@]}")
RC=$oneRc; CPU=$oneCpu; WALL=$oneWall; RSS_MB=$oneRss
add_row "varno --search=from=<1 % sender>" "$allLines" "$allBytes"
oneCount=$(count_of "$OUT/one.err")
RC=$grepRc; CPU=$grepCpu; WALL=$grepWall; RSS_MB=$grepRss
add_row "grep -F -c <message ID>" "$allLines" "$allBytes"

print_table
echo
echo "SMTP lines (messages) in the week: $smtpMessages"
echo "--search=\"\" matched $allCount e-mail(s), listing of $((allListing / 1048576)) MiB"
pct=$(awk -v a="$oneCount" -v b="$smtpMessages" 'BEGIN { if (a ~ /^[0-9]+$/ && b > 0) printf "%.2f %%", 100 * a / b; else print "?" }')
echo "from=$SENDER matched $oneCount e-mail(s) ($pct of the SMTP lines)"
echo "listing of one day: $((dayListing / 1048576)) MiB"
# verdict VALUE LIMIT: "met" when VALUE < LIMIT.
verdict() { awk -v v="$1" -v l="$2" 'BEGIN { print (v != "-" && v + 0 < l + 0) ? "met" : "NOT met" }'; }
echo
echo "goals (CPU seconds; wall in brackets):"
r=$(ratio "$oneCpu" "$grepCpu")
echo "  1 % search / grep -F -c:          $r   goal <= 1.5   $(verdict "$r" 1.5001)   [wall $(ratio "$oneWall" "$grepWall")]"
r=$(ratio "$dayCpu" "$catDayCpu")
echo "  match-everything 1 day / cat:     $r   goal <= 15    $(verdict "$r" 15.001)   [wall $(ratio "$dayWall" "$catDayWall")]"
perMessage=$(awk -v r="$allRss" -v n="$allCount" 'BEGIN { if (n > 0 && r != "n/a") printf "%.0f", r * 1048576 / n; else print "-" }')
echo "  match-everything 7 days:          ${allCpu} s CPU (goal < 30: $(verdict "$allCpu" 30)), wall ${allWall} s," \
  "peak ${allRss} MiB (goal < 600: $(verdict "$allRss" 600)), ${perMessage} bytes per message"
for f in all one; do
  if [ -s "$OUT/$f.err" ]; then echo "varno ($f) said (last lines):"; tail -n 4 "$OUT/$f.err" | sed 's/^/  /'; fi
done
[ "$allRc" = 0 ] || echo "note: varno --search=\"\" exited with $allRc"
