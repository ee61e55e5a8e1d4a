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
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(1000 10000 100000)
history=${HISTORY:-300000}
read -r -a transports <<<"${TRANSPORTS:-socket tcp}"
repeat=${REPEAT:-1}
clock_at=${CLOCK_AT:-100000}
build_dir=${BUILD_DIR:-$top/build/programs}

# shellcheck source=../scripts/programs.sh
. scripts/programs.sh
scripts/install_deps.sh
cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE=Release -DHALVORN_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2 >/dev/null
program=$build_dir/src/run/Halvorn_MySQL
tool=$build_dir/src/tool/Halvorn_Ini
time_clock=$build_dir/time_clock
# shellcheck disable=SC2046
"${CXX:-c++}" -std=c++17 -O2 -Wall -Wextra -Werror $(pkg-config --cflags libmariadb) \
  bench/time_clock.cpp -o "$time_clock" $(pkg-config --libs libmariadb)

bench=$top/.benchdb
rm -rf "$bench"
mkdir -p "$bench"
start_server
clock_pid=
trap '[ -z "$clock_pid" ] || kill "$clock_pid" 2>/dev/null || true
      "$top/scripts/db_server.sh" stop "$db"; rm -rf "$db"' EXIT
sql() { mariadb --no-defaults -uroot --socket="$HALVORN_DB_SOCKET" -D KVSYSTEM "$@"; }

columns="BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewTID, BewLID, BewArt, BewKst, BewQua,
         BewKze, BewBer, BewEra, BewErq, BewTas, BewSrc, BewRes, BewUkz, BewDat"
# One booking per seq: 800 badges, four locations, spread over 89 days.
booking_values() {  # PREFIX UKZ
  cat <<SQL
  LPAD(seq % 800, 6, '0'), CONCAT('WERK', seq % 4),
  CURDATE() - INTERVAL (seq % 89) DAY,
  TIMESTAMP(CURDATE() - INTERVAL (seq % 89) DAY) + INTERVAL (seq * 37 % 86400) SECOND,
  CAST(seq % 10 AS CHAR), CONCAT('$1', seq), CONCAT('L', seq % 50),
  ELT(1 + seq % 2, 'K', 'G'), CONCAT('KST ', 4000 + seq % 30), '', IF(seq % 7 = 0, 'X', ''),
  IF(seq % 5 = 0, '1', ''), ELT(1 + seq % 8, '201', '430', '205', '4', '300', '999', '9', ''),
  '', LPAD(seq % 12, 2, '0'), ELT(1 + seq % 6, 'DTA', 'dta', '40P', '50P', '62P', 'WEB'), '',
  $2, NOW() - INTERVAL (seq % 89) DAY
SQL
}

echo "bench: filling the table with $history transferred bookings ..."
sql -e "INSERT INTO KVSYSTEM.KVS321BEW ($columns)
        SELECT $(booking_values H 4) FROM seq_1_to_${history}"

work=$bench/work
mkdir -p "$work/app/bin" "$work/Veltrano_php/log"
write_settings "$work/app/socket.ini" localhost
write_settings "$work/app/tcp.ini" 127.0.0.1

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

declare -A program_secs set_secs program_kib clock_lines
median() { tr ' ' '\n' | grep . | sort -g | awk '{v[NR] = $1} END {print v[int((NR + 1) / 2)]}'; }
per_second() { echo "$1 / $2" | bc -l | xargs printf '%.0f'; }

printf '\n%-5s %-8s %-7s %-26s %9s %11s %13s %9s\n' round N via method seconds "bookings/s" \
  "peak RSS KiB" lines
for round in $(seq 1 "$repeat"); do
  for n in "${sizes[@]}"; do
    sql -e "DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID LIKE 'P%' OR BewTID LIKE 'C%';
            INSERT INTO KVSYSTEM.KVS321BEW ($columns)
            SELECT $(booking_values P NULL) FROM seq_1_to_${n}"
    for via in "${transports[@]}"; do
      key="$n,$via"
      sql -e "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = NULL, BewUdt = NULL WHERE BewTID LIKE 'P%'"
      [ "$n" != "$clock_at" ] || start_clock "$via"

      rm -f "$work/app/bin/BEWDATA.dat"
      read -r secs kib status < <(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET \
        MYSQL_TCP_PORT=$HALVORN_DB_PORT timed /dev/null "$program" "../$via.ini")
      if [ "$n" = "$clock_at" ]; then
        stop_clock
        clock_lines[$key]="${clock_lines[$key]:-}$(cat "$bench/clock.out")"$'\n'
        sql -e "DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID LIKE 'C%'"
      fi
      [ "$status" = 1 ] || echo "bench: Halvorn_MySQL ended with $status" >&2
      # The lines of the bookings measured, without those of the time clock.
      awk -F, '$6 !~ /^C/' "$work/app/bin/BEWDATA.dat" >"$bench/program.dat"
      lines=$(wc -l <"$bench/program.dat")
      pending=$(sql -N -e "SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")
      [ "$pending" = 0 ] || echo "bench: $pending bookings left pending" >&2
      printf '%-5s %-8s %-7s %-26s %9s %11s %13s %9s\n' "$round" "$n" "$via" Halvorn_MySQL \
        "$secs" "$(per_second "$n" "$secs")" "$kib" "$lines"
      program_secs[$key]="${program_secs[$key]:-} $secs"
      program_kib[$key]="${program_kib[$key]:-} $kib"

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
printf '%-8s %-7s %10s %14s %14s %7s %13s\n' N via "program s" "program b/s" "set-based b/s" \
  ratio "peak RSS KiB"
targets=()
for n in "${sizes[@]}"; do
  for via in "${transports[@]}"; do
    key="$n,$via"
    ps=$(echo "${program_secs[$key]}" | median)
    ss=$(echo "${set_secs[$key]}" | median)
    ratio=$(echo "$ss / $ps" | bc -l | xargs printf '%.3f')
    kib=$(echo "${program_kib[$key]}" | tr ' ' '\n' | sort -n | tail -n 1)
    printf '%-8s %-7s %10s %14s %14s %7s %13s\n' "$n" "$via" "$ps" "$(per_second "$n" "$ps")" \
      "$(per_second "$n" "$ss")" "$ratio" "$kib"
    if [ "$n" = 100000 ]; then
      verdict=missed
      [ "$(echo "$ratio >= 0.5" | bc -l)" = 0 ] || verdict=reached
      targets+=("100,000 pending via $via: $ratio of the set-based limit's bookings/s (target 0.5): $verdict")
    fi
    if [ "$n" = 1000 ]; then
      verdict=missed
      [ "$(echo "$ps < 0.5" | bc -l)" = 0 ] || verdict=reached
      targets+=("1,000 pending via $via: $ps s (target under 0.5 s): $verdict")
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
