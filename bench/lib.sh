# Helpers shared by the benchmark scripts (sourced, not run): tool checks,
# cached data generation, timing with peak memory, and the result table.
# The caller sets REPO to the repository root and works from there.

BUILD_DIR=${BUILD_DIR:-build}
VARNO=${VARNO:-"$BUILD_DIR/bin/varno"}
GENLOGS="$BUILD_DIR/bin/genlogs"
HAVE_GNU_TIME=0

# Builds varno and genlogs when missing; installs GNU time and mawk when
# missing and possible (root with apt-get).
ensure_tools() {
  if [ ! -x "$VARNO" ] || [ ! -x "$GENLOGS" ]; then
    echo "== building varno and genlogs in $BUILD_DIR" >&2
    cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    cmake --build "$BUILD_DIR" --target varno genlogs
  fi
  local missing=()
  [ -x /usr/bin/time ] || missing+=(time)
  command -v mawk >/dev/null 2>&1 || missing+=(mawk)
  if [ ${#missing[@]} -gt 0 ] && [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null 2>&1; then
    echo "== installing ${missing[*]}" >&2
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1 ||
      { apt-get update -qq >/dev/null 2>&1 && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "${missing[@]}" >/dev/null 2>&1; } || true
  fi
  if [ -x /usr/bin/time ] && /usr/bin/time -f '%e %M' -o /dev/null true 2>/dev/null; then
    HAVE_GNU_TIME=1
  else
    echo "note: GNU time not available, peak memory is not measured" >&2
  fi
}

# generate DIR genlogs-options...: writes the logs unless DIR already holds
# the output of exactly these options and this genlogs binary.
generate() {
  local dir=$1
  shift
  local stamp
  stamp="$(cksum <"$GENLOGS" | cut -d' ' -f1) $*"
  if [ -f "$dir/.stamp" ] && [ "$(cat "$dir/.stamp")" = "$stamp" ]; then
    echo "== reusing $dir" >&2
    return 0
  fi
  rm -rf "$dir"
  echo "== generating $dir: genlogs $*" >&2
  "$GENLOGS" --out "$dir" "$@"
  printf '%s' "$stamp" >"$dir/.stamp"
}

# measure STDOUT-FILE STDERR-FILE command...: runs the command once and sets
# WALL (seconds), CPU (user + system seconds, or the wall time without GNU
# time), RSS_MB (peak resident MiB, or n/a) and RC (exit status).
measure() {
  local out=$1 err=$2
  shift 2
  local tf
  tf=$(mktemp)
  RC=0
  if [ "$HAVE_GNU_TIME" = 1 ]; then
    /usr/bin/time -f '%e %M %U %S' -o "$tf" "$@" >"$out" 2>"$err" || RC=$?
    local last
    last=$(tail -n 1 "$tf")
    read -r WALL RSS_MB CPU <<<"$(awk '{ printf "%s %.1f %.2f", $1, $2 / 1024, $3 + $4 }' <<<"$last")"
  else
    local start end
    start=$(date +%s.%N)
    "$@" >"$out" 2>"$err" || RC=$?
    end=$(date +%s.%N)
    WALL=$(awk -v a="$start" -v b="$end" 'BEGIN { printf "%.2f", b - a }')
    CPU=$WALL
    RSS_MB=n/a
  fi
  rm -f "$tf"
}

# median VALUE...: the middle one of the numbers.
median() {
  printf '%s\n' "$@" | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'
}

TABLE_ROWS=()

# add_row LABEL LINES BYTES: one table row from the last measure.
add_row() {
  local label=$1 lines=$2 bytes=$3 note=""
  [ "$RC" = 0 ] || note="exit $RC"
  TABLE_ROWS+=("$label|$lines|$bytes|$WALL|$RSS_MB|$note|${CPU:-$WALL}")
}

print_table() {
  printf '\n%-34s %12s %9s %9s %9s %10s %12s  %s\n' "run" "lines" "MiB in" "wall s" "cpu s" "peak MiB" "Mlines/s" ""
  local row label lines bytes wall rss note cpu
  for row in "${TABLE_ROWS[@]}"; do
    IFS='|' read -r label lines bytes wall rss note cpu <<<"$row"
    awk -v l="$label" -v n="$lines" -v b="$bytes" -v w="$wall" -v r="$rss" -v note="$note" -v c="$cpu" 'BEGIN {
      rate = (w > 0) ? sprintf("%.2f", n / w / 1e6) : "-"
      printf "%-34s %12d %9.1f %9.2f %9.2f %10s %12s  %s\n", l, n, b / 1048576, w, c, r, rate, note
    }'
  done
}

# ratio A B: A / B with two decimals ("-" when B is 0).
ratio() {
  awk -v a="$1" -v b="$2" 'BEGIN { if (b > 0) printf "%.2f", a / b; else printf "-" }'
}

file_bytes() { cat "$@" | wc -c; }
file_lines() { cat "$@" | wc -l; }

# The week of logs shared by the 7-day metadata run and the search benchmark:
# 7 days from 2024-01-01, both directions, SMTP, RBL and postponer logs.
WEEK_DIR=bench/data/week
generate_week() {
  generate "$WEEK_DIR" --days 7 --start 20240101 --lines-per-day "$1" --seed 42 --quiet
}
