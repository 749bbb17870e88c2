#!/usr/bin/env bash
# Loads the report page of the example logs (plus hostile HTTP metadata) in
# headless Chromium and checks the rendered DOM: charts and tables present and
# laid out, log texts shown as text, the page's script run, no console
# messages. Exits 77 (skipped) when chromium is not installed.
# Usage: browser_test.sh VARNO VARNO_REPORT SOURCE_DIR
set -euo pipefail
varno=$1 report=$2 source=$3

browser=$(command -v chromium || command -v chromium-browser || true)
if [ -z "$browser" ]; then
  echo "chromium is not installed: skipped (tools/run_tests.sh installs it)"
  exit 77
fi

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*" >&2; exit 1; }

# Runs the browser on a page; the DOM goes to $1.dom, its log to $1.log.
load() {
  local page=$1
  timeout 120 "$browser" --headless --no-sandbox --disable-gpu --disable-quic --no-first-run \
    --disable-background-networking --disable-component-update --disable-sync \
    --user-data-dir="$work/profile-$(basename "$page")" --enable-logging=stderr --v=0 \
    --dump-dom "file://$page" >"$page.dom" 2>"$page.log" || fail "chromium failed on $page: $(tail -5 "$page.log")"
}

# The detector must see a script error, or the clean result below means nothing.
printf '<!DOCTYPE html><html><body><script>missingFunction();</script></body></html>' >"$work/broken.html"
load "$work/broken.html"
grep -q 'CONSOLE.*missingFunction' "$work/broken.html.log" || fail "a script error does not show in the log"

meta=$work/meta
"$varno" --stat=ALL --srcdir="$source/examples/logs" --outdir="$meta" >/dev/null 2>&1 || fail "varno --stat failed"
mkdir -p "$meta/_kelb_cs"
{
  printf 'MUC;0x00000004;5\r\n'
  printf "MUU;<script>document.title='pwned'</script>;5\r\n"
  printf 'MUD;<img src=x onerror="document.title=1">;3\r\n'
  printf 'MUI;a\0b & "c" \xff\xfe;2\r\n'
} >"$meta/_kelb_cs/_kelb-wf20240313.csv"
{
  printf 'S;4;1;0;0;0;0;3\r\n'
  for h in $(seq -w 0 23); do printf 'H;%s;0;0;0;0;0;0;0\r\n' "$h"; done
  printf 'IP;10.0.0.9;4\r\nVIR;</td></tr></table><svg onload=alert(1)>;1\r\n'
} >"$meta/_kelb_cs/_kelb-al20240313.csv"
"$report" "$meta" --output "$work/report.html" >/dev/null || fail "varno-report failed"

# A check script with the page's own nonce measures what was laid out.
nonce=$(grep -o "nonce-[0-9a-f]*" "$work/report.html" | head -1 | cut -d- -f2)
[ -n "$nonce" ] || fail "no script nonce in the page"
sed "s|</body>|<script nonce=\"$nonce\">(function(){var shown=0;document.querySelectorAll('svg').forEach(function(s){var r=s.getBoundingClientRect();if(s.checkVisibility()\&\&r.width>100\&\&r.height>50)shown++;});var open=document.querySelectorAll('#overview svg, details.day[open] svg').length;document.body.setAttribute('data-check','svg='+document.querySelectorAll('svg').length+';open='+open+';shown='+shown+';rect='+document.querySelectorAll('svg rect').length+';tables='+document.querySelectorAll('table').length+';rows='+document.querySelectorAll('table.top tbody tr').length+';pending='+document.querySelectorAll('pre.rows').length);})();</script></body>|" \
  "$work/report.html" >"$work/checked.html"
load "$work/checked.html"
dom=$work/checked.html.dom

svg_in_page=$(grep -o '<svg' "$work/report.html" | wc -l)
tables_in_page=$(grep -o '<table' "$work/report.html" | wc -l)
check=$(grep -o 'data-check="[^"]*"' "$dom" || true)
echo "page: $svg_in_page charts, $tables_in_page tables; browser: $check"
[ "$svg_in_page" -ge 40 ] || fail "too few charts in the page: $svg_in_page"
# The overview's and the open newest day's charts are shown (at least 12 and
# 11); the closed days' are not.
[[ "$check" =~ svg=([0-9]+)\;open=([0-9]+)\;shown=([0-9]+)\;rect=([0-9]+)\;tables=([0-9]+)\;rows=([0-9]+)\;pending=([0-9]+) ]] ||
  fail "check script did not run: $check"
svg_dom=${BASH_REMATCH[1]} open=${BASH_REMATCH[2]} shown=${BASH_REMATCH[3]} rect=${BASH_REMATCH[4]}
tables_dom=${BASH_REMATCH[5]} rows=${BASH_REMATCH[6]} pending=${BASH_REMATCH[7]}
[ "$svg_dom" -eq "$svg_in_page" ] || fail "charts in the DOM: $svg_dom"
[ "$open" -ge 23 ] || fail "charts in the overview and the open day: $open"
[ "$shown" -eq "$open" ] || fail "charts shown: $shown of $open"
[ "$rect" -ge 500 ] || fail "bars drawn: $rect"
[ "$tables_dom" -eq "$tables_in_page" ] || fail "tables in the DOM: $tables_dom"
# The open day's top-list rows are built from their text, one per top-list
# line of its files, at most 200 per list at first; the closed days' lists
# wait as text.
rows_in_files=$(find "$meta" -name '*20240313.csv' -exec env LC_ALL=C awk -F';' '
  FNR == 1 { file++ }
  !/^(S|H|SRC|HRC|DC|DCA|DC\?|DCR);/ { lines[file " " $1]++ }
  END { for (list in lines) total += lines[list] < 200 ? lines[list] : 200; print total + 0 }' {} +)
[ "$rows_in_files" -ge 100 ] || fail "too few top-list lines in the metadata: $rows_in_files"
[ "$rows" -eq "$rows_in_files" ] || fail "top-list rows built: $rows, lines: $rows_in_files"
[ "$pending" -ge 40 ] || fail "lists of closed days: $pending"
grep -q '<html lang="en" data-ready="1">' "$dom" || fail "the page's script did not run"
grep -q '<title>varno report</title>' "$dom" || fail "the title changed"
[ "$(grep -o '<script' "$dom" | wc -l)" -eq 2 ] || fail "scripts other than the page's and the check's"
! grep -q '<img' "$dom" || fail "an <img> from the metadata became an element"
! grep -q '<svg onload' "$dom" || fail "an svg from the metadata became an element"
grep -qF "<td class=\"key\">&lt;script&gt;document.title='pwned'&lt;/script&gt;</td>" "$dom" ||
  fail "the script text is not shown"
grep -qF '<td class="key">&lt;/td&gt;&lt;/tr&gt;&lt;/table&gt;&lt;svg onload=alert(1)&gt;</td>' "$dom" ||
  fail "the markup text is not shown"
grep -qF "<td class=\"key\">a�b &amp; \"c\" ��</td>" "$dom" || fail "NUL, quotes and invalid bytes are not shown as text"
grep -q 'id="d20240313" open' "$dom" || fail "the newest day is not open"
if grep -q 'CONSOLE' "$work/checked.html.log"; then
  grep 'CONSOLE' "$work/checked.html.log" >&2
  fail "console messages"
fi
echo "browser test passed"
