#!/usr/bin/env bash
# Runs every test: installs what is missing, starts a throwaway MariaDB server,
# builds with warnings as errors and runs the suite, packs and checks the
# Debian package, then builds and runs the suite once more under
# AddressSanitizer and UndefinedBehaviorSanitizer, and the Windows build under
# wine. The server is stopped at the end, also when a test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

# shellcheck source=programs.sh
. scripts/programs.sh
scripts/install_deps.sh

dbdir=$(new_server_dir testdb)
trap 'stop_server "$top" "$dbdir"' EXIT
start_server "$top" "$dbdir"
echo "db_server: running in $dbdir (socket $HALVORN_DB_SOCKET, port $HALVORN_DB_PORT)"

jobs=$(nproc 2>/dev/null || echo 2)

run_suite() {  # NAME BUILD-TYPE EXTRA-CXX-FLAGS
  local dir="$top/build/$1"
  echo "== $1: build"
  cmake -S "$top" -B "$dir" -DCMAKE_BUILD_TYPE="$2" -DCMAKE_CXX_FLAGS="$3" >/dev/null
  cmake --build "$dir" -j"$jobs"
  echo "== $1: test"
  # The cluster fault suite has a command of its own: scripts/cluster_test.sh.
  (cd "$dir" && ctest -LE cluster --output-on-failure -j"$jobs" --timeout 300)
}

run_suite release RelWithDebInfo ""
scripts/package_check.sh "$top/build/release"  # the Debian package, the run wrapper, the units
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  run_suite sanitize Debug "-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=all"
scripts/windows.sh "$top/build/release"  # the Windows build and its tests under wine
scripts/cluster_test.sh  # the cluster fault suite on a throwaway three-node cluster
echo "== all tests passed"
