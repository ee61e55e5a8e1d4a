#!/usr/bin/env bash
# Starts and stops a throwaway MariaDB server for the tests, the demo and the
# benchmarks: its own data directory, a private unix socket and a loopback port.
#
#   scripts/db_server.sh start DIR [PORT]   initialise DIR, start, create the schema
#   scripts/db_server.sh stop DIR           stop the server of DIR (DIR is kept)
#   scripts/db_server.sh port               print a loopback port nothing listens on
#
# After start, DIR/env holds shell assignments for the clients:
#   HALVORN_DB_SOCKET, HALVORN_DB_PORT, HALVORN_DB_USER, HALVORN_DB_PASSWORD
# The account HALVORN_DB_USER owns the schema KVSYSTEM; root has no password on
# the socket. Works as root and as an ordinary user.
#
# Beside it runs a second server for the TLS tests (see start_tls_server), in
# DIR/tls, with HALVORN_TLS_DB_SOCKET, HALVORN_TLS_DB_PORT, HALVORN_TLS_CA and
# HALVORN_TLS_OTHER_CA in DIR/env.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
schema="$here/../sql/kvs321bew.sql"
user=halvorn
password='Zeit#Uhr-2026'

die() { echo "db_server: $*" >&2; exit 1; }

# A loopback port that nothing listens on yet, out of 100 drawn at random
# below the kernel's range of ports for outgoing connections: a port in that
# range may be taken by a client's socket (or a connection to the port from
# itself) while its server is down for a restart, and the server then fails
# to listen on it.
free_port() {
  local low tries=0 port
  low=$(cut -f1 /proc/sys/net/ipv4/ip_local_port_range 2>/dev/null) || low=32768
  [ "${low:-0}" -gt 12000 ] || low=32768
  while :; do
    port=$(( 10000 + RANDOM % (low - 10000) ))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return 0; }
    tries=$((tries + 1))
    [ "$tries" -lt 100 ] || die "no free loopback port found in 100 tries"
  done
}

start() {
  local dir=$1 port=${2:-}
  [ -n "$port" ] || port=$(free_port)
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
  start_tls_server "$dir"
}

# The TLS test server in DIR/tls: certificates made here with openssl (a test
# authority, a server certificate it signed for localhost and 127.0.0.1, and a
# second authority that signed nothing; 127.0.0.1 also as a DNS name, the only
# kind of name Schannel under wine matches), require_secure_transport, listening
# on 127.0.0.1 and 127.0.0.2 (a name its certificate does not carry), with the
# schema and the test account, and an account that is REQUIRE SSL. Appends its
# variables to DIR/env.
start_tls_server() {
  local dir=$1/tls port
  mkdir -p "$dir"
  # Still running when only the first server was restarted.
  if [ -f "$dir/mysqld.pid" ] && kill -0 "$(cat "$dir/mysqld.pid")" 2>/dev/null; then
    tls_env "$1" "$(cat "$dir/port")"
    return 0
  fi
  port=$(free_port)
  echo "$port" >"$dir/port"
  if [ ! -f "$dir/server-cert.pem" ]; then
    local ca=(-addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign)
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Halvorn Test CA" "${ca[@]}" \
      -keyout "$dir/ca-key.pem" -out "$dir/ca.pem" 2>/dev/null
    openssl req -x509 -newkey rsa:2048 -nodes -days 30 -subj "/CN=Halvorn Other CA" "${ca[@]}" \
      -keyout "$dir/other-ca-key.pem" -out "$dir/other-ca.pem" 2>/dev/null
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$dir/server-key.pem" \
      -out "$dir/server.csr" 2>/dev/null
    printf '%s\n' 'subjectAltName=DNS:localhost,IP:127.0.0.1,DNS:127.0.0.1' 'basicConstraints=CA:FALSE' \
      'keyUsage=digitalSignature,keyEncipherment' 'extendedKeyUsage=serverAuth' >"$dir/server.ext"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca-key.pem" \
      -CAcreateserial -days 30 -extfile "$dir/server.ext" -out "$dir/server-cert.pem" 2>/dev/null
  fi
  local me; me=$(id -un)
  if [ ! -d "$dir/data/mysql" ]; then
    mariadb-install-db --no-defaults --user="$me" --datadir="$dir/data" \
      --auth-root-authentication-method=normal --skip-test-db \
      >"$dir/install.log" 2>&1 || { cat "$dir/install.log" >&2; die "TLS server install failed"; }
  fi
  setsid mariadbd --no-defaults --user="$me" --datadir="$dir/data" \
    --socket="$dir/mysqld.sock" --port="$port" --bind-address=127.0.0.1,127.0.0.2 \
    --pid-file="$dir/mysqld.pid" --log-error="$dir/error.log" --skip-name-resolve \
    --innodb-buffer-pool-size=32M --lower-case-table-names=0 \
    --ssl-ca="$dir/ca.pem" --ssl-cert="$dir/server-cert.pem" --ssl-key="$dir/server-key.pem" \
    --require-secure-transport=ON >/dev/null 2>&1 &
  local i sql=(mariadb --no-defaults -uroot --socket="$dir/mysqld.sock")
  for i in $(seq 1 300); do
    "${sql[@]}" -e 'SELECT 1' >/dev/null 2>&1 && break
    if [ "$i" = 300 ]; then cat "$dir/error.log" >&2; die "TLS server did not start"; fi
    sleep 0.1
  done
  "${sql[@]}" <"$schema"
  "${sql[@]}" <<SQL
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL ON KVSYSTEM.* TO '$user'@'localhost';
GRANT ALL ON KVSYSTEM.* TO '$user'@'127.0.0.1';
CREATE USER IF NOT EXISTS 'halvorn_ssl'@'localhost' IDENTIFIED BY '$password' REQUIRE SSL;
CREATE USER IF NOT EXISTS 'halvorn_ssl'@'127.0.0.1' IDENTIFIED BY '$password' REQUIRE SSL;
GRANT ALL ON KVSYSTEM.* TO 'halvorn_ssl'@'localhost';
GRANT ALL ON KVSYSTEM.* TO 'halvorn_ssl'@'127.0.0.1';
SQL
  tls_env "$1" "$port"
  echo "db_server: TLS server running in $dir (socket $dir/mysqld.sock, port $port)"
}

tls_env() {  # DIR PORT
  cat >>"$1/env" <<ENV
HALVORN_TLS_DB_SOCKET='$1/tls/mysqld.sock'
HALVORN_TLS_DB_PORT='$2'
HALVORN_TLS_CA='$1/tls/ca.pem'
HALVORN_TLS_OTHER_CA='$1/tls/other-ca.pem'
ENV
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
  stop)  [ $# -ge 2 ] || die "usage: $0 stop DIR"; stop "$2/tls"; stop "$2" ;;
  port)  free_port ;;
  *) die "usage: $0 start|stop DIR [PORT]" ;;
esac
