#!/usr/bin/env bash
# Starts and stops a throwaway three-node MariaDB Galera cluster on the
# loopback for the cluster tests: every node its own data directory, unix
# socket, SQL port and group, state-transfer and incremental-transfer ports.
#
#   scripts/galera_cluster.sh start DIR     initialise DIR, bootstrap node 1, let 2 and 3 join
#   scripts/galera_cluster.sh stop DIR      stop every node of DIR (DIR is kept)
#   scripts/galera_cluster.sh kill DIR N    kill node N outright (SIGKILL)
#   scripts/galera_cluster.sh restart DIR N start node N again, rejoining with its recovered position
#   scripts/galera_cluster.sh wait DIR      wait until every running node is synced in one cluster
#
# After start, DIR/env holds shell assignments for the clients:
#   HALVORN_CLUSTER_DIR, HALVORN_NODE<N>_PORT, HALVORN_NODE<N>_SOCKET (N = 1..3),
#   HALVORN_DB_USER, HALVORN_DB_PASSWORD
# Node 1 creates the schema and the accounts; nodes 2 and 3 get them by a
# state transfer (rsync). Started as root, the servers run as the user mysql:
# the rsync daemon of the state transfer serves files as nobody, which must be
# able to read what root would own. Every wait is bounded.
set -euo pipefail

here=$(cd "$(dirname "$0")" && pwd)
schema="$here/../sql/kvs321bew.sql"
user=halvorn
password='Zeit#Uhr-2026'
provider=/usr/lib/galera/libgalera_smm.so
exec=
nodes=(1 2 3)

die() { echo "galera_cluster: $*" >&2; exit 1; }

# Sets port to a loopback port that nothing listens on, drawn below the range
# of ports for outgoing connections (scripts/db_server.sh port), and that no
# earlier pick of this run took.
taken=" "
pick_port() {
  while :; do
    port=$("$here/db_server.sh" port)
    case "$taken" in *" $port "*) ;; *) taken="$taken$port "; return 0 ;; esac
  done
}

run_user() { if [ "$(id -u)" -eq 0 ]; then echo mysql; else id -un; fi; }

# The settings of node N, from DIR/ports (written by start).
node_ports() {  # DIR N -> sets sql gcomm ist sst
  local line
  line=$(grep "^$2 " "$1/ports") || die "no ports for node $2"
  read -r _ sql gcomm ist sst <<<"$line"
}

cluster_address() {
  local dir=$1 n list=
  for n in "${nodes[@]}"; do
    node_ports "$dir" "$n"
    list="$list${list:+,}127.0.0.1:$gcomm"
  done
  echo "gcomm://$list"
}

sql() {  # DIR N SQL...
  local dir=$1 n=$2; shift 2
  mariadb --no-defaults -uroot --socket="$dir/n$n/mysqld.sock" -N -B "$@"
}

# Runs mariadbd of node N with its options and the extra ones given.
mariadbd_of() {
  local dir=$1 n=$2; shift 2
  node_ports "$dir" "$n"
  $exec mariadbd --no-defaults --user="$(run_user)" --datadir="$dir/n$n/data" \
    --socket="$dir/n$n/mysqld.sock" --port="$sql" --bind-address=127.0.0.1 \
    --pid-file="$dir/n$n/mysqld.pid" --log-error="$dir/n$n/error.log" \
    --skip-name-resolve --lower-case-table-names=0 \
    --innodb-buffer-pool-size=64M --innodb-log-file-size=32M \
    --innodb-flush-log-at-trx-commit=2 \
    --binlog-format=ROW --innodb-autoinc-lock-mode=2 --default-storage-engine=InnoDB \
    --wsrep-on=ON --wsrep-provider="$provider" --wsrep-cluster-name=halvorn \
    --wsrep-cluster-address="$(cluster_address "$dir")" \
    --wsrep-node-name="node$n" --wsrep-node-address="127.0.0.1:$gcomm" \
    --wsrep-provider-options="gmcast.listen_addr=tcp://127.0.0.1:$gcomm;ist.recv_addr=127.0.0.1:$ist;gcache.size=64M" \
    --wsrep-sst-method=rsync --wsrep-sst-receive-address="127.0.0.1:$sst" \
    "$@"
}

# Starts node N in the background, in its own session so that a node
# restarted from a test outlives the test.
launch() {
  setsid "$here/galera_cluster.sh" run-node "$@" >/dev/null 2>&1 </dev/null &
  echo $! >"$1/n$2/launched.pid"
}

# The end of node N's log, after its errors: the first error of a node that
# aborted is often further up than its last lines.
show_log() {  # DIR N
  grep -F '[ERROR]' "$1/n$2/error.log" | tail -n 10 >&2 || true
  tail -n 30 "$1/n$2/error.log" >&2
}

# Waits up to seconds for node N to answer and report state Synced.
wait_synced() {
  local dir=$1 n=$2 seconds=${3:-180} i state
  for i in $(seq 1 $(( seconds * 5 ))); do
    state=$(sql "$dir" "$n" -e "SHOW STATUS LIKE 'wsrep_local_state_comment'" 2>/dev/null |
            cut -f2) || true
    [ "$state" = Synced ] && return 0
    if ! alive "$(cat "$dir/n$n/launched.pid")"; then
      show_log "$dir" "$n"; die "node $n ended"
    fi
    sleep 0.2
  done
  show_log "$dir" "$n"
  die "node $n not synced after ${seconds}s"
}

