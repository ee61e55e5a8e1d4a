#!/usr/bin/env bash
# Benchmark of complete export runs. Fills a throwaway server with a
# realistic booking table (HISTORY transferred bookings of the last three
# months) and, for each N, N pending bookings; then runs Halvorn_MySQL and,
# on the same N bookings, the set-based limit: one streamed SELECT of the
# transfer lines into a file plus one UPDATE of all of them, through the
# mariadb command-line client. Both run over the unix socket and over TCP on
# the loopback (the settings file's NET8 is 127.0.0.1 there). During the runs
# of CLOCK_AT pending bookings a time clock (bench/time_clock.cpp) inserts a
# booking every 20 ms with automatic commits. Prints every measurement, then
# a summary (medians over REPEAT interleaved rounds) and the targets.
#
#   bench/export_bench.sh [N ...]        default: 1000 10000 100000; add 1000000 for the long run
#   HISTORY=300000  transferred bookings in the table
#   TRANSPORTS="socket tcp"
#   REPEAT=1        rounds; each round measures every N and transport once
#   CLOCK_AT=100000 the N whose runs the time clock accompanies (0: none)
#   BUILD_DIR=build/programs
#   TWINS=0         1: every pending booking shares its five keys with a
#                   transferred one (each marking then finds two rows)
#   BASELINE=       another Halvorn_MySQL, run on the same bookings after the
#                   program in every round (e.g. an earlier version's build)
#
# The pending bookings' keys are unique by default, which the setup checks.
# Per program run it prints the share of bookings marked by a batch's list of
# keys (from the server's count of UPDATE statements: one per batch of 256
# for the listed ones, one per booking for the others), and during the runs
# of CLOCK_AT the most rows the program's transaction held locked
# (information_schema.INNODB_TRX.trx_rows_locked, sampled every 0.2 s).
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 100000)
history=${HISTORY:-300000}
read -r -a transports <<<"${TRANSPORTS:-socket tcp}"
repeat=${REPEAT:-1}
clock_at=${CLOCK_AT:-100000}
twins=${TWINS:-0}
baseline=${BASELINE:-}
build_dir=${BUILD_DIR:-$top/build/programs}

# shellcheck source=../scripts/programs.sh
. scripts/programs.sh
build_programs "$top" "$build_dir"
program=$(program_path "$build_dir")
tool=$(tool_path "$build_dir")
time_clock=$build_dir/time_clock
# shellcheck disable=SC2046
"${CXX:-c++}" -std=c++17 -O2 -Wall -Wextra -Werror $(pkg-config --cflags libmariadb) \
  bench/time_clock.cpp -o "$time_clock" $(pkg-config --libs libmariadb)

bench=$top/.benchdb
rm -rf "$bench"
mkdir -p "$bench"
db=$(new_server_dir db)
clock_pid=
trap '[ -z "$clock_pid" ] || kill "$clock_pid" 2>/dev/null || true
      stop_server "$top" "$db"' EXIT
start_server "$top" "$db"

# shellcheck source=bookings.sh
. bench/bookings.sh

echo "bench: filling the table with $history transferred bookings ..."
sql -e "INSERT INTO KVSYSTEM.KVS321BEW ($columns)
        SELECT $(booking_values H 4) FROM seq_1_to_${history}"

work=$bench/work
mkdir -p "$work/app/bin" "$work/Veltrano_php/log"
write_settings "$tool" "$work/app/socket.ini" localhost
write_settings "$tool" "$work/app/tcp.ini" 127.0.0.1

# The mariadb client's connection options for a transport.
client_options() {  # TRANSPORT
  if [ "$1" = tcp ]; then
    echo "--protocol=TCP -h127.0.0.1 -P$HALVORN_DB_PORT"
  else
    echo "--socket=$HALVORN_DB_SOCKET"
  fi
}

