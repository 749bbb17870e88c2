#!/usr/bin/env bash
# --stat=ALL against its floors, in alternating rounds:
#   - over D generated days of mail logs (SMTP, RBL and postponer, both
#     directions): cat of all the logs, --stat=ALL on one thread and with the
#     default threads, and every mail type alone; the "floor sum" adds, per
#     log, the time of the slowest type that reads it (one read per log);
#   - over one combined proxy day: --stat=HTTP (one pass for the three types)
#     and HTTP-AL, HTTP-TR, HTTP-WF alone.
# Prints medians of wall and CPU (user + system) seconds and the ratios
#   ALL 1 thread / floor sum        (goal <= 1.1)
#   ALL default threads / cat       (goal <= 5, wall)
#   HTTP one pass / slowest alone   (goal <= 1.2)
# and checks that one thread and the default write the same files. On a busy
# machine compare the CPU columns; wall times need a quiet one. Where the
# machine's speed drifts between rounds, the median of the ratios taken
# within each round is printed beside each ratio of medians.
#
#   bench/stat_all_bench.sh [--lines N] [--days D] [--proxy-lines P] [--rounds R] [--keep]
#       N incoming SMTP lines per day (default 300 000; the outgoing log has
#       2/5 of them), D days (default 3), P proxy lines (default 1 000 000),
#       R rounds (default 3).
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=300000
DAYS=3
PROXY_LINES=1000000
ROUNDS=3
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --days) DAYS=$2; shift 2 ;;
    --proxy-lines) PROXY_LINES=$2; shift 2 ;;
    --rounds) ROUNDS=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,20p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

ensure_tools
GENPROXY="$BUILD_DIR/bin/genproxy"
[ -x "$GENPROXY" ] || cmake --build "$BUILD_DIR" --target genproxy >/dev/null

MAIL=bench/data/stat-all
generate "$MAIL" --days "$DAYS" --start 20240101 --lines-per-day "$LINES" --seed 11 --quiet
PROXY=bench/data/stat-proxy
stamp="$(cksum <"$GENPROXY" | cut -d' ' -f1) $PROXY_LINES"
if [ ! -f "$PROXY/.stamp" ] || [ "$(cat "$PROXY/.stamp")" != "$stamp" ]; then
  rm -rf "$PROXY"
  echo "== generating $PROXY" >&2
  "$GENPROXY" --out "$PROXY" --days 1 --start 20240101 --lines-per-day "$PROXY_LINES" --layout combined --quiet
  printf '%s' "$stamp" >"$PROXY/.stamp"