# Whether the process PID is there and no zombie.
alive() {
  kill -0 "$1" 2>/dev/null && [ "$(sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -c1)" != Z ]
}

running() { [ -f "$1/n$2/mysqld.pid" ] && alive "$(cat "$1/n$2/mysqld.pid")"; }

# Waits until every running node is synced and sees all the running nodes.
wait_all() {
  local dir=$1 n want=0 i ok size
  for n in "${nodes[@]}"; do running "$dir" "$n" && want=$(( want + 1 )); done
  for n in "${nodes[@]}"; do running "$dir" "$n" && wait_synced "$dir" "$n"; done
  for i in $(seq 1 300); do
    ok=1
    for n in "${nodes[@]}"; do
      running "$dir" "$n" || continue
      size=$(sql "$dir" "$n" -e "SHOW STATUS LIKE 'wsrep_cluster_size'" 2>/dev/null | cut -f2) || true
      [ "$size" = "$want" ] || ok=0
    done
    [ "$ok" = 1 ] && return 0
    sleep 0.2
  done
  die "the cluster did not settle on $want nodes"
}

start() {
  local dir=$1 n
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  local me; me=$(run_user)
  : >"$dir/ports"
  for n in "${nodes[@]}"; do
    local line=$n port _
    for _ in sql gcomm ist sst; do pick_port; line="$line $port"; done
    echo "$line" >>"$dir/ports"
    mkdir -p "$dir/n$n/data"
  done
  # The servers' user must reach its directories.
  chmod 755 "$dir"
  [ "$(id -u)" -ne 0 ] || chown -R mysql: "$dir"/n*
  mariadb-install-db --no-defaults --user="$me" --datadir="$dir/n1/data" \
    --auth-root-authentication-method=normal --skip-test-db \
    >"$dir/install.log" 2>&1 || { cat "$dir/install.log" >&2; die "install failed"; }
  launch "$dir" 1 --wsrep-new-cluster
  wait_synced "$dir" 1
  sql "$dir" 1 <"$schema"
  sql "$dir" 1 <<SQL
CREATE USER IF NOT EXISTS '$user'@'localhost' IDENTIFIED BY '$password';
CREATE USER IF NOT EXISTS '$user'@'127.0.0.1' IDENTIFIED BY '$password';
GRANT ALL ON KVSYSTEM.* TO '$user'@'localhost';
GRANT ALL ON KVSYSTEM.* TO '$user'@'127.0.0.1';
SQL
  # One joiner at a time: each takes a full state transfer from a donor.
  for n in 2 3; do
    launch "$dir" "$n"
    wait_synced "$dir" "$n"
  done
  wait_all "$dir"
  {
    echo "HALVORN_CLUSTER_DIR='$dir'"
    for n in "${nodes[@]}"; do
      node_ports "$dir" "$n"
      echo "HALVORN_NODE${n}_PORT='$sql'"
      echo "HALVORN_NODE${n}_SOCKET='$dir/n$n/mysqld.sock'"
    done
    echo "HALVORN_DB_USER='$user'"
    echo "HALVORN_DB_PASSWORD='$password'"
  } >"$dir/env"
  echo "galera_cluster: 3 nodes running in $dir"
}

stop_node() {  # DIR N SIGNAL
  local dir=$1 n=$2 signal=$3 pid i
  [ -f "$dir/n$n/mysqld.pid" ] || return 0
  pid=$(cat "$dir/n$n/mysqld.pid")
  kill "-$signal" "$pid" 2>/dev/null || true
  for i in $(seq 1 300); do
    alive "$pid" || break
    sleep 0.1
  done
  kill -9 "$pid" 2>/dev/null || true
  rm -f "$dir/n$n/mysqld.pid"
}

restart() {
  local dir=$1 n=$2 position
  running "$dir" "$n" && die "node $n is running"
  rm -f "$dir/n$n/mysqld.pid"
  # A node that was killed knows its last position only after recovery; with
  # it the node rejoins by incremental transfer instead of a full one.
  mariadbd_of "$dir" "$n" --log-error="$dir/n$n/recover.log" --wsrep-recover \
    >/dev/null 2>&1 || true
  position=$(sed -n 's/.*WSREP: Recovered position: *//p' "$dir/n$n/recover.log" | tail -n 1)
  rm -f "$dir/n$n/recover.log"
  if [ -n "$position" ]; then
    launch "$dir" "$n" --wsrep-start-position="$position"
  else
    launch "$dir" "$n"
  fi
  wait_synced "$dir" "$n"
  wait_all "$dir"
}

case "${1:-}" in
  start)   [ $# -ge 2 ] || die "usage: $0 start DIR"; start "$2" ;;
  stop)    [ $# -ge 2 ] || die "usage: $0 stop DIR"
           for n in 3 2 1; do stop_node "$2" "$n" TERM; done ;;
  kill)    [ $# -ge 3 ] || die "usage: $0 kill DIR N"; stop_node "$2" "$3" KILL ;;
  restart) [ $# -ge 3 ] || die "usage: $0 restart DIR N"; restart "$2" "$3" ;;
  wait)    [ $# -ge 2 ] || die "usage: $0 wait DIR"; wait_all "$2" ;;
  run-node) shift; exec=exec; mariadbd_of "$@" ;;  # launch's own
  *) die "usage: $0 start|stop|kill|restart|wait DIR [N]" ;;
esac
