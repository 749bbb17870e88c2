#!/usr/bin/env bash
# Times varno-report on a large metadata folder and, when chromium is
# installed, the browser's load of the page.
#
#   bench/report_bench.sh [--rows N] [--days D] [--keep]
#       D days (default 31) of every metadata kind, each top list with N rows
#       (default 1 000); prints the page's size, varno-report's time and peak
#       memory, and the time headless Chromium needs to parse the page and run
#       its script (the newest day's rows built).
#
# Data goes to bench/data/report-<D>x<N>/ (kept between runs), the page to
# bench/data/report.html (removed unless --keep).
set -euo pipefail
REPO="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$REPO"

ROWS=1000
DAYS=31
KEEP=0
while [ $# -gt 0 ]; do
  case "$1" in
    --rows) ROWS=$2; shift 2 ;;
    --days) DAYS=$2; shift 2 ;;
    --keep) KEEP=1; shift ;;
    -h|--help) sed -n '2,13p' "$0"; exit 0 ;;
    *) echo "unknown option $1" >&2; exit 2 ;;
  esac
done

report=build/bin/varno-report
[ -x "$report" ] || { cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null; cmake --build build --target varno-report; }

meta=bench/data/report-${DAYS}x${ROWS}
if [ ! -d "$meta" ]; then
  echo "== generating $meta"
  mkdir -p "$meta/_smtpstat" "$meta/_kelb_cs"
  awk -v rows="$ROWS" -v days="$DAYS" -v dir="$meta" '
    function hours(f, tag, n,   h, v, line) {
      for (h = 0; h < 24; h++) {
        line = sprintf("%s;%02d", tag, h)
        for (v = 0; v < n; v++) line = line ";" int(rand() * 100)
        printf "%s\r\n", line > f
      }
    }
    function top(f, label, n, count,   i, v, line) {
      for (i = 0; i < count; i++) {
        line = sprintf("%s;user%d@host%d.example", label, i, i % 97)
        for (v = 0; v < n; v++) line = line ";" (count - i)
        printf "%s\r\n", line > f
      }
    }
    function file(name, date) { return dir "/" sprintf(name, date) }
    BEGIN {
      srand(1)
      for (d = 0; d < days; d++) {
        date = sprintf("2024%02d%02d", 1 + int(d / 28), 1 + d % 28)
        for (k = 1; k <= 2; k++) {
          f = file(k == 1 ? "_smtp%s.csv" : "_smtp-out%s.csv", date)
          printf "S;1000;900;100\r\n" > f; hours(f, "H", 3); top(f, "TIP", 1, rows); top(f, "ERR", 1, 50); close(f)
          f = file(k == 1 ? "_postponer%s.csv" : "_postponer-out%s.csv", date)
          printf "S;30;20;10\r\n" > f; hours(f, "H", 3); top(f, "TIP", 1, rows); top(f, "ERR", 1, 50); close(f)
          f = file(k == 1 ? "_rbl%s.csv" : "_rbl-out%s.csv", date)
          printf "S;100;80;10;10;12345\r\n" > f; hours(f, "H", 5)
          top(f, "TS", 5, rows); top(f, "TR", 5, rows); top(f, "TD", 2, rows); top(f, "TE", 2, rows)
          top(f, "VIR", 1, rows); top(f, "TSD", 1, rows); top(f, "TVN", 1, rows); close(f)
        }
        f = file("_smtpstat/_smtp%s.csv", date)
        printf "DC;10\r\nDCA;5\r\nDC?;1\r\nDCR;4\r\n" > f; top(f, "AR", 1, 26); top(f, "RR", 1, 26); close(f)
        f = file("_smtpstat/_rbl%s.csv", date)
        printf "SRC;5;1;2;1;1\r\n" > f; hours(f, "HRC", 5); top(f, "BMT", 1, rows); top(f, "TVN", 1, rows); close(f)
        f = file("_bip%s.csv", date)
        for (i = 0; i < rows; i++) printf "SIP;10.0.%d.%d;%d;1;12:00:00\r\n", i / 256, i % 256, rows - i > f
        for (i = 0; i < rows; i++) printf "VIP;10.0.%d.%d;%d;1;12:00:00\r\n", i / 256, i % 256, rows - i > f
        close(f)
        f = file("_kelb_cs/_kelb-al%s.csv", date)
        printf "S;9;1;2;0;0;0;3\r\n" > f; hours(f, "H", 7); top(f, "IP", 1, rows); top(f, "VIR", 1, rows); close(f)
        f = file("_kelb_cs/_kelb-tr%s.csv", date)
        printf "S;3.00\r\n" > f; hours(f, "H", 1); top(f, "IP", 1, rows); top(f, "DM", 1, rows); close(f)
        f = file("_kelb_cs/_kelb-wf%s.csv", date)
        top(f, "MUC", 1, 32); top(f, "MUD", 1, rows); top(f, "MUU", 1, rows); top(f, "MUI", 1, rows); close(f)
      }
    }'
fi
echo "== metadata: $(du -sh "$meta" | cut -f1) in $(find "$meta" -name '*.csv' | wc -l) files"

page=bench/data/report.html
/usr/bin/time -f "varno-report: %e s, peak %M KiB" "$report" "$meta" --days "$DAYS" --output "$page"
echo "== page: $(wc -c <"$page") bytes"

browser=$(command -v chromium || true)
if [ -n "$browser" ]; then
  # A measuring script with the page's own nonce, run after the page's script.
  nonce=$(grep -ao "nonce-[0-9a-f]*" "$page" | head -1 | cut -d- -f2)
  timed=bench/data/report-timed.html
  sed "s|</body>|<script nonce=\"$nonce\">document.body.setAttribute('data-bench','ms='+Math.round(performance.now())+';elements='+document.getElementsByTagName('*').length+';rows='+document.querySelectorAll('table.top tbody tr').length);</script></body>|" \
    "$page" >"$timed"
  profile=$(mktemp -d)
  result=$(timeout 600 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync --user-data-dir="$profile" \
    --dump-dom "file://$REPO/$timed" 2>/dev/null | grep -ao 'data-bench="[^"]*"' || true)
  rm -rf "$profile" "$timed"
  echo "== chromium: ${result:-no result} (ms: parse and script until the page's end)"
fi
[ "$KEEP" -eq 1 ] || rm -f "$page"