fi
OUT=bench/data/out-stat-all
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT
cat "$MAIL"/*.log "$PROXY"/*.log >/dev/null  # warm the page cache

# run NAME command...: one timed run; appends "wall cpu" to $OUT/NAME.times
# (the shell's own timing: milliseconds, where GNU time has hundredths).
run() {
  local name=$1 tf TIMEFORMAT='%3R %3U %3S'
  shift
  tf=$(mktemp)
  local rc=0
  { time "$@" >/dev/null 2>"$OUT/$name.err"; } 2>"$tf" || rc=$?
  [ "$rc" = 0 ] || echo "$name: exit $rc" >&2
  tail -n 1 "$tf" | awk '{ printf "%s %.3f\n", $1, $2 + $3 }' >>"$OUT/$name.times"
  rm -f "$tf"
}
# median NAME COLUMN: median of column 1 (wall) or 2 (cpu) of NAME's runs.
median_of() {
  sort -n -k"$2" "$OUT/$1.times" | awk -v c="$2" '{ v[NR] = $c } END {
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
stat_run() {  # stat_run NAME SRCDIR varno-options...
  local name=$1 src=$2
  shift 2
  rm -rf "$OUT/$name.out"
  run "$name" "$VARNO" --srcdir="$src" --outdir="$OUT/$name.out" "$@"
}

# Mail logs and the types that read each (the first of each is the slowest
# in practice, but the sum takes the slowest measured).
GROUPS_OF_TYPES=("SMTP-IN SMTP-CHART" "SMTP-OUT" "RBL-IN RBL-CHART BIP" "RBL-OUT" "POST-IN" "POST-OUT")
HTTP_TYPES=(HTTP-AL HTTP-TR HTTP-WF)
for ((r = 1; r <= ROUNDS; r++)); do
  run cat cat "$MAIL"/*.log
  stat_run all-1 "$MAIL" --stat=ALL --threads=1
  stat_run all-default "$MAIL" --stat=ALL
  for group in "${GROUPS_OF_TYPES[@]}"; do
    for type in $group; do stat_run "$type" "$MAIL" --stat="$type" --threads=1; done
  done
  stat_run http-1 "$PROXY" --stat=HTTP --threads=1
  for type in "${HTTP_TYPES[@]}"; do stat_run "$type" "$PROXY" --stat="$type" --threads=1; done
done

same="same files"
diff -r "$OUT/all-1.out" "$OUT/all-default.out" >/dev/null || same="files DIFFER"

printf '\nmedians of %d alternating rounds; %s days of %s SMTP lines (%s MiB of mail logs), %s proxy lines\n' \
  "$ROUNDS" "$DAYS" "$LINES" "$(awk -v b="$(file_bytes "$MAIL"/*.log)" 'BEGIN { printf "%.0f", b / 1048576 }')" \
  "$PROXY_LINES"
printf '%-40s %9s %9s\n' run "wall s" "cpu s"
row() { printf '%-40s %9s %9s\n' "$1" "$(median_of "$2" 1)" "$(median_of "$2" 2)"; }
row "cat of the mail logs" cat
row "--stat=ALL --threads=1" all-1
row "--stat=ALL (default threads, $(nproc) cores)" all-default
FLOOR_WALL=0
FLOOR_CPU=0
for group in "${GROUPS_OF_TYPES[@]}"; do
  worst_wall=0
  worst_cpu=0
  for type in $group; do
    row "  --stat=$type" "$type"
    worst_wall=$(awk -v a="$worst_wall" -v b="$(median_of "$type" 1)" 'BEGIN { print (b > a) ? b : a }')
    worst_cpu=$(awk -v a="$worst_cpu" -v b="$(median_of "$type" 2)" 'BEGIN { print (b > a) ? b : a }')
  done
  FLOOR_WALL=$(awk -v a="$FLOOR_WALL" -v b="$worst_wall" 'BEGIN { print a + b }')
  FLOOR_CPU=$(awk -v a="$FLOOR_CPU" -v b="$worst_cpu" 'BEGIN { print a + b }')
done
printf '%-40s %9s %9s\n' "floor sum (slowest type per log)" "$FLOOR_WALL" "$FLOOR_CPU"
row "--stat=HTTP --threads=1 (one pass)" http-1
HTTP_WALL=0
HTTP_CPU=0
for type in "${HTTP_TYPES[@]}"; do
  row "  --stat=$type" "$type"
  HTTP_WALL=$(awk -v a="$HTTP_WALL" -v b="$(median_of "$type" 1)" 'BEGIN { print (b > a) ? b : a }')
  HTTP_CPU=$(awk -v a="$HTTP_CPU" -v b="$(median_of "$type" 2)" 'BEGIN { print (b > a) ? b : a }')
done

# round_ratio_median COLUMN NUMERATOR GROUP...: the median over rounds of
# NUMERATOR's time over the sum, per group, of the slowest type's time in
# that round (a group is a quoted list of run names).
round_ratio_median() {
  local column=$1 numerator=$2
  shift 2
  local files=("$OUT/$numerator.times") sizes=() group name
  for group in "$@"; do
    sizes+=("$(wc -w <<<"$group")")
    for name in $group; do files+=("$OUT/$name.times"); done
  done
  paste -d' ' "${files[@]}" | awk -v c="$column" -v sizes="${sizes[*]}" '{
      n = split(sizes, size, " "); j = 0; floor = 0
      for (g = 1; g <= n; g++) {
        worst = 0
        for (k = 1; k <= size[g]; k++) { j++; v = $(2 * j + c); if (v > worst) worst = v }
        floor += worst
      }
      print $c / floor
    }' | sort -n | awk '{ v[NR] = $1 } END {
      if (NR % 2) printf "%.2f", v[(NR + 1) / 2]; else printf "%.2f", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

echo
printf 'ALL 1 thread / floor sum:       wall %s  cpu %s  (goal <= 1.1)   per round: wall %s  cpu %s\n' \
  "$(ratio "$(median_of all-1 1)" "$FLOOR_WALL")" "$(ratio "$(median_of all-1 2)" "$FLOOR_CPU")" \
  "$(round_ratio_median 1 all-1 "${GROUPS_OF_TYPES[@]}")" "$(round_ratio_median 2 all-1 "${GROUPS_OF_TYPES[@]}")"
printf 'ALL default threads / cat:      wall %s  cpu %s  (goal <= 5, wall)\n' \
  "$(ratio "$(median_of all-default 1)" "$(median_of cat 1)")" "$(ratio "$(median_of all-default 2)" "$(median_of cat 2)")"
printf 'ALL default / 1 thread:         wall %s\n' "$(ratio "$(median_of all-default 1)" "$(median_of all-1 1)")"
printf 'HTTP one pass / slowest alone:  wall %s  cpu %s  (goal <= 1.2)   per round: wall %s  cpu %s\n' \
  "$(ratio "$(median_of http-1 1)" "$HTTP_WALL")" "$(ratio "$(median_of http-1 2)" "$HTTP_CPU")" \
  "$(round_ratio_median 1 http-1 "${HTTP_TYPES[*]}")" "$(round_ratio_median 2 http-1 "${HTTP_TYPES[*]}")"
printf '1 thread and default threads: %s\n' "$same"
