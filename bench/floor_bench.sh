#!/usr/bin/env bash
# Puts the metadata generator side by side with its floor for every mail
# type: for one generated day of all mail logs (SMTP, RBL and postponer, both
# directions), runs in alternation, per log,
#   cat, wc -l, the log's floor program (bench/floor/*_floor.cpp) and the
#   log's mawk program (bench/mawk/*.awk),
# and varno --stat for each mail type; prints the median wall and CPU (user +
# system) seconds of each, the ratios to the floor, and whether varno and the
# floor wrote the same file.
#
#   bench/floor_bench.sh [--lines N] [--rounds R] [--mawk-rounds M] [--keep]
#       N SMTP lines per direction (default 1 000 000), R rounds (default 5),
#       mawk only in the first M rounds (default 1: it is slow and only a
#       reference).
#
# The floors compute the SMTP-IN and RBL-IN files. SMTP-OUT and RBL-OUT run
# the same handlers on the outgoing logs, so the floors compute their files
# too ("same"). The other types are put against the floor of the nearest
# handler on the same kind of log ("nearest"): it splits and counts as many
# fields per line, but its file differs. The same holds for the mawk
# programs. Medians of alternating runs keep the comparison fair on a busy
# machine; CPU seconds (perf's task clock when it can be read, else user +
# system of GNU time) are steadier than wall seconds there.
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
    -h|--help) sed -n '2,23p' "$0"; exit 0 ;;
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

DIR=bench/data/stat-mail
generate "$DIR" --days 1 --start 20240101 --lines-per-day "$LINES" --out-lines "$LINES" --seed 7 --quiet
OUT=bench/data/out-floor
rm -rf "$OUT"
mkdir -p "$OUT"
cleanup() { [ "$KEEP" = 1 ] || rm -rf "$OUT"; }
trap cleanup EXIT

