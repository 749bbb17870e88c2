# Converts the finished transactions ("E" lines) of HTTP proxy logs into
# access-log lines of the combined form, for GoAccess:
#   client - user [dd/Mon/yyyy:HH:MM:SS +0000] "GET http://host/ HTTP/1.1" code bytes "-" "content"
# The date comes from field 1 (yyyy/mm/dd), the volume from field 6 (KiB).
# Usage: mawk -f webstat_access.awk kelb*.log > access.log
BEGIN {
  FS = ";"
  split("Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec", month, " ")
}
$3 == "E" && $2 ~ /^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]$/ && $1 ~ /^[0-9][0-9][0-9][0-9]\/[0-9][0-9]\/[0-9][0-9]$/ {
  user = ($8 == "") ? "-" : $8
  gsub(/[ "]/, "_", user)
  code = ($10 ~ /^[0-9][0-9][0-9]$/) ? $10 : "200"
  bytes = ($6 == "-") ? 0 : int($6) * 1024
  printf "%s - %s [%s/%s/%s:%s +0000] \"GET http://%s/ HTTP/1.1\" %s %d \"-\" \"%s\"\n",
    $7, user, substr($1, 9, 2), month[substr($1, 6, 2) + 0], substr($1, 1, 4), $2, $9, code, bytes, $21
}
