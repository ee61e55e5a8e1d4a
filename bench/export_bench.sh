#!/usr/bin/env bash
# Benchmark of a complete export run. Fills a throwaway server with a
# realistic booking table (HISTORY transferred bookings of the last three
# months) and, for each N, N pending bookings; then runs Halvorn_MySQL and,
# on the same N bookings, the set-based limit: one streamed SELECT of the
# transfer lines into a file plus one UPDATE of all of them, through the
# mariadb command-line client. Prints bookings per second and peak memory.
#
#   bench/export_bench.sh [N ...]        default: 10000 100000
#   HISTORY=300000 bench/export_bench.sh
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
sizes=("$@")
[ ${#sizes[@]} -gt 0 ] || sizes=(10000 100000)
history=${HISTORY:-300000}

# shellcheck source=../scripts/programs.sh
. scripts/programs.sh
build_programs

bench=$top/.benchdb
rm -rf "$bench"
mkdir -p "$bench"
start_server
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
write_settings "$work/app/Veltrano.ini"

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

printf '\n%-8s %-22s %10s %12s %14s %12s\n' N method seconds "bookings/s" "peak RSS KiB" lines
for n in "${sizes[@]}"; do
  sql -e "DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID LIKE 'P%';
          INSERT INTO KVSYSTEM.KVS321BEW ($columns) SELECT $(booking_values P NULL) FROM seq_1_to_${n}"

  rm -f "$work/app/bin/BEWDATA.dat"
  read -r secs kib status < <(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET \
    timed /dev/null "$program" ../Veltrano.ini)
  [ "$status" = 1 ] || echo "bench: Halvorn_MySQL ended with $status" >&2
  lines=$(wc -l <"$work/app/bin/BEWDATA.dat")
  pending=$(sql -N -e "SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")
  [ "$pending" = 0 ] || echo "bench: $pending bookings left pending" >&2
  printf '%-8s %-22s %10s %12.0f %14s %12s\n' "$n" Halvorn_MySQL "$secs" \
    "$(echo "$n / $secs" | bc -l)" "$kib" "$lines"

  # The same bookings again, pending, for the set-based limit.
  sql -e "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = NULL, BewUdt = NULL WHERE BewTID LIKE 'P%'"
  read -r s1 k1 _ < <(timed "$bench/set_based.dat" \
    mariadb --no-defaults -u"$HALVORN_DB_USER" -p"$HALVORN_DB_PASSWORD" \
    --socket="$HALVORN_DB_SOCKET" --default-character-set=latin1 --quick --batch --raw \
    --skip-column-names -e "$set_based_select")
  read -r s2 k2 _ < <(timed /dev/null \
    mariadb --no-defaults -u"$HALVORN_DB_USER" -p"$HALVORN_DB_PASSWORD" \
    --socket="$HALVORN_DB_SOCKET" -e "$set_based_update")
  secs=$(echo "$s1 + $s2" | bc -l)
  kib=$(( k1 > k2 ? k1 : k2 ))
  lines=$(wc -l <"$bench/set_based.dat")
  cmp -s "$bench/set_based.dat" "$work/app/bin/BEWDATA.dat" ||
    echo "bench: the set-based lines differ from BEWDATA.dat" >&2
  printf '%-8s %-22s %10.2f %12.0f %14s %12s\n' "$n" "SELECT + UPDATE (mariadb)" "$secs" \
    "$(echo "$n / $secs" | bc -l)" "$kib" "$lines"
done
