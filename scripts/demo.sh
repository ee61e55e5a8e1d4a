#!/usr/bin/env bash
# Tries the program on a throwaway database: installs what is missing, builds,
# starts a MariaDB server of its own, fills the booking table with sample
# bookings, writes a settings file with the operator tool and checks it and
# its account, shows the table, runs Halvorn_MySQL with "/D" in a working
# directory laid out as the program expects, shows BEWDATA.dat, the protocol
# log, the table afterwards with the bookings marked without a line and the
# purged ones, and prints the commands that repeat the run by hand.
#
#   scripts/demo.sh          stops the server at the end
#   KEEP=1 scripts/demo.sh   leaves it running, to repeat the commands
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

# shellcheck source=programs.sh
. scripts/programs.sh
build_programs "$top" "$top/build/programs"
program=$(program_path "$top/build/programs")
tool=$(tool_path "$top/build/programs")

demo=$top/.demo
rm -rf "$demo"
mkdir -p "$demo"
db=$(new_server_dir db)
trap 'stop_server "$top" "$db"' EXIT
start_server "$top" "$db"
if [ "${KEEP:-0}" = 1 ]; then
  trap - EXIT
fi
sql <sql/demo_bookings.sql

# The bookings as the table holds them; BewKst with its line feed shown as \n.
show_table() {
  sql -t -e "SELECT BewIDN, BewTID, BewUhr, BewSrc, BewEra, REPLACE(BewKst, '\n', '\\\\n') AS BewKst,
                    BewRes, BewUkz, BewUdt, BewDat
             FROM KVSYSTEM.KVS321BEW ORDER BY BewIDN, BewDtm, BewUhr, BewLfn"
}

# The layout the program expects: it runs in work/app/bin, logs to
# ../../Veltrano_php/log and reads the settings file named on its command line.
work=$demo/work
mkdir -p "$work/app/bin" "$work/Veltrano_php/log"
write_settings "$tool" "$work/app/Veltrano.ini"

echo
echo "== settings file $work/app/Veltrano.ini"
cat "$work/app/Veltrano.ini"
echo
echo "== checked with the operator tool: Halvorn_Ini pruefen ../Veltrano.ini"
"$tool" pruefen "$work/app/Veltrano.ini" || true
echo
echo "== its account checked against the server: Halvorn_Ini verbinden ../Veltrano.ini"
# The client library's default socket is pointed at the throwaway server.
(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET "$tool" verbinden ../Veltrano.ini) || true

echo
echo "== the booking table before the run (BewUkz 4: transferred earlier)"
show_table
sql -N -e "SELECT BewTID FROM KVSYSTEM.KVS321BEW ORDER BY BewTID" >"$demo/before.txt"

echo
echo "== run: (cd $work/app/bin && Halvorn_MySQL ../Veltrano.ini /D)"
status=0
(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET "$program" ../Veltrano.ini /D) || status=$?
echo
echo "== exit status $status (1: run completed and committed)"

transfer=$work/app/bin/BEWDATA.dat
echo
echo "== $transfer (Windows-1252 shown as UTF-8)"
iconv -f WINDOWS-1252 -t UTF-8 "$transfer"
echo
log="$work/Veltrano_php/log/Durnwell#Log.txt"
echo "== $log ($(grep -c $'\r$' "$log") lines, each ending in CR LF; Windows-1252 shown as UTF-8)"
iconv -f WINDOWS-1252 -t UTF-8 "$log" | tr -d '\r'
echo
echo "== the booking table afterwards (BewUkz 4, BewUdt set: marked by this run)"
show_table

# The sixth field of a transfer line is BewTID.
written=$(cut -d, -f6 "$transfer" | sed "s/.*/'&'/" | paste -sd, -)
echo
echo "== marked as transferred without a line in BEWDATA.dat: their code, rewritten by"
echo "   their source, is not one the receiving system takes"
sql -t -e "SELECT BewIDN, BewTID, BewSrc, BewEra AS 'BewEra (as stored)', BewUkz, BewUdt
           FROM KVSYSTEM.KVS321BEW
           WHERE BewUdt IS NOT NULL AND BewTID NOT IN (${written:-''}) ORDER BY BewTID"
echo
echo "== purged: transferred and stored more than three months ago (gone from the table)"
sql -N -e "SELECT BewTID FROM KVSYSTEM.KVS321BEW ORDER BY BewTID" >"$demo/after.txt"
purged=$(comm -23 "$demo/before.txt" "$demo/after.txt")
for tid in $purged; do
  if grep -q ",$tid," "$transfer"; then
    echo "$tid  (pending before the run: exported, marked and purged by the same run)"
  else
    echo "$tid  (transferred by an earlier run)"
  fi
done

echo
echo "== the programs: $program"
echo "                 $tool"
echo
if [ "${KEEP:-0}" = 1 ]; then
  echo "== the server keeps running (KEEP=1). Repeat the run by hand:"
else
  echo "== the server is stopped now. To repeat the run by hand, start the demo with"
  echo "   KEEP=1 scripts/demo.sh, which leaves the server running, then type:"
fi
cat <<COMMANDS
   cd $(printf %q "$work/app/bin")
   export MYSQL_UNIX_PORT=$(printf %q "$HALVORN_DB_SOCKET") MYSQL_TCP_PORT=$HALVORN_DB_PORT
   $(printf %q "$tool") verbinden ../Veltrano.ini
   mariadb --no-defaults -uroot --socket="\$MYSQL_UNIX_PORT" <$(printf %q "$top/sql/demo_bookings.sql")
   $(printf %q "$program") ../Veltrano.ini /D; echo "exit status \$?"
   mariadb --no-defaults -uroot --socket="\$MYSQL_UNIX_PORT" -t -e 'SELECT * FROM KVSYSTEM.KVS321BEW'
   $(printf %q "$top/scripts/db_server.sh") stop $(printf %q "$db") && rm -rf $(printf %q "$db")
COMMANDS