# The transfer lines of the pending bookings, computed by the server.
set_based_select="
SELECT CONCAT_WS(',', IFNULL(BewIDN, ''), IFNULL(BewSto, ''),
         IFNULL(DATE_FORMAT(BewDtm, '%Y%m%d'), ''), IFNULL(DATE_FORMAT(BewUhr, '%H%i%s'), ''),
         IFNULL(BewLfn, ''), IFNULL(BewTID, ''), IFNULL(BewLID, ''), IFNULL(BewArt, ''),
         IFNULL(BewKst, ''), IFNULL(BewQua, ''), IFNULL(BewKze, ''), IFNULL(BewBer, ''), code,
         IFNULL(BewErq, ''), IFNULL(BewTas, ''), IFNULL(BewSrc, ''), IFNULL(BewRes, ''))
FROM (SELECT *, CASE UPPER(IFNULL(BewSrc, ''))
        WHEN 'DTA' THEN CASE WHEN BewEra IN ('200','201','202','203','206','207','208','210') THEN '204'
                             WHEN BewEra IN ('430','431','500','501') THEN '426'
                             ELSE IFNULL(BewEra, '') END
        WHEN '40P' THEN IF(IFNULL(BewKze, '') <> '' OR BewBer = '1', '100', '204')
        WHEN '50P' THEN '100'
        WHEN '62P' THEN IFNULL(BewEra, '')
        ELSE '204' END AS code
      FROM KVSYSTEM.KVS321BEW WHERE BewUkz != 4 OR BewUkz IS NULL) AS pending
WHERE code IN ('100','204','426','4','5','6','7','8','9','0','1')
ORDER BY BewIDN, BewDtm, BewUhr, BewLfn"
set_based_update="UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 4, BewUdt = SYSDATE()
                  WHERE BewUkz != 4 OR BewUkz IS NULL"

timed() {  # OUT-FILE COMMAND...: runs it, prints "seconds peak-KiB exit-status"
  local out=$1 status=0; shift
  /usr/bin/time -f '%e %M' -o "$bench/time" "$@" >"$out" || status=$?
  echo "$(tail -n 1 "$bench/time") $status"
}

# Starts the time clock over TRANSPORT in the background; stop_clock ends it
# and leaves its figures in $bench/clock.out.
start_clock() {  # TRANSPORT
  local target=$HALVORN_DB_SOCKET
  [ "$1" = socket ] || target=127.0.0.1:$HALVORN_DB_PORT
  rm -f "$bench/clock.stop"
  "$time_clock" "$target" "$HALVORN_DB_USER" "$HALVORN_DB_PASSWORD" "$bench/clock.stop" 20 3600 \
    >"$bench/clock.out" &
  clock_pid=$!
  sleep 1  # the clock books before the run begins
}
stop_clock() {
  touch "$bench/clock.stop"
  wait "$clock_pid" || echo "bench: the time clock failed" >&2
  clock_pid=
}

# Bookings that share their five keys with another row of the table.
shared_keys() {
  sql -N -e "SELECT IFNULL(SUM(n), 0) FROM (SELECT COUNT(*) AS n FROM KVSYSTEM.KVS321BEW
             GROUP BY BewIDN, BewSto, BewDtm, BewUhr, BewLfn HAVING COUNT(*) > 1) AS shared"
}
updates() { sql -N -e "SHOW GLOBAL STATUS LIKE 'Com_update'" | awk '{print $2}'; }

# Samples the most rows that a transaction of the program holds locked, until
# $bench/locks.stop exists; the maximum goes to $bench/locks.out.
start_locks() {
  rm -f "$bench/locks.stop"
  (max=0
   while [ ! -f "$bench/locks.stop" ]; do
     n=$(sql -N -e "SELECT IFNULL(MAX(trx_rows_locked), 0) FROM information_schema.INNODB_TRX" \
       2>/dev/null || echo 0)
     [ "$n" -le "$max" ] || max=$n
     sleep 0.2
   done
   echo "$max" >"$bench/locks.out") &
  locks_pid=$!
}
stop_locks() { touch "$bench/locks.stop"; wait "$locks_pid" || true; }

declare -A program_secs set_secs program_kib clock_lines base_secs base_kib shares base_shares locks
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
per_second() { echo "$1 / $2" | bc -l | xargs printf '%.0f'; }

