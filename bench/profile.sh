#!/usr/bin/env bash
# Profile of the program's own work: fills a throwaway server with HISTORY
# transferred and N pending bookings (those of the benchmark) and runs
# Halvorn_MySQL once over the unix socket under valgrind's callgrind, which
# counts instructions rather than seconds, so the figures repeat whatever
# else the machine does. Prints the instructions of the whole run, those of
# the program's own code apart from the client library and the C and C++
# libraries, and the functions that cost the most.
#
#   bench/profile.sh [N]                default: 100000
#   HISTORY=300000  transferred bookings in the table
#   BUILD_DIR=build/profile
#   TOP=25          functions listed
#   KEEP=           a file to keep callgrind's output in
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
n=${1:-100000}
history=${HISTORY:-300000}
build_dir=${BUILD_DIR:-$top/build/profile}
shown=${TOP:-25}

# shellcheck source=../scripts/programs.sh
. scripts/programs.sh
"$top/scripts/install_deps.sh" valgrind
cmake -S "$top" -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DHALVORN_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j"$(nproc 2>/dev/null || echo 2)" --target Halvorn_MySQL Halvorn_Ini \
  >/dev/null
program=$(program_path "$build_dir")

work=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-profile.XXXXXX")
db=$(new_server_dir prof)
trap 'stop_server "$top" "$db"; rm -rf "$work"' EXIT
start_server "$top" "$db"
# shellcheck source=bookings.sh
. bench/bookings.sh
sql -e "INSERT INTO KVSYSTEM.KVS321BEW ($columns) SELECT $(booking_values H 4) FROM seq_1_to_${history};
        INSERT INTO KVSYSTEM.KVS321BEW ($columns) SELECT $(booking_values P NULL) FROM seq_1_to_${n}"
mkdir -p "$work/app/bin" "$work/Veltrano_php/log"
write_settings "$(tool_path "$build_dir")" "$work/app/socket.ini" localhost

echo "profile: $n pending, $history transferred bookings; the run under callgrind ..."
out=$work/callgrind.out
status=0
(cd "$work/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET \
  valgrind --tool=callgrind --callgrind-out-file="$out" "$program" ../socket.ini) \
  >/dev/null 2>"$work/valgrind.log" || status=$?
[ "$status" = 1 ] || { cat "$work/valgrind.log" >&2; echo "profile: the run ended with $status" >&2; exit 1; }
lines=$(wc -l <"$work/app/bin/BEWDATA.dat")
pending=$(sql -N -e "SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz IS NULL")
echo "profile: $lines lines written, $pending bookings left pending"
[ -z "${KEEP:-}" ] || cp "$out" "$KEEP"

# Instructions per object file (the program, the client library, libc, ...);
# code inlined from a header names none and counts as the program's.
callgrind_annotate --inclusive=no --auto=no --threshold=100 "$out" >"$work/functions" 2>/dev/null
total=$(sed -n 's/^ *\([0-9,]*\) .*PROGRAM TOTALS.*/\1/p' "$work/functions" | tr -d ,)
echo
echo "instructions in all: $total ($(echo "$total / $n" | bc) per pending booking)"
echo "by object file:"
grep -E '^ *[0-9,]+ \(' "$work/functions" | grep -v 'PROGRAM TOTALS' |
  awk -v total="$total" -v program="$(basename "$program")" '
    { ir = $1; gsub(",", "", ir)
      object = program
      if (match($0, /\[\/[^]]*\]$/)) { object = substr($0, RSTART + 1, RLENGTH - 2); sub(/.*\//, "", object) }
      by[object] += ir }
    END { for (o in by) printf "  %5.1f%%  %s\n", 100 * by[o] / total, o }' | sort -rn | sed -n 1,8p
echo
echo "the $shown functions that cost the most (their own instructions):"
grep -E '^ *[0-9,]+ \(' "$work/functions" | grep -v 'PROGRAM TOTALS' | sed -n "1,${shown}p" |
  cut -c1-200
