#!/usr/bin/env bash
# Packs a release build as a Debian package and checks what an operator
# installs: the package's control data and contents, the programs unpacked
# from it running the demo's bookings as the build's own program does, the
# run wrapper's statuses, and the systemd units of deploy/ (verified and
# rated where systemd-analyze is at hand).
#
#   scripts/package_check.sh BUILD-DIR
#
# Needs the server of scripts/test.sh: HALVORN_DB_* in the environment.
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "$1" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-package.XXXXXX")
trap 'rm -rf "$work"' EXIT

fail() { echo "package_check: $*" >&2; exit 1; }
# shellcheck source=programs.sh
. "$top/scripts/programs.sh"

echo "== package: cpack -G DEB"
rm -f "$build"/halvorn_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/halvorn_*.deb)
dpkg-deb --info "$deb" >"$work/info"
dpkg-deb --contents "$deb" >"$work/contents"
grep -E '^ (Package|Version|Architecture|Depends):' "$work/info"
grep -Eq '^ Depends:.*libmariadb3' "$work/info" || fail "Depends does not name libmariadb3"
grep -Eq '^ Depends:.*libc6' "$work/info" || fail "Depends does not name libc6"
for f in usr/bin/Halvorn_MySQL usr/bin/Halvorn_Ini usr/bin/halvorn-run \
         usr/share/doc/halvorn/README.md \
         usr/share/doc/halvorn/examples/halvorn-transfer.service \
         usr/share/doc/halvorn/examples/halvorn-transfer.timer \
         usr/share/doc/halvorn/examples/halvorn.cron \
         usr/share/doc/halvorn/examples/Veltrano.ini.example \
         usr/share/doc/halvorn/examples/windows-task-scheduler.md; do
  grep -q " \./$f\$" "$work/contents" || fail "$f is not in the package"
done
grep -E ' \./usr/bin/.' "$work/contents" | grep -vq '^-rwxr-xr-x' && fail "a program is not 0755"
root=$work/root
dpkg-deb -x "$deb" "$root"

# The demo's bookings, run once by PROGRAM in a fresh tree under DIR.
demo_run() {  # PROGRAM DIR
  sql -e "DROP TABLE IF EXISTS KVSYSTEM.KVS321BEW"
  sql <"$top/sql/kvs321bew.sql"
  sql <"$top/sql/demo_bookings.sql"
  mkdir -p "$2/app/bin" "$2/Veltrano_php/log" "$2/export"
  write_settings "$root/usr/bin/Halvorn_Ini" "$2/app/Veltrano.ini"
  local status=0
  (cd "$2/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET "$1" ../Veltrano.ini "$2/export") || status=$?
  [ "$status" -eq 1 ] || fail "$1 ended with $status on the demo's bookings"
  sql -N -e "SELECT BewTID, BewUkz FROM KVSYSTEM.KVS321BEW ORDER BY BewTID" >"$2/table"
}
echo "== the packaged programs on the demo's bookings"
demo_run "$build/src/run/Halvorn_MySQL" "$work/built"
demo_run "$root/usr/bin/Halvorn_MySQL" "$work/packaged"
[ -s "$work/packaged/export/BEWDATA.dat" ] || fail "the packaged program wrote no line"
cmp "$work/built/export/BEWDATA.dat" "$work/packaged/export/BEWDATA.dat"
cmp "$work/built/table" "$work/packaged/table"
echo "$(wc -l <"$work/packaged/export/BEWDATA.dat") lines, the same as the build's program"

echo "== the run wrapper"
wrapper() {  # EXPECTED-STATUS [VAR=VALUE ...]
  local expected=$1 status=0
  shift
  env HALVORN_WORKDIR="$work/packaged/app/bin" HALVORN_PROGRAM="$root/usr/bin/Halvorn_MySQL" \
      HALVORN_SETTINGS=../Veltrano.ini HALVORN_EXPORT="$work/packaged/export" \
      HALVORN_LOCK="$work/lock" MYSQL_UNIX_PORT="$HALVORN_DB_SOCKET" "$@" \
      "$root/usr/bin/halvorn-run" >"$work/stdout" 2>"$work/stderr" || status=$?
  [ "$status" -eq "$expected" ] || fail "halvorn-run $* ended with $status, not $expected: $(cat "$work/stderr")"
  if [ "$expected" -ne 0 ]; then
    [ "$(wc -l <"$work/stderr")" -eq 1 ] || fail "halvorn-run $*: not one line on stderr"
  fi
  printf '  %-40s %3d %s\n' "${*:-(defaults)}" "$status" "$(cat "$work/stderr")"
}
wrapper 0
wrapper 97 HALVORN_SETTINGS=missing.ini
# A read-only server refuses every marking: the run commits nothing.
sql -e "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewLfn, BewSrc, BewEra) VALUES ('9', 'S', '1', 'DTA', '201')"
sql -e "SET GLOBAL read_only = 1"
wrapper 100
sql -e "SET GLOBAL read_only = 0"
flock -o "$work/lock" sleep 30 &  # -o: the lock goes with flock, not with sleep
holder=$!
sleep 0.3
wrapper 0 HALVORN_STALE_MINUTES=60
wrapper 95 HALVORN_STALE_MINUTES=0
kill "$holder"
wait "$holder" 2>/dev/null || true
printf '#!/bin/sh\nsleep 30\n' >"$work/hang"
chmod +x "$work/hang"
wrapper 124 HALVORN_TIMEOUT=1 HALVORN_PROGRAM="$work/hang"

if command -v systemd-analyze >/dev/null 2>&1; then
  echo "== systemd units"
  # verify resolves the units' programs and targets inside a root: the
  # package unpacked, with the units installed and systemd's own units beside.
  mkdir -p "$root/etc/systemd/system" "$root/lib/systemd"
  cp "$top"/deploy/halvorn-transfer.service "$top"/deploy/halvorn-transfer.timer "$root/etc/systemd/system/"
  cp -a /lib/systemd/system "$root/lib/systemd/"
  # It warns of unknown or misspelt settings and still exits 0: any word fails.
  said=$(systemd-analyze verify --root="$root" halvorn-transfer.service halvorn-transfer.timer 2>&1) ||
    fail "systemd-analyze verify: $said"
  [ -z "$said" ] || fail "systemd-analyze verify: $said"
  exposure=$(systemd-analyze security --offline=true "$top/deploy/halvorn-transfer.service" 2>&1 |
             sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
  echo "  verify clean; security exposure $exposure"
  [ -n "$exposure" ] || fail "systemd-analyze security gave no exposure level"
  awk -v e="$exposure" 'BEGIN { exit !(e < 5.0) }' || fail "exposure $exposure is not below 5.0"
fi
echo "== package checked: $(basename "$deb")"
