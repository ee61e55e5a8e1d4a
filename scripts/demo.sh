#!/usr/bin/env bash
# Tries the program on a throwaway database: installs what is missing, builds,
# starts a MariaDB server of its own, fills the booking table with sample
# bookings, writes a settings file with the operator tool, runs Halvorn_MySQL
# with "/D" in a working directory laid out as the program expects, shows
# BEWDATA.dat, the protocol log and the table, and stops the server.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

# shellcheck source=programs.sh
. scripts/programs.sh
build_programs

demo=$top/.demo
rm -rf "$demo"
mkdir -p "$demo"
start_server
sql() { mariadb --no-defaults -uroot --socket="$HALVORN_DB_SOCKET" --default-character-set=utf8mb4 "$@"; }
sql <sql/demo_bookings.sql

# The layout the program expects: it runs in work/app/bin, logs to
# ../../Veltrano_php/log and reads the settings file named on its command line.
work=$demo/work
mkdir -p "$work/app/bin" "$work/Veltrano_php/log"
write_settings "$work/app/Veltrano.ini"

echo
echo "== settings file $work/app/Veltrano.ini"
cat "$work/app/Veltrano.ini"
echo
echo "== checked with the operator tool"
"$tool" pruefen "$work/app/Veltrano.ini" || true

echo
echo "== run: (cd $work/app/bin && Halvorn_MySQL ../Veltrano.ini /D)"
status=0
# The client library's default socket is pointed at the throwaway server.
(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET "$program" ../Veltrano.ini /D) || status=$?
echo
echo "== exit status $status"

echo
echo "== $work/app/bin/BEWDATA.dat (Windows-1252 shown as UTF-8)"
iconv -f WINDOWS-1252 -t UTF-8 "$work/app/bin/BEWDATA.dat"
echo
log="$work/Veltrano_php/log/Durnwell#Log.txt"
echo "== $log ($(grep -c $'\r$' "$log") lines, each ending in CR LF; Windows-1252 shown as UTF-8)"
iconv -f WINDOWS-1252 -t UTF-8 "$log" | tr -d '\r'
echo
echo "== the booking table afterwards (BewUkz 4: transferred; old transferred bookings purged)"
sql -t -e "SELECT BewIDN, BewUhr, BewSrc, BewEra, BewUkz, BewUdt, BewDat
           FROM KVSYSTEM.KVS321BEW ORDER BY BewIDN, BewDtm, BewUhr, BewLfn"
