#!/usr/bin/env bash
# Times the metadata generator against equivalent mawk programs and wc -l.
#
#   bench/stat_bench.sh [--lines N] [--keep]
#       one generated day of N SMTP lines (default 1 000 000) and one of about
#       N RBL lines; runs varno --stat=SMTP-IN and --stat=RBL-IN, the mawk
#       programs bench/mawk/smtp_in.awk and rbl_in.awk, and wc -l.
#   bench/stat_bench.sh --days 7 [--lines N] [--keep]
#       seven generated days (all mail logs, both directions); runs
#       varno --stat=ALL over the first day alone and over all seven days.
#
# Data goes to bench/data/ (kept between runs, regenerated when the options or
# genlogs change), outputs to bench/data/out-stat/ (removed unless --keep).
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=1000000
DAYS=1
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --lines=*) LINES=${1#*=}; shift ;;
    --days) DAYS=$2; shift 2 ;;
    --days=*) DAYS=${1#*=}; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,15p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done
case "$DAYS" in 1|7) ;; *) echo "--days must be 1 or 7" >&2; exit 2 ;; esac

ensure_tools
OUT=bench/data/out-stat
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT

# Strips CR and keeps the summary and hourly lines, which must agree exactly.
summary_lines() { tr -d '\r' <"$1" | grep -E '^(S|H);' || true; }

compare() {
  local what=$1 varnoFile=$2 mawkFile=$3
  if [ ! -f "$varnoFile" ]; then
    echo "$what: varno wrote no $varnoFile"
  elif diff <(summary_lines "$varnoFile") <(summary_lines "$mawkFile") >/dev/null; then
    echo "$what: S and H lines of varno and mawk agree"
  else
    echo "$what: S and H lines of varno and mawk differ (lines holding NUL bytes end there for"
    echo "  varno's line reader but not for mawk, so malformed lines can move a few counts):"
    diff <(summary_lines "$varnoFile") <(summary_lines "$mawkFile") | head -8 | sed 's/^/  /'
  fi
}

if [ "$DAYS" = 1 ]; then
  SMTP_DIR=bench/data/stat-smtp
  RBL_DIR=bench/data/stat-rbl
  # About 72 % of the SMTP lines are accepted and get an RBL line.
  RBL_SMTP_LINES=$((LINES * 1389 / 1000))
  generate "$SMTP_DIR" --days 1 --start 20240101 --lines-per-day "$LINES" --directions in --logs smtp --seed 7 --quiet
  generate "$RBL_DIR" --days 1 --start 20240101 --lines-per-day "$RBL_SMTP_LINES" --directions in --logs rbl --seed 7 --quiet
  SMTP_LOG=$SMTP_DIR/smtp20240101.log
  RBL_LOG=$RBL_DIR/rbl20240101.log
  cat "$SMTP_LOG" "$RBL_LOG" >/dev/null  # warm the page cache
  smtpLines=$(file_lines "$SMTP_LOG"); smtpBytes=$(file_bytes "$SMTP_LOG")
  rblLines=$(file_lines "$RBL_LOG"); rblBytes=$(file_bytes "$RBL_LOG")
  mkdir -p "$OUT/mawk"

  measure /dev/null /dev/null wc -l "$SMTP_LOG"; add_row "wc -l smtp" "$smtpLines" "$smtpBytes"; wcSmtp=$WALL
  measure "$OUT/smtp_in.out" "$OUT/smtp_in.err" "$VARNO" --stat=SMTP-IN --srcdir="$SMTP_DIR" --outdir="$OUT/smtp_in" -v
  add_row "varno --stat=SMTP-IN" "$smtpLines" "$smtpBytes"; varnoSmtp=$WALL
  measure "$OUT/mawk/_smtp20240101.csv" /dev/null mawk -f bench/mawk/smtp_in.awk "$SMTP_LOG"
  add_row "mawk smtp_in.awk" "$smtpLines" "$smtpBytes"; mawkSmtp=$WALL

  measure /dev/null /dev/null wc -l "$RBL_LOG"; add_row "wc -l rbl" "$rblLines" "$rblBytes"; wcRbl=$WALL
  measure "$OUT/rbl_in.out" "$OUT/rbl_in.err" "$VARNO" --stat=RBL-IN --srcdir="$RBL_DIR" --outdir="$OUT/rbl_in" -v
  add_row "varno --stat=RBL-IN" "$rblLines" "$rblBytes"; varnoRbl=$WALL
  measure "$OUT/mawk/_rbl20240101.csv" /dev/null mawk -f bench/mawk/rbl_in.awk "$RBL_LOG"
  add_row "mawk rbl_in.awk" "$rblLines" "$rblBytes"; mawkRbl=$WALL

  print_table
  echo
  echo "SMTP-IN: mawk/varno $(ratio "$mawkSmtp" "$varnoSmtp"), varno/wc $(ratio "$varnoSmtp" "$wcSmtp")"
  echo "RBL-IN:  mawk/varno $(ratio "$mawkRbl" "$varnoRbl"), varno/wc $(ratio "$varnoRbl" "$wcRbl")"
  compare SMTP-IN "$OUT/smtp_in/_smtp20240101.csv" "$OUT/mawk/_smtp20240101.csv"
  compare RBL-IN "$OUT/rbl_in/_rbl20240101.csv" "$OUT/mawk/_rbl20240101.csv"
  for f in smtp_in rbl_in; do
    if grep -qv ": processing " "$OUT/$f.err"; then echo "varno ($f) said:"; grep -v ": processing " "$OUT/$f.err" | head -12 | sed 's/^/  /'; fi
  done
else
  generate_week "$LINES"
  DAY1_DIR=bench/data/week-day1
  rm -rf "$DAY1_DIR"
  mkdir -p "$DAY1_DIR"
  for f in "$WEEK_DIR"/*20240101.log; do ln "$f" "$DAY1_DIR/" 2>/dev/null || cp "$f" "$DAY1_DIR/"; done
  cat "$WEEK_DIR"/*.log >/dev/null  # warm the page cache
  dayLines=$(file_lines "$DAY1_DIR"/*.log); dayBytes=$(file_bytes "$DAY1_DIR"/*.log)
  weekLines=$(file_lines "$WEEK_DIR"/*.log); weekBytes=$(file_bytes "$WEEK_DIR"/*.log)

  measure /dev/null /dev/null wc -l "$WEEK_DIR"/*.log; add_row "wc -l, 7 days" "$weekLines" "$weekBytes"
  measure "$OUT/day.out" "$OUT/day.err" "$VARNO" --stat=ALL --srcdir="$DAY1_DIR" --outdir="$OUT/day" -v
  add_row "varno --stat=ALL, 1 day" "$dayLines" "$dayBytes"; varnoDay=$WALL
  measure "$OUT/week.out" "$OUT/week.err" "$VARNO" --stat=ALL --srcdir="$WEEK_DIR" --outdir="$OUT/week" -v
  add_row "varno --stat=ALL, 7 days" "$weekLines" "$weekBytes"; varnoWeek=$WALL

  print_table
  echo
  echo "7 days / 1 day: $(ratio "$varnoWeek" "$varnoDay") (7.00 = linear; input grew $(ratio "$weekBytes" "$dayBytes")x)"
  if [ -d "$OUT/week" ]; then
    echo "metadata files written for 7 days: $(find "$OUT/week" -name '_*.csv' | wc -l)"
  fi
  for f in day week; do
    if grep -qv ": processing " "$OUT/$f.err"; then echo "varno ($f) said:"; grep -v ": processing " "$OUT/$f.err" | tail -n 6 | sed 's/^/  /'; fi
  done
fi