# Runs a Halvorn_MySQL on the pending bookings (the time clock, started
# before, is stopped after it) and prints its line; sets secs, kib, share.
run_program() {  # PROGRAM LABEL
  local before after lines pending label=$2
  rm -f "$work/app/bin/BEWDATA.dat"
  before=$(updates)
  [ "$n" != "$clock_at" ] || start_locks
  read -r secs kib status < <(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET \
    MYSQL_TCP_PORT=$HALVORN_DB_PORT timed /dev/null "$1" "../$via.ini")
  after=$(updates)
  if [ "$n" = "$clock_at" ]; then
    stop_locks
    stop_clock
    clock_lines[$key]="${clock_lines[$key]:-}$label: $(cat "$bench/clock.out")"$'\n'
    locks[$key]="${locks[$key]:-} $label:$(cat "$bench/locks.out")"
    sql -e "DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID LIKE 'C%'"
  fi
  [ "$status" = 1 ] || echo "bench: $label ended with $status" >&2
  # The lines of the bookings measured, without those of the time clock.
  awk -F, '$6 !~ /^C/' "$work/app/bin/BEWDATA.dat" >"$bench/program.dat"
  lines=$(wc -l <"$bench/program.dat")
  pending=$(sql -N -e "SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")
  [ "$pending" = 0 ] || echo "bench: $pending bookings left pending" >&2
  # Statements beyond one per batch are markings of single bookings.
  share=$(echo "u = $after - $before - ($n + 255) / 256; if (u < 0) u = 0; if (u > $n) u = $n;
                ($n - u) / $n" | bc | xargs printf '%.3f')
  printf '%-5s %-8s %-7s %-26s %9s %11s %13s %9s  listed %s\n' "$round" "$n" "$via" "$label" \
    "$secs" "$(per_second "$n" "$secs")" "$kib" "$lines" "$share"
}

printf '\n%-5s %-8s %-7s %-26s %9s %11s %13s %9s\n' round N via method seconds "bookings/s" \
  "peak RSS KiB" lines
for round in $(seq 1 "$repeat"); do
  for n in "${sizes[@]}"; do
    sql -e "DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID LIKE 'P%' OR BewTID LIKE 'C%';
            INSERT INTO KVSYSTEM.KVS321BEW ($columns)
            SELECT $(booking_values P NULL) FROM seq_1_to_${n}"
    shared=$(shared_keys)
    if [ "$twins" = 1 ]; then
      echo "bench: $shared bookings share their keys with another (TWINS=1)"
    elif [ "$shared" != 0 ]; then
      echo "bench: $shared bookings share their keys with another; the pending keys must be unique" >&2
      exit 1
    fi
    for via in "${transports[@]}"; do
      key="$n,$via"
      sql -e "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = NULL, BewUdt = NULL WHERE BewTID LIKE 'P%'"
      [ "$n" != "$clock_at" ] || start_clock "$via"
      run_program "$program" Halvorn_MySQL
      program_secs[$key]="${program_secs[$key]:-} $secs"
      program_kib[$key]="${program_kib[$key]:-} $kib"
      shares[$key]="${shares[$key]:-} $share"
      if [ -n "$baseline" ]; then
        sql -e "DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID LIKE 'C%';
                UPDATE KVSYSTEM.KVS321BEW SET BewUkz = NULL, BewUdt = NULL WHERE BewTID LIKE 'P%'"
        [ "$n" != "$clock_at" ] || start_clock "$via"
        run_program "$baseline" baseline
        base_secs[$key]="${base_secs[$key]:-} $secs"
        base_kib[$key]="${base_kib[$key]:-} $kib"
        base_shares[$key]="${base_shares[$key]:-} $share"
      fi

      # The same bookings again, pending, for the set-based limit.
      sql -e "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = NULL, BewUdt = NULL WHERE BewTID LIKE 'P%'"
      # shellcheck disable=SC2046
      read -r s1 k1 _ < <(timed "$bench/set_based.dat" \
        mariadb --no-defaults -u"$HALVORN_DB_USER" -p"$HALVORN_DB_PASSWORD" \
        $(client_options "$via") --default-character-set=latin1 --quick --batch --raw \
        --skip-column-names -e "$set_based_select")
      # shellcheck disable=SC2046
      read -r s2 k2 _ < <(timed /dev/null \
        mariadb --no-defaults -u"$HALVORN_DB_USER" -p"$HALVORN_DB_PASSWORD" \
        $(client_options "$via") -e "$set_based_update")
      secs=$(echo "$s1 + $s2" | bc -l | xargs printf '%.2f')
      kib=$((k1 > k2 ? k1 : k2))
      lines=$(wc -l <"$bench/set_based.dat")
      cmp -s "$bench/set_based.dat" "$bench/program.dat" ||
        echo "bench: the set-based lines differ from BEWDATA.dat" >&2
      printf '%-5s %-8s %-7s %-26s %9s %11s %13s %9s\n' "$round" "$n" "$via" \
        "SELECT + UPDATE (mariadb)" "$secs" "$(per_second "$n" "$secs")" "$kib" "$lines"
      set_secs[$key]="${set_secs[$key]:-} $secs"
    done
  done
done

echo
echo "summary (medians of $repeat round(s); peak RSS the largest of the program's runs)"
printf '%-8s %-7s %10s %14s %14s %7s %13s %7s\n' N via "program s" "program b/s" "set-based b/s" \
  ratio "peak RSS KiB" listed
targets=()
for n in "${sizes[@]}"; do
  for via in "${transports[@]}"; do
    key="$n,$via"
    ps=$(echo "${program_secs[$key]}" | median)
    ss=$(echo "${set_secs[$key]}" | median)
    ratio=$(echo "$ss / $ps" | bc -l | xargs printf '%.3f')
    kib=$(echo "${program_kib[$key]}" | tr ' ' '\n' | sort -n | tail -n 1)
    printf '%-8s %-7s %10s %14s %14s %7s %13s %7s\n' "$n" "$via" "$ps" "$(per_second "$n" "$ps")" \
      "$(per_second "$n" "$ss")" "$ratio" "$kib" "$(echo "${shares[$key]}" | median)"
    if [ -n "$baseline" ]; then
      bs=$(echo "${base_secs[$key]}" | median)
      bkib=$(echo "${base_kib[$key]}" | tr ' ' '\n' | sort -n | tail -n 1)
      printf '%-8s %-7s %10s %14s %14s %7s %13s %7s  (baseline)\n' "$n" "$via" "$bs" \
        "$(per_second "$n" "$bs")" "$(per_second "$n" "$ss")" \
        "$(echo "$ss / $bs" | bc -l | xargs printf '%.3f')" "$bkib" \
        "$(echo "${base_shares[$key]}" | median)"
    fi
    [ -z "${locks[$key]:-}" ] || echo "  most rows locked during $n via $via:${locks[$key]}"
    if [ "$n" = 10000 ] || [ "$n" = 100000 ]; then
      verdict=missed
      [ "$via" != socket ] || [ "$(echo "$ratio >= 0.8" | bc -l)" = 0 ] || verdict=reached
      [ "$via" = socket ] || verdict="(target over the socket)"
      targets+=("$n pending via $via: $ratio of the set-based limit's bookings/s (target 0.8): $verdict")
    fi
    if [ "$n" = 1000 ]; then
      verdict=missed
      [ "$(echo "$ps < 0.1" | bc -l)" = 0 ] || verdict=reached
      targets+=("1,000 pending via $via: $ps s (target under 0.1 s): $verdict")
    fi
    if [ -n "${clock_lines[$key]:-}" ]; then
      while IFS= read -r line; do
        [ -n "$line" ] || continue
        echo "  time clock during $n via $via: $line"
        p99=$(echo "$line" | sed -n 's/.*p99 \([0-9.]*\) ms.*/\1/p')
        verdict=missed
        if [ -n "$p99" ] && [ "$(echo "$p99 < 100" | bc -l)" = 1 ] &&
          [[ $line == *"errors: none"* ]]; then
          verdict=reached
        fi
        targets+=("time clock during $n via $via: p99 $p99 ms, errors: ${line##*errors: } (target p99 under 100 ms, no errors): $verdict")
      done <<<"${clock_lines[$key]}"
    fi
  done
done
echo
echo "targets"
for line in "${targets[@]}"; do echo "  $line"; done
