#!/usr/bin/env bash
# A private MariaDB server for trying the database feed by hand and for the
# tests: its own data folder, socket and port, on loopback only, with none of
# the machine's MariaDB settings.
#
#   tools/mariadb_private.sh start DIR [PORT]   starts it, writes DIR/env
#   tools/mariadb_private.sh stop DIR           stops it by its PID
#
# DIR/env holds shell assignments of the connection details:
#   VARNO_TEST_DB_HOST, VARNO_TEST_DB_PORT, VARNO_TEST_DB_USER,
#   VARNO_TEST_DB_PASSWORD, VARNO_TEST_DB_SOCKET
# The user "varno" (password "varno") may connect from 127.0.0.1 and do
# anything; root connects through the socket without a password.
set -euo pipefail

usage() { echo "usage: $0 start DIR [PORT] | stop DIR" >&2; exit 2; }
[ $# -ge 2 ] || usage
command=$1
dir=$2
small=(--innodb-log-file-size=16M --innodb-buffer-pool-size=32M)

port_is_free() { ! (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

start() {
  local port=${1:-}
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  if [ -f "$dir/mariadbd.pid" ] && kill -0 "$(cat "$dir/mariadbd.pid")" 2>/dev/null; then
    echo "A server already runs for $dir (PID $(cat "$dir/mariadbd.pid"))." >&2
    exit 1
  fi
  if [ -z "$port" ]; then
    port=33061
    while ! port_is_free "$port"; do port=$((port + 1)); done
  fi
  local user_opt=()
  [ "$(id -u)" -eq 0 ] && user_opt=(--user=root)
  if [ ! -d "$dir/data/mysql" ]; then
    mariadb-install-db --no-defaults --datadir="$dir/data" "${user_opt[@]}" --skip-test-db \
      --auth-root-authentication-method=normal "${small[@]}" >"$dir/install.log" 2>&1 \
      || { cat "$dir/install.log" >&2; exit 1; }
  fi
  local socket="$dir/mariadbd.sock"
  mariadbd --no-defaults "${user_opt[@]}" --datadir="$dir/data" --socket="$socket" \
    --pid-file="$dir/mariadbd.pid" --port="$port" --bind-address=127.0.0.1 \
    --skip-name-resolve --skip-log-bin "${small[@]}" >"$dir/server.log" 2>&1 &
  local pid=$!
  echo "$pid" >"$dir/mariadbd.pid"
  for _ in $(seq 1 300); do
    if mariadb-admin --no-defaults --socket="$socket" -uroot ping >/dev/null 2>&1; then break; fi
    if ! kill -0 "$pid" 2>/dev/null; then cat "$dir/server.log" >&2; exit 1; fi
    sleep 0.1
  done
  mariadb --no-defaults --socket="$socket" -uroot -e \
    "CREATE USER IF NOT EXISTS 'varno'@'127.0.0.1' IDENTIFIED BY 'varno';
     GRANT ALL PRIVILEGES ON *.* TO 'varno'@'127.0.0.1';"
  cat >"$dir/env" <<EOF
VARNO_TEST_DB_HOST=127.0.0.1
VARNO_TEST_DB_PORT=$port
VARNO_TEST_DB_USER=varno
VARNO_TEST_DB_PASSWORD=varno
VARNO_TEST_DB_SOCKET=$socket
EOF
  echo "MariaDB runs with PID $pid on 127.0.0.1:$port (socket $socket)."
  echo "Connection details: $dir/env; stop it with: $0 stop $dir"
}

stop() {
  local pidfile="$dir/mariadbd.pid"
  [ -f "$pidfile" ] || { echo "No server PID in $dir." >&2; return 0; }
  local pid
  pid=$(cat "$pidfile")
  if kill -TERM "$pid" 2>/dev/null; then
    for _ in $(seq 1 300); do
      kill -0 "$pid" 2>/dev/null || break
      sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
  fi
  rm -f "$pidfile"
  echo "MariaDB (PID $pid) stopped."
}

case "$command" in
  start) start "${3:-}" ;;
  stop) stop ;;
  *) usage ;;
esac