# Logs: name, file, floor program, mawk program.
LOGS=(
  "smtp smtp20240101.log smtp_in_floor smtp_in.awk"
  "smtp-out smtp-out20240101.log smtp_in_floor smtp_in.awk"
  "rbl rbl20240101.log rbl_in_floor rbl_in.awk"
  "rbl-out rbl-out20240101.log rbl_in_floor rbl_in.awk"
  "postponer postponer20240101.log smtp_in_floor smtp_in.awk"
  "postponer-out postponer-out20240101.log smtp_in_floor smtp_in.awk"
)
# Mail types: type, log name, its metadata file, whether the floor computes
# that file ("same") or is the nearest one ("nearest").
TYPES=(
  "SMTP-IN smtp _smtp20240101.csv same"
  "SMTP-OUT smtp-out _smtp-out20240101.csv same"
  "SMTP-CHART smtp _smtpstat/_smtp20240101.csv nearest"
  "RBL-IN rbl _rbl20240101.csv same"
  "RBL-OUT rbl-out _rbl-out20240101.csv same"
  "RBL-CHART rbl _smtpstat/_rbl20240101.csv nearest"
  "BIP rbl _bip20240101.csv nearest"
  "POST-IN postponer _postponer20240101.csv nearest"
  "POST-OUT postponer-out _postponer-out20240101.csv nearest"
)
cat "$DIR"/*.log >/dev/null  # warm the page cache

# CPU seconds come from perf's task clock (milliseconds) when perf can count
# it, else from GNU time (hundredths).
PERF=0
if perf stat -x, -e task-clock -o /dev/null true >/dev/null 2>&1; then PERF=1; fi

# run NAME command...: one timed run; appends "wall cpu" to $OUT/NAME.times.
run() {
  local name=$1
  shift
  local tf pf
  tf=$(mktemp)
  pf=$(mktemp)
  if [ "$PERF" = 1 ]; then
    /usr/bin/time -f '%e %U %S' -o "$tf" perf stat -x, -e task-clock -o "$pf" "$@" >/dev/null \
      2>"$OUT/$name.err" || echo "$name: exit $?" >&2
    local ms
    ms=$(awk -F, '$3 == "task-clock" { print $1 }' "$pf")
    tail -n 1 "$tf" | awk -v ms="$ms" '{ printf "%s %.3f\n", $1, ms / 1000 }' >>"$OUT/$name.times"
  else
    /usr/bin/time -f '%e %U %S' -o "$tf" "$@" >/dev/null 2>"$OUT/$name.err" || echo "$name: exit $?" >&2
    tail -n 1 "$tf" | awk '{ printf "%s %.3f\n", $1, $2 + $3 }' >>"$OUT/$name.times"
  fi
  rm -f "$tf" "$pf"
}

# median NAME COLUMN: median of column 1 (wall) or 2 (cpu) of NAME's runs.
median() {
  sort -n -k"$2" "$OUT/$1.times" | awk -v c="$2" '{ v[NR] = $c } END {
    if (NR == 0) { print "-"; exit }
    if (NR % 2) print v[(NR + 1) / 2]; else printf "%.3f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

for ((r = 1; r <= ROUNDS; r++)); do
  for entry in "${LOGS[@]}"; do
    read -r name file floor awkf <<<"$entry"
    run "$name-cat" cat "$DIR/$file"
    run "$name-wc" wc -l "$DIR/$file"
    run "$name-floor" "$BUILD_DIR/bin/$floor" "$DIR/$file" "$OUT/$name-floor.csv"
    if [ "$r" -le "$MAWK_ROUNDS" ]; then run "$name-mawk" mawk -f "bench/mawk/$awkf" "$DIR/$file"; fi
  done
  for entry in "${TYPES[@]}"; do
    read -r type name csv how <<<"$entry"
    rm -rf "$OUT/varno-$type"
    run "varno-$type" "$VARNO" --stat="$type" --srcdir="$DIR" --outdir="$OUT/varno-$type"
  done
done

printf '\nmedians of %d alternating rounds (mawk: %d); floor and mawk: "same" computes the type'"'"'s file,\n' "$ROUNDS" "$MAWK_ROUNDS"
printf '"nearest" is the program of the nearest handler on the same log\n'
printf '%-34s %10s %8s %8s %13s %10s %10s\n' run lines "wall s" "cpu s" "Mlines/cpu-s" "wall/floor" "cpu/floor"
row() {  # row LABEL LINES NAME FLOOR-NAME
  local w c fw fc
  w=$(median "$3" 1); c=$(median "$3" 2); fw=$(median "$4" 1); fc=$(median "$4" 2)
  awk -v l="$1" -v n="$2" -v w="$w" -v c="$c" -v fw="$fw" -v fc="$fc" 'BEGIN {
    rate = (c > 0) ? sprintf("%.2f", n / c / 1e6) : "-"
    rw = (fw > 0) ? sprintf("%.2f", w / fw) : "-"; rc = (fc > 0) ? sprintf("%.2f", c / fc) : "-"
    printf "%-34s %10d %8.3f %8.3f %13s %10s %10s\n", l, n, w, c, rate, rw, rc }'
}
SUMMARY=()
for entry in "${TYPES[@]}"; do
  read -r type name csv how <<<"$entry"
  read -r _ file floor awkf < <(printf '%s\n' "${LOGS[@]}" | awk -v n="$name" '$1 == n')
  lines=$(file_lines "$DIR/$file")
  echo "$type ($file, $(awk -v b="$(file_bytes "$DIR/$file")" 'BEGIN { printf "%.0f MiB", b / 1048576 }'))"
  row "  cat" "$lines" "$name-cat" "$name-floor"
  row "  wc -l" "$lines" "$name-wc" "$name-floor"
  row "  floor $floor ($how)" "$lines" "$name-floor" "$name-floor"
  row "  varno --stat=$type" "$lines" "varno-$type" "$name-floor"
  [ -f "$OUT/$name-mawk.times" ] && row "  mawk $awkf ($how)" "$lines" "$name-mawk" "$name-floor"
  vc=$(median "varno-$type" 2); fc=$(median "$name-floor" 2)
  note=""
  if [ "$how" = same ]; then
    if cmp -s "$OUT/varno-$type/$csv" "$OUT/$name-floor.csv"; then note="same file as the floor"
    else note="file DIFFERS from the floor's"; fi
  fi
  SUMMARY+=("$(awk -v t="$type" -v n="$lines" -v c="$vc" -v fc="$fc" -v h="$how" -v note="$note" 'BEGIN {
    printf "%-11s %6.2f M lines/cpu-s, varno/floor %s cpu (%s floor) %s",
      t, (c > 0 ? n / c / 1e6 : 0), (fc > 0 ? sprintf("%.2f", c / fc) : "-"), h, note }')")
done
echo
printf '%s\n' "${SUMMARY[@]}"
