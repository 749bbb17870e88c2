#!/usr/bin/env bash
# Times the database feed against LOAD DATA LOCAL INFILE of the same rows.
#
#   bench/dbfeed_bench.sh [--lines N] [--burst B] [--keep]
#
# One day of N incoming SMTP lines (default 1 000 000) with its RBL and
# postponer logs (genlogs, cached in bench/data/feed-day) is fed into a fresh
# table with `burst` B (default 1000) through a private MariaDB server that
# the script starts (tools/mariadb_private.sh) and stops by its PID. The rows
# the feed stored are then exported as a tab-separated file and loaded into
# an empty table of the same definition with LOAD DATA LOCAL INFILE: the
# floor. Prints messages/s of both and their ratio.
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"
source bench/lib.sh

LINES=1000000
BURST=1000
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --lines) LINES=$2; shift 2 ;;
    --lines=*) LINES=${1#*=}; shift ;;
    --burst) BURST=$2; shift 2 ;;
    --burst=*) BURST=${1#*=}; shift ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

ensure_tools
command -v mariadbd >/dev/null 2>&1 || { echo "mariadb-server is not installed" >&2; exit 1; }
DAY_DIR=bench/data/feed-day
generate "$DAY_DIR" --days 1 --start 20240101 --lines-per-day "$LINES" --directions in \
  --seed 42 --quiet

WORK=bench/data/feed-run
DB_DIR=$(mktemp -d "${TMPDIR:-/tmp}/varno-bench-db.XXXXXX")
cleanup() {
  bash tools/mariadb_private.sh stop "$DB_DIR" >/dev/null || true
  rm -rf "$DB_DIR"
  [ "$KEEP" = 1 ] || rm -rf "$WORK"
}
trap cleanup EXIT
trap "exit 130" INT TERM
bash tools/mariadb_private.sh start "$DB_DIR" >&2
# shellcheck disable=SC1091
. "$DB_DIR/env"
MARIADB=(mariadb --no-defaults --protocol=TCP -h "$VARNO_TEST_DB_HOST" -P "$VARNO_TEST_DB_PORT"
  -u "$VARNO_TEST_DB_USER" --password="$VARNO_TEST_DB_PASSWORD")
sql() { "${MARIADB[@]}" "$@"; }

# The README's table definition.
table() {
  cat <<EOF
CREATE TABLE \`$1\` (
  \`id\` BIGINT UNSIGNED NOT NULL AUTO_INCREMENT PRIMARY KEY,
  \`msgid\` CHAR(40) NOT NULL, \`nodeid\` VARCHAR(64) NOT NULL, \`msgtime\` DATETIME NOT NULL,
  \`flags\` INT UNSIGNED NOT NULL, \`f_smtp\` INT UNSIGNED NOT NULL, \`f_rbl\` INT UNSIGNED NOT NULL,
  \`split\` INT UNSIGNED NOT NULL, \`endmarks\` INT UNSIGNED NOT NULL,
  \`client\` VARCHAR(255) NOT NULL, \`sender\` TEXT NOT NULL, \`recipients\` MEDIUMTEXT NOT NULL,
  \`domains\` MEDIUMTEXT NOT NULL,
  UNIQUE KEY \`message\` (\`msgid\`, \`nodeid\`, \`msgtime\`)
) ENGINE=InnoDB DEFAULT CHARSET=latin1 COLLATE=latin1_bin;
EOF
}
sql -e "CREATE DATABASE bench; USE bench; $(table inbound) $(table outbound) $(table floor_inbound)"

# A private installation: bin/varno and conf/bench-dbf.conf; the cursor starts
# at the generated day.
rm -rf "$WORK"
mkdir -p "$WORK/bin" "$WORK/conf" "$WORK/logs"
cp "$VARNO" "$WORK/bin/varno"
ln -s "$REPO/$DAY_DIR"/*.log "$WORK/logs/"
cat >"$WORK/conf/bench-dbf.conf" <<EOF
host = $VARNO_TEST_DB_HOST
port = $VARNO_TEST_DB_PORT
user = $VARNO_TEST_DB_USER
passwd = $VARNO_TEST_DB_PASSWORD
db = bench
nodeid = bench
burst = $BURST
EOF
printf 'last-in = 2024/01/01,0\nlast-out = %s,0\n' "$(date +%Y/%m/%d)" >"$WORK/logs/bench-dbf.stat"

LOGS=("$DAY_DIR"/*.log)
cat "${LOGS[@]}" >/dev/null  # warm the page cache
smtpLines=$(file_lines "$DAY_DIR"/smtp*.log)
allBytes=$(file_bytes "${LOGS[@]}")

measure "$WORK/feed.out" "$WORK/feed.err" "$WORK/bin/varno" --dbfeed=bench "$WORK/logs"
[ "$RC" = 0 ] || { echo "feed failed:" >&2; tail -n 5 "$WORK/feed.err" >&2; exit 1; }
FEED_WALL=$WALL
FEED_RSS=$RSS_MB
rows=$(sql -N -e "SELECT COUNT(*) FROM bench.inbound")
add_row "varno --dbfeed (burst $BURST)" "$smtpLines" "$allBytes"

# The floor: the same rows from a tab-separated file.
columns="msgid, nodeid, msgtime, flags, f_smtp, f_rbl, split, endmarks, client, sender, recipients, domains"
sql -N --batch -e "SELECT $columns FROM bench.inbound" >"$WORK/rows.tsv"
tsvBytes=$(file_bytes "$WORK/rows.tsv")
measure "$WORK/load.out" "$WORK/load.err" "${MARIADB[@]}" --local-infile=1 bench -e \
  "LOAD DATA LOCAL INFILE '$REPO/$WORK/rows.tsv' INTO TABLE floor_inbound ($columns)"
[ "$RC" = 0 ] || { echo "LOAD DATA failed:" >&2; cat "$WORK/load.err" >&2; exit 1; }
LOAD_WALL=$WALL
floorRows=$(sql -N -e "SELECT COUNT(*) FROM bench.floor_inbound")
add_row "LOAD DATA LOCAL INFILE (floor)" "$floorRows" "$tsvBytes"

print_table
awk -v r="$rows" -v f="$FEED_WALL" -v l="$LOAD_WALL" -v fr="$floorRows" -v m="$FEED_RSS" 'BEGIN {
  printf "\nrows stored by the feed: %d (floor loaded %d)\n", r, fr
  printf "feed:  %.0f messages/s (peak %s MiB)\n", r / f, m
  printf "floor: %.0f rows/s\n", fr / l
  printf "feed time / floor time: %.2f\n", f / l
}'
