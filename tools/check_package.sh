#!/usr/bin/env bash
# Builds the Debian package in a release build folder and checks it with
# Debian's own tools: lintian; the package unpacked into a temporary root and
# its programs run from there on the example logs; the man pages (rendering,
# and every option, condition and type of varno --help); the bash completion;
# the systemd units; the metrics file; and whole days on the report page after
# several runs over a growing log.
# Usage: tools/check_package.sh [BUILD_DIR]   (default build; configured as the
# test command's release build when it has no build files yet)
set -euo pipefail
repo="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$repo"

build=${1:-build}
for tool in cpack dpkg-deb dpkg-shlibdeps lintian man systemd-analyze promtool; do
  command -v "$tool" >/dev/null || { echo "check_package: $tool is missing (see tools/run_tests.sh)"; exit 1; }
done
[ -f /usr/share/bash-completion/bash_completion ] || { echo "check_package: bash-completion is missing"; exit 1; }

fail() { echo "FAILED: $*"; exit 1; }

[ -f "$build/build.ninja" ] ||
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVARNO_WERROR=ON >/dev/null
cmake --build "$build" -j "${JOBS:-2}" --target varno varno-report varno_package_files >/dev/null
rm -f "$build"/varno_*.deb
(cd "$build" && cpack -G DEB >/dev/null 2>&1) || fail "cpack -G DEB"
version=$("$build/bin/varno" --version | sed -n 's/^Version //p' | tr -d '\r')
deb=$build/varno_${version}_amd64.deb
[ -f "$deb" ] || fail "cpack did not write $deb (the version of varno --version is '$version')"
echo "-- $deb"

