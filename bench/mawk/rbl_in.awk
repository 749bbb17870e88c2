# Hourly RBL traffic and its top lists, as the metadata generator writes them
# for RBL-IN: per hour messages, clean, virus, spam and bytes; per first key
# (field 2, "TS"/"TD") and second key (field 3, "TR"/"TE") the same five
# values; the virus tables "VIR" (field 8 and 10), "TSD" (8) and "TVN" (10).
# Usage: mawk -f rbl_in.awk [-v top=15] rblYYYYMMDD.log > _rblYYYYMMDD.csv
# Sizes are plain byte counts (no --units); fields are taken as they stand;
# a line whose field 1 is not a time of day (HH:MM:SS or HH:MM) is ignored.
BEGIN {
  FS = ";"
  if (top == "") top = 15
  for (h = 0; h < 24; h++) { hm[h] = 0; hc[h] = 0; hv[h] = 0; hs[h] = 0; hb[h] = 0 }
}
{
  t = $2
  sub(/^[ \t]+/, "", t)
  if (t !~ /^[0-2][0-9]:[0-5][0-9](:[0-5][0-9])?([ \t]|$)/) next
  h = substr(t, 1, 2) + 0
  if (h > 23) next
  k1 = substr($3, 1, 511)
  k2 = $4
  virus = toupper($5) == "VIRUS"
  spam = toupper($6) == "SPAM"
  clean = !virus && !spam
  size = $7 + 0
  if (virus) {
    s8 = substr($9, 1, 31)
    vir[s8 ";" $11]++
    tsd[s8]++
    tvn[$11]++
  }
  hm[h]++; hc[h] += clean; hv[h] += virus; hs[h] += spam; hb[h] += size
  am[k1]++; ac[k1] += clean; av[k1] += virus; as[k1] += spam; ab[k1] += size
  if (k2 != "") { bm[k2]++; bc[k2] += clean; bv[k2] += virus; bs[k2] += spam; bb[k2] += size }
}
# Fills sel[1..n] with at most k keys of first, ordered by first, then by
# second (both larger first), then by the key.
function select_top(first, second, k,    key, i, n) {
  n = 0
  if (k >= 1e9) return sort_all(first, second)
  for (key in first) {
    if (n == k && !before(first, second, key, sel[n])) continue
    if (n < k) i = ++n; else i = n
    while (i > 1 && before(first, second, key, sel[i - 1])) { sel[i] = sel[i - 1]; i-- }
    sel[i] = key
  }
  return n
}
function before(first, second, a, b) {
  if (first[a] != first[b]) return first[a] > first[b]
  if (second[a] != second[b]) return second[a] > second[b]
  return a < b
}
# Fills sel[1..n] with every key, in the same order (heap sort).
function sort_all(first, second,    key, n, i, t) {
  n = 0
  for (key in first) sel[++n] = key
  for (i = int(n / 2); i >= 1; i--) sift(first, second, i, n)
  for (i = n; i > 1; i--) { t = sel[1]; sel[1] = sel[i]; sel[i] = t; sift(first, second, 1, i - 1) }
  return n
}
# Heap with the key that sorts last on top.
function sift(first, second, i, n,    c, t) {
  while ((c = 2 * i) <= n) {
    if (c < n && before(first, second, sel[c], sel[c + 1])) c++
    if (!before(first, second, sel[i], sel[c])) break
    t = sel[i]; sel[i] = sel[c]; sel[c] = t; i = c
  }
}
END {
  for (h = 0; h < 24; h++) { m += hm[h]; c += hc[h]; v += hv[h]; s += hs[h]; b += hb[h] }
  printf "S;%d;%d;%d;%d;%.0f\n", m, c, v, s, b
  for (h = 0; h < 24; h++) printf "H;%02d;%d;%d;%d;%d;%.0f\n", h, hm[h], hc[h], hv[h], hs[h], hb[h]
  n = select_top(am, ab, top)
  for (i = 1; i <= n; i++) { k = sel[i]; printf "TS;%s;%d;%.0f;%d;%d;%d\n", k, am[k], ab[k], ac[k], av[k], as[k] }
  n = select_top(bm, bb, top)
  for (i = 1; i <= n; i++) { k = sel[i]; printf "TR;%s;%d;%.0f;%d;%d;%d\n", k, bm[k], bb[k], bc[k], bv[k], bs[k] }
  n = select_top(ab, am, top)
  for (i = 1; i <= n; i++) { k = sel[i]; printf "TD;%s;%.0f;%d\n", k, ab[k], am[k] }
  n = select_top(bb, bm, top)
  for (i = 1; i <= n; i++) { k = sel[i]; printf "TE;%s;%.0f;%d\n", k, bb[k], bm[k] }
  n = select_top(vir, none, 1e9)
  for (i = 1; i <= n; i++) printf "VIR;%s;%d\n", sel[i], vir[sel[i]]
  n = select_top(tsd, none, 1e9)
  for (i = 1; i <= n; i++) printf "TSD;%s;%d\n", sel[i], tsd[sel[i]]
  n = select_top(tvn, none, 1e9)
  for (i = 1; i <= n; i++) printf "TVN;%s;%d\n", sel[i], tvn[sel[i]]
}
