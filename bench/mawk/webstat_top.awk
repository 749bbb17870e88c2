# Top users and hosts by volume over the closing ("E") lines of HTTP proxy
# logs, as the web statistics summary lists them under TUV and THV: field 6 is
# the final volume in KiB, field 8 the user, field 9 the host; names that
# differ only in letter case are one entry (the first spelling is shown).
# Usage: mawk -f webstat_top.awk [-v top=15] kelb*.log
BEGIN {
  FS = ";"
  if (top == "") top = 15
}
$3 == "E" {
  t = $2
  sub(/^[ \t]+/, "", t)
  if (t !~ /^[0-2][0-9]:[0-5][0-9]/) next
  v = ($6 == "-") ? 0 : int($6) * 1024
  total += v
  count++
  u = toupper($8)
  if (!(u in uname)) uname[u] = $8
  uvol[u] += v
  h = toupper($9)
  if (!(h in hname)) hname[h] = $9
  hvol[h] += v
}
# Prints the k largest of vol, larger first.
function print_top(label, vol, names, k,    key, i, n, best, bestKey) {
  for (i = 1; i <= k; i++) {
    best = -1
    for (key in vol) if (!(key in shown) && vol[key] > best) { best = vol[key]; bestKey = key }
    if (best < 0) break
    shown[bestKey] = 1
    printf "%s;%s;%.0f\n", label, names[bestKey], best
  }
  for (key in shown) delete shown[key]
}
END {
  print_top("TUV", uvol, uname, top)
  print_top("THV", hvol, hname, top)
  printf "S;%.0f;%d\n", total, count
}
