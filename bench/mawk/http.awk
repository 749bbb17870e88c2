# The three HTTP metadata files of one combined proxy log day, as
# varno --stat=HTTP writes them: alerts (al), traffic (tr), web filter (wf).
# Usage: mawk -v out=DIR -f http.awk kelbYYYYMMDD.log
BEGIN {
  FS = ";"
  split("VIRUS CONTENT BANNED NOTALLOWED BANCON SITE", words, " ")
  for (i = 1; i <= 6; i++) column[words[i]] = i
  hexdigits = "0123456789abcdef"
}
function trim(s) { gsub(/^[ \t\r]+|[ \t\r]+$/, "", s); return s }
function number(s,    n, i, c, base) {
  s = trim(s); n = 0
  if (s ~ /^0[xX]/) {
    s = tolower(substr(s, 3))
    for (i = 1; i <= length(s); i++) { c = index(hexdigits, substr(s, i, 1)); if (!c) break; n = n * 16 + c - 1 }
  } else if (s ~ /^0/) {
    for (i = 2; i <= length(s); i++) { c = substr(s, i, 1); if (c < "0" || c > "7") break; n = n * 8 + c }
  } else n = s + 0
  return n
}
$2 !~ /^ *[0-9][0-9]?:[0-9][0-9]/ { next }
{
  k = substr(trim($3), 1, 1)
  if (k != "E" && k != "e") next
  split(trim($2), t, ":"); h = t[1] + 0
  ip = trim($7); user = trim($8); host = trim($9)
  # alerts
  all[h]++; r = toupper(trim($12))
  if (r in column) { reason[h, column[r]]++; if (r == "VIRUS") vir[$13]++ }
  alip[ip]++
  # traffic
  v = trim($6); v = (v == "-") ? 0 : v * 1024
  vol[h] += v; trip[ip] += v; dm[host] += v
  # web filter
  n = number($14)
  if (n != 0) {
    for (b = 0; b < 32; b++) { if (int(n / 2 ^ b) % 2) muc[sprintf("0x%08x", 2 ^ b)]++ }
    mud[host]++; muu[user]++; mui[ip]++
  }
}
function list(file, label, a, top,    key, cmd) {
  cmd = "sort -t';' -k3,3nr -k2,2f " (top ? "| head -n " top " " : "") ">> " file
  for (key in a) if (a[key] >= 1) printf "%s;%s;%.0f\n", label, key, a[key] | cmd
  close(cmd)
}
END {
  al = out "/al.csv"; tr = out "/tr.csv"; wf = out "/wf.csv"
  for (h = 0; h < 24; h++) { day[0] += all[h]; for (c = 1; c <= 6; c++) day[c] += reason[h, c]; total += vol[h] }
  printf "S;%d;%d;%d;%d;%d;%d;%d\n", day[0], day[1], day[2], day[3], day[4], day[5], day[6] > al
  for (h = 0; h < 24; h++)
    printf "H;%02d;%d;%d;%d;%d;%d;%d;%d\n", h, all[h], reason[h, 1], reason[h, 2], reason[h, 3],
           reason[h, 4], reason[h, 5], reason[h, 6] > al
  close(al); list(al, "IP", alip); list(al, "VIR", vir)
  printf "S;%.0f\n", total > tr
  for (h = 0; h < 24; h++) printf "H;%02d;%.0f\n", h, vol[h] > tr
  close(tr); list(tr, "IP", trip); list(tr, "DM", dm)
  printf "" > wf; close(wf)
  list(wf, "MUC", muc); list(wf, "MUD", mud, 15); list(wf, "MUU", muu, 15); list(wf, "MUI", mui, 15)
}