work=$(mktemp -d "${TMPDIR:-/tmp}/varno-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

echo "-- lintian"
# Accepted warnings (see the package's notes in README):
#   maintainer-script-calls-systemctl: prerm stops every instance of the
#   template units by pattern, which deb-systemd-invoke cannot do.
status=0
lintian --fail-on error,warning --suppress-tags maintainer-script-calls-systemctl "$deb" \
  >"$work/lintian.out" 2>&1 || status=$?
grep -v '^running with root privileges' "$work/lintian.out" || true
[ "$status" -eq 0 ] || fail "lintian reports errors or warnings not accepted"

echo "-- layout of the unpacked package"
root=$work/root
dpkg-deb -x "$deb" "$root"
dpkg-deb -e "$deb" "$work/control"
for path in usr/lib/varno/bin/varno usr/lib/varno/bin/varno-report usr/share/man/man1/varno.1.gz \
    usr/share/man/man1/varno-report.1.gz usr/share/bash-completion/completions/varno \
    usr/share/doc/varno/copyright usr/share/doc/varno/changelog.gz \
    lib/systemd/system/varno-stat@.service lib/systemd/system/varno-stat@.timer \
    lib/systemd/system/varno-feed@.service lib/systemd/system/varno-feed@.timer; do
  [ -f "$root/$path" ] || fail "the package has no /$path"
done
[ "$(readlink "$root/usr/bin/varno")" = ../lib/varno/bin/varno ] || fail "/usr/bin/varno is no link to the program"
[ "$(readlink "$root/usr/lib/varno/conf")" = /etc/varno ] || fail "/usr/lib/varno/conf is no link to /etc/varno"
diff <(cd "$root" && find etc -type f | sed 's|^|/|' | sort) <(sort "$work/control/conffiles") ||
  fail "the files under /etc and the conffiles differ"
grep -q '^Recommends: libmariadb3$' "$work/control/control" || fail "libmariadb3 is not recommended"
zcat "$root/usr/share/doc/varno/changelog.gz" | head -n 1 | grep -qF "varno ($version)" ||
  fail "the changelog's newest entry is not version $version"
grep -v '^#' "$root/etc/varno/example-dbf.conf.sample" | grep -q '[^[:space:]]' &&
  fail "the sample feed configuration has an active line"

echo "-- the unpacked programs on the example logs"
varno=$root/usr/bin/varno
report=$root/usr/bin/varno-report
"$varno" --help >"$work/help.txt"
grep -q -- '--stat=TYPE' "$work/help.txt" || fail "the unpacked varno --help"
"$varno" --stat=ALL --srcdir=examples/logs --outdir="$work/meta" >/dev/null 2>&1 ||
  fail "the unpacked varno --stat=ALL on examples/logs"
"$report" "$work/meta" --metrics "$work/varno.prom" >/dev/null || fail "the unpacked varno-report"
grep -q '<h1>varno report</h1>' "$work/meta/report.html" || fail "no report page"

# The feed finds its configuration in conf/ beside bin/, the link to /etc/varno.
"$varno" --dbfeed=nofeed "$work" >"$work/feed.out" 2>&1 && fail "a feed without configuration ran"
grep -qF "$root/usr/lib/varno/conf/nofeed-dbf.conf" "$work/feed.out" ||
  { cat "$work/feed.out"; fail "the unpacked feed does not look for its configuration in /usr/lib/varno/conf"; }

echo "-- man pages"
for page in varno varno-report; do
  MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$root/usr/share/man/man1/$page.1.gz" \
    >"$work/$page.txt" 2>"$work/$page.warnings" || fail "man cannot render $page(1)"
  [ ! -s "$work/$page.warnings" ] || { cat "$work/$page.warnings"; fail "$page(1) renders with warnings"; }
done
# Words broken at a hyphen are joined again before looking for them.
sed -e ':a' -e '/-$/{N;s/-\n[[:space:]]*/-/;ba' -e '}' "$work/varno.txt" >"$work/varno.joined"
missing=()
while read -r word; do
  end='([^a-zA-Z0-9_-]|$)'
  [[ $word == *= ]] && end=
  grep -qE -- "(^|[^-a-zA-Z0-9_])${word}${end}" "$work/varno.joined" || missing+=("$word")
done < <(
  # Options anywhere in the help, conditions (name=) and statistic types of
  # the tables.
  grep -oE -- '(^|[[:space:](,])--?[a-zA-Z][a-zA-Z0-9_-]*' "$work/help.txt" | sed 's/^[^-]*//'
  sed -nE 's/^\t\t  ([a-z-]+)=.*/\1=/p; s/^\t\t  ([A-Z][A-Z-]+) .*/\1/p' "$work/help.txt"
  # The words of way and filter, and the lists of block reasons and categories.
  sed -nE 's/^\t\t {21}([a-z]+) +[A-Z].*/\1/p' "$work/help.txt"
  sed -nE '/^\t\t {21}[a-z][a-z, ]*,?$/{s/,/ /g;p;}' "$work/help.txt" | tr -s ' \t' '\n' | sed '/^$/d'
)
[ ${#missing[@]} -eq 0 ] || fail "varno(1) lacks what varno --help prints: ${missing[*]}"
grep -q -- '--metrics' "$work/varno-report.txt" || fail "varno-report(1) lacks --metrics"

echo "-- bash completion"
cat >"$work/completion.sh" <<EOF
. /usr/share/bash-completion/bash_completion
# Loaded on demand by command name from the unpacked package, as bash does.
XDG_DATA_DIRS=$root/usr/share
__load_completion varno && __load_completion varno-report || exit 1
compopt() { builtin compopt "\$@" 2>/dev/null || :; }
complete -p varno varno-report
# Splits the line into COMP_WORDS as readline does with '=' a word of its own,
# and calls the function that complete -p names for the command.
complete_line() {
  local line=\$1 function
  function=\$(complete -p "\${line%% *}" | sed -n 's/.*-F \\([^ ]*\\).*/\\1/p')
  read -ra COMP_WORDS <<<"\${line//=/ = }"
  [[ \$line == *" " ]] && COMP_WORDS+=("")
  COMP_CWORD=\$((\${#COMP_WORDS[@]} - 1)) COMP_LINE=\$line COMP_POINT=\${#line}
  COMPREPLY=()
  "\$function" "\${line%% *}" "\${COMP_WORDS[COMP_CWORD]}" "\${COMP_WORDS[COMP_CWORD-1]}"
  printf '%s|%s\n' "\$line" "\${COMPREPLY[*]}"
}
cd "$work"
mkdir -p logs/day
EOF
# line, expected replies
cases=(
  "varno --sta|--stat="
  "varno --stat=SMTP-|SMTP-IN SMTP-OUT SMTP-CHART"
  "varno --stat=SMTP,RBL-O|SMTP,RBL-OUT"
  "varno --stat=ALL,H|ALL,HTTP-AL ALL,HTTP-TR ALL,HTTP-WF ALL,HTTP"
  "varno --outform=s|search summary"
  "varno --units=G|GiB"
  "varno --search=x --sort=|time from to ip id"
  "varno --webstat=x --rev-sort=h|host"
  "varno --srcdir=lo|logs"
  "varno --search=x lo|logs"
  "varno-report --me|--metrics"
)
for entry in "${cases[@]}"; do
  printf 'complete_line %q\n' "${entry%%|*}" >>"$work/completion.sh"
done
bash "$work/completion.sh" >"$work/completion.out" 2>&1 || { cat "$work/completion.out"; fail "completion script"; }
grep -qx 'complete -F _varno varno' "$work/completion.out" || fail "complete -p has no varno"
for entry in "${cases[@]}"; do
  IFS='|' read -r line expected <<<"$entry"
  got=$(grep -F -- "$line|" "$work/completion.out" | head -n 1 | cut -d'|' -f2)
  [ "$got" = "$expected" ] || fail "completion of '$line' gave '$got', not '$expected'"
done

echo "-- systemd units"
# The units' programs are the unpacked ones and their man: links the unpacked
# pages; systemd-analyze prints any doubt it has, so output is a failure.
mkdir -p "$work/units"
for unit in "$root"/lib/systemd/system/*; do
  sed "s|/usr/bin/|$root/usr/bin/|g" "$unit" >"$work/units/$(basename "$unit")"
done
grep -q '^ExecStart=.* --stat=ALL ' "$work/units/varno-stat@.service" || fail "varno-stat@.service runs no --stat=ALL"
grep -q '^ExecStart=.*--diff' "$work/units/varno-stat@.service" && fail "varno-stat@.service runs --diff"
MANPATH=$root/usr/share/man systemd-analyze verify "$work"/units/* >"$work/verify.out" 2>&1 ||
  { cat "$work/verify.out"; fail "systemd-analyze verify"; }
[ ! -s "$work/verify.out" ] || { cat "$work/verify.out"; fail "systemd-analyze verify has doubts"; }

echo "-- metrics"
promtool check metrics <"$work/varno.prom" || fail "promtool check metrics"
# A few values against the newest day's metadata files.
day=$(sed -n 's/^varno_day //p' "$work/varno.prom")
[ "$day" = 20240313 ] || fail "varno_day is '$day', not the newest example day"
field() { sed -n "s/^$2;//p" "$work/meta/$1" | tr -d '\r' | cut -d';' -f"$3"; }
metric() { sed -n "s/^$1 //p" "$work/varno.prom"; }
expect() { [ "$1" = "$2" ] || fail "$3 is '$1' in the metrics, '$2' in the metadata file"; }
expect "$(metric 'varno_smtp_transactions{direction="in",status="error"}')" \
  "$(field "_smtp$day.csv" S 3)" "incoming SMTP errors"
expect "$(metric 'varno_rbl_spam_messages{direction="out"}')" \
  "$(field "_rbl-out$day.csv" S 4)" "outgoing spam"
expect "$(metric 'varno_rbl_volume_bytes{direction="in"}')" "$(field "_rbl$day.csv" S 5)" "incoming volume"
expect "$(metric 'varno_http_blocked_requests{reason="site"}')" \
  "$(field "_kelb_cs/_kelb-al$day.csv" S 7)" "HTTP requests blocked by site"
expect "$(metric varno_http_volume_bytes)" "$(field "_kelb_cs/_kelb-tr$day.csv" S 1)" "HTTP volume"

echo "-- whole days after runs over a growing log"
# The last example day's logs grow in three steps with a metadata run (as the
# timer runs it) after each; the page must equal that of one run over the
# whole logs. The same steps with --diff must not (so the check can fail).
newest=20240313
mkdir -p "$work/whole/logs" "$work/grown/logs" "$work/diff/logs"
cp examples/logs/* "$work/whole/logs/"
for case in grown diff; do
  for log in examples/logs/*; do
    case $log in *$newest.log) : >"$work/$case/logs/$(basename "$log")" ;; *) cp "$log" "$work/$case/logs/" ;; esac
  done
done
# What the timer runs: the ExecStart lines of varno-stat@.service with the
# unpacked programs, the instance "test" and its LOGDIR and OUTDIR.
mapfile -t unit_commands < <(sed -n 's/^ExecStart=//p' "$root/lib/systemd/system/varno-stat@.service")
timer_run() {  # case
  local command argv
  for command in "${unit_commands[@]}"; do
    command=${command//\/usr\/bin\//$root/usr/bin/}
    command=${command//'${LOGDIR}'/$work/$1/logs}
    command=${command//'${OUTDIR}'/$work/$1/meta}
    read -ra argv <<<"${command//%i/test}"
    "${argv[@]}" >/dev/null 2>&1 || fail "the timer's command ${argv[*]}"
  done
}
diff_run() {  # case: the same with --diff
  "$varno" --stat=ALL --diff --srcdir="$work/$1/logs" --outdir="$work/$1/meta" >/dev/null 2>&1 &&
    "$report" "$work/$1/meta" --metrics "$work/$1/meta/varno.prom" >/dev/null || fail "--diff run"
}
for step in 1 2 3; do
  for log in examples/logs/*"$newest".log; do
    lines=$(wc -l <"$log")
    keep=$((step == 3 ? lines + 1 : lines * step / 3))
    for case in grown diff; do head -n "$keep" "$log" >"$work/$case/logs/$(basename "$log")"; done
  done
  timer_run grown
  diff_run diff
done
timer_run whole
normalised() {
  sed -E "s/nonce-[0-9a-f]+/nonce-N/; s/nonce=\"[0-9a-f]+\"/nonce=\"N\"/; s/generated [0-9: -]+UTC/generated T/
    s|$work/[a-z]+/meta|OUTDIR|g" "$1"
}
diff <(normalised "$work/whole/meta/report.html") <(normalised "$work/grown/meta/report.html") >/dev/null ||
  fail "the page after runs over a growing log differs from one run over the whole log"
diff "$work/whole/meta/varno.prom" "$work/grown/meta/varno.prom" ||
  fail "the metrics after runs over a growing log differ from one run over the whole log"
diff -q <(normalised "$work/whole/meta/report.html") <(normalised "$work/diff/meta/report.html") >/dev/null &&
  fail "--diff runs gave whole days: the comparison cannot tell"
echo "Package checks passed."
