#!/usr/bin/env bash
# Starts and stops a throwaway MariaDB server for the tests, the demo and the
# benchmarks: its own data directory, a private unix socket and a loopback port.
#
#   scripts/db_server.sh start DIR [PORT]   initialise DIR, start, create the schema
#   scripts/db_server.sh stop DIR           stop the server of DIR (DIR is kept)
#
# After start, DIR/env holds shell assignments for the clients:
#   HALVORN_DB_SOCKET, HALVORN_DB_PORT, HALVORN_DB_USER, HALVORN_DB_PASSWORD
# The account HALVORN_DB_USER owns the schema KVSYSTEM; root has no password on
# the socket. Works as root and as an ordinary user.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
schema="$here/../sql/kvs321bew.sql"
user=halvorn
password='Zeit#Uhr-2026'

die() { echo "db_server: $*" >&2; exit 1; }

start() {
  local dir=$1 port=${2:-}
  if [ -z "$port" ]; then
    # A loopback port that nothing listens on yet, out of 100 drawn at random.
    local tries=0
    port=$(( 20000 + RANDOM % 20000 ))
    while (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; do
      tries=$((tries + 1))
      [ "$tries" -lt 100 ] || die "no free loopback port found in 100 tries"
      port=$(( 20000 + RANDOM % 20000 ))
    done
  fi
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  local me; me=$(id -un)
  if [ ! -d "$dir/data/mysql" ]; then
    mariadb-install-db --no-defaults --user="$me" --datadir="$dir/data" \
      --auth-root-authentication-method=normal --skip-test-db \
      >"$dir/install.log" 2>&1 || { cat "$dir/install.log" >&2; die "install failed"; }
  fi
  # Its own session, so that a server restarted from a test outlives the test;
  # binary logging on, as on many production servers.
  setsid mariadbd --no-defaults --user="$me" --datadir="$dir/data" \
    --socket="$dir/mysqld.sock" --port="$port" --bind-address=127.0.0.1 \
    --pid-file="$dir/mysqld.pid" --log-error="$dir/error.log" \
    --skip-name-resolve --innodb-buffer-pool-size=256M \
    --innodb-flush-log-at-trx-commit=2 --lower-case-table-names=0 \
    --log-bin="$dir/data/binlog" --server-id=1 --binlog-format=MIXED \
    >/dev/null 2>&1 &
  local i
  for i in $(seq 1 300); do
    if mariadb --no-defaults -uroot --socket="$dir/mysqld.sock" -e 'SELECT 1' >/dev/null 2>&1; then
      break
    fi
    if [ "$i" = 300 ]; then cat "$dir/error.log" >&2; die "server did not start"; fi
    sleep 0.1
  done
  mariadb --no-defaults -uroot --socket="$dir/mysqld.sock" <"$schema"
  # A zone with summer time for the tests of TIMESTAMP keys, loaded once.
  if [ -f /usr/share/zoneinfo/Europe/Berlin ] &&
     [ "$(mariadb --no-defaults -uroot --socket="$dir/mysqld.sock" -N -e \
         "SELECT COUNT(*) FROM mysql.time_zone_name WHERE Name = 'Europe/Berlin'")" = 0 ]; then
    mariadb-tzinfo-to-sql /usr/share/zoneinfo/Europe/Berlin Europe/Berlin 2>/dev/null |
      mariadb --no-defaults -uroot --socket="$dir/mysqld.sock" mysql
  fi
  mariadb --no-defaults -uroot --socket="$dir/mysqld.sock" <<SQL
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL ON KVSYSTEM.* TO '$user'@'localhost';
GRANT ALL ON KVSYSTEM.* TO '$user'@'127.0.0.1';
SQL
  cat >"$dir/env" <<ENV
HALVORN_DB_SOCKET='$dir/mysqld.sock'
HALVORN_DB_PORT='$port'
HALVORN_DB_USER='$user'
HALVORN_DB_PASSWORD='$password'
ENV
  echo "db_server: running in $dir (socket $dir/mysqld.sock, port $port)"
}

stop() {
  local dir=$1
  [ -f "$dir/mysqld.pid" ] || return 0
  local pid; pid=$(cat "$dir/mysqld.pid")
  kill "$pid" 2>/dev/null || true
  local i
  for i in $(seq 1 300); do
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/mysqld.pid"
}

case "${1:-}" in
  start) [ $# -ge 2 ] || die "usage: $0 start DIR [PORT]"; start "$2" "${3:-}" ;;
  stop)  [ $# -ge 2 ] || die "usage: $0 stop DIR"; stop "$2" ;;
  *) die "usage: $0 start|stop DIR [PORT]" ;;
esac
