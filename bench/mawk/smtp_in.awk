# Hourly SMTP traffic and its top lists, as the metadata generator writes them
# for SMTP-IN: per hour ok (field 2 = 0) and err, the busiest client addresses
# (field 5, "TIP", top 15) and every result code ("ERR").
# Usage: mawk -f smtp_in.awk [-v top=15] smtpYYYYMMDD.log > _smtpYYYYMMDD.csv
# Fields are taken as they stand (no trimming); a line whose field 1 is not a
# time of day (HH:MM:SS or HH:MM, hour 00-23) is ignored.
BEGIN {
  FS = ";"
  if (top == "") top = 15
  for (h = 0; h < 24; h++) { ok[h] = 0; err[h] = 0 }
}
{
  t = $2
  sub(/^[ \t]+/, "", t)
  if (t !~ /^[0-2][0-9]:[0-5][0-9](:[0-5][0-9])?([ \t]|$)/) next
  h = substr(t, 1, 2) + 0
  if (h > 23) next
  r = int($3 + 0)
  errs[sprintf("%d", r)]++
  tip[$6]++
  if (r == 0) ok[h]++; else err[h]++
}
# Fills sel[1..n] with the keys of cnt ordered by count, larger first, then
# by the key; at most k of them.
function select_top(cnt, k,    key, i, n) {
  n = 0
  if (k >= 1e9) return sort_all(cnt)
  for (key in cnt) {
    if (n == k && !before(cnt, key, sel[n])) continue
    if (n < k) i = ++n; else i = n
    while (i > 1 && before(cnt, key, sel[i - 1])) { sel[i] = sel[i - 1]; i-- }
    sel[i] = key
  }
  return n
}
function before(cnt, a, b) {
  if (cnt[a] != cnt[b]) return cnt[a] > cnt[b]
  return a < b
}
# Fills sel[1..n] with every key, in the same order (heap sort).
function sort_all(cnt,    key, n, i, t) {
  n = 0
  for (key in cnt) sel[++n] = key
  for (i = int(n / 2); i >= 1; i--) sift(cnt, i, n)
  for (i = n; i > 1; i--) { t = sel[1]; sel[1] = sel[i]; sel[i] = t; sift(cnt, 1, i - 1) }
  return n
}
# Heap with the key that sorts last on top.
function sift(cnt, i, n,    c, t) {
  while ((c = 2 * i) <= n) {
    if (c < n && before(cnt, sel[c], sel[c + 1])) c++
    if (!before(cnt, sel[i], sel[c])) break
    t = sel[i]; sel[i] = sel[c]; sel[c] = t; i = c
  }
}
END {
  tok = 0; terr = 0
  for (h = 0; h < 24; h++) { tok += ok[h]; terr += err[h] }
  printf "S;%d;%d;%d\n", tok + terr, tok, terr
  for (h = 0; h < 24; h++) printf "H;%02d;%d;%d;%d\n", h, ok[h] + err[h], ok[h], err[h]
  n = select_top(tip, top)
  for (i = 1; i <= n; i++) printf "TIP;%s;%d\n", sel[i], tip[sel[i]]
  n = select_top(errs, 1e9)
  for (i = 1; i <= n; i++) printf "ERR;%s;%d\n", sel[i], errs[sel[i]]
}
