#!/usr/bin/env bash
# The Windows build: cross-compiles Halvorn_MySQL.exe and Halvorn_Ini.exe for
# 64-bit Windows (static, no DLL beside them) into build/windows/, runs every
# test that can run on Windows under wine against the throwaway server over
# TCP, checks that the Linux and the Windows program write the same bytes,
# and packs build/windows/Halvorn-<version>-win64.zip.
#
#   scripts/windows.sh [LINUX-BUILD-DIR]
#
# LINUX-BUILD-DIR holds a Linux build of the program for the comparison
# (scripts/test.sh passes build/release); without it the program is built in
# build/win-linux. The test server of HALVORN_DB_PORT and HALVORN_DB_SOCKET
# is used when they are set, otherwise a throwaway one is started.
#
# Installs what is missing (apt-get, only when a package is absent). The MySQL
# C API for Windows (MariaDB Connector/C, from Debian's source package of
# mariadb) and GoogleTest are built once and kept in build/windows/deps and
# build/windows/sysroot; later runs only rebuild the project.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)
# shellcheck source=programs.sh
. "$top/scripts/programs.sh"
out=$top/build/windows
deps=$out/deps
sysroot=$out/sysroot
toolchain=$top/cmake/mingw-w64.cmake
jobs=$(nproc 2>/dev/null || echo 2)
linux_build=${1:-}

say() { echo "== windows: $*"; }
die() { echo "windows: $*" >&2; exit 1; }

# Temporary directories, removed when the script ends however it ends.
temp_dirs=()

# Unpacks the libmariadb directory (Connector/C) of Debian's mariadb source
# package for the release this machine runs into $deps/connector-src. The
# source index comes from the mirror apt already uses, through a sources list
# and index directory of our own, so the machine's apt configuration and
# package lists stay as they are.
fetch_connector_source() {
  [ -f "$deps/connector-src/CMakeLists.txt" ] && return 0
  local release mirror apt
  release=$(. /etc/os-release && echo "$VERSION_CODENAME")
  mirror=$(apt-get indextargets --format '$(REPO_URI) $(RELEASE)' 'Created-By: Packages' |
    awk -v r="$release" '$2 == r { print $1; exit }')
  [ -n "$mirror" ] || die "no apt source for $release"
  say "fetching the mariadb source package of $release from $mirror"
  apt=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-apt.XXXXXX")
  temp_dirs+=("$apt")
  mkdir -p "$apt/lists/partial" "$deps/download"
  echo "deb-src [signed-by=/usr/share/keyrings/debian-archive-keyring.gpg] $mirror $release main" \
    >"$apt/sources.list"
  local options=(-o "Dir::Etc::SourceList=$apt/sources.list" -o "Dir::Etc::SourceParts=$apt/none"
                 -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache::pkgcache="
                 -o "Dir::Cache::srcpkgcache=" -o "APT::Sandbox::User=root")
  apt-get "${options[@]}" update -qq
  (cd "$deps/download" && apt-get "${options[@]}" source -qq --download-only "mariadb/$release")
  rm -rf "$apt"
  local tarball
  tarball=$(ls "$deps"/download/mariadb_*.orig.tar.* | head -1)
  rm -rf "$deps/connector-src" "$deps/unpack"
  mkdir -p "$deps/unpack"
  tar -xf "$tarball" -C "$deps/unpack" --wildcards '*/libmariadb/*'
  mv "$deps"/unpack/*/libmariadb "$deps/connector-src"
  rm -rf "$deps/unpack" "$deps/download"
}

# Options of the Connector/C build: Windows' own TLS, no external zlib or
# curl, and the authentication plugins real servers ask for built in
# (ed25519 is MariaDB's recommended login; as a DLL it would never be found).
# _WIN32_WINNT given, as Connector/C expects, so that its certificate check
# uses the Windows 7 layout of CERT_CHAIN_ENGINE_CONFIG for a TLS_CA file
# (older Windows and wine refuse the longer one).
connector_options=(-DCMAKE_BUILD_TYPE=Release -DCMAKE_C_FLAGS=-D_WIN32_WINNT=0x0A00
                   -DWITH_SSL=SCHANNEL -DWITH_UNIT_TESTS=OFF
                   -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC
                   -DCLIENT_PLUGIN_MYSQL_NATIVE_PASSWORD=STATIC
                   -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=STATIC
                   -DCLIENT_PLUGIN_CLIENT_ED25519=STATIC)
connector_libs="-lws2_32 -ladvapi32 -lkernel32 -lshlwapi -lcrypt32 -lsecur32 -lbcrypt"

build_connector() {
  # The .pc file names the sysroot by its path: a moved checkout rebuilds.
  local stamp="$deps/connector.stamp" want="$sysroot ${connector_options[*]} $connector_libs"
  if [ -f "$sysroot/lib/pkgconfig/libmariadb.pc" ] && [ "$(cat "$stamp" 2>/dev/null)" = "$want" ]; then
    return 0
  fi
  fetch_connector_source
  say "building Connector/C for Windows"
  rm -rf "$deps/connector-build"
  cmake -S "$deps/connector-src" -B "$deps/connector-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_INSTALL_PREFIX="$sysroot" "${connector_options[@]}" >"$deps/connector-configure.log" 2>&1 ||
    { cat "$deps/connector-configure.log" >&2; die "Connector/C configure failed"; }
  cmake --build "$deps/connector-build" --target mariadbclient -j"$jobs" >"$deps/connector-build.log" 2>&1 ||
    { tail -50 "$deps/connector-build.log" >&2; die "Connector/C build failed"; }
  cmake --install "$deps/connector-build" --component Development >/dev/null
  local version
  version=$(sed -n 's/^#define MARIADB_PACKAGE_VERSION "\(.*\)"/\1/p' "$sysroot/include/mariadb/mariadb_version.h")
  mkdir -p "$sysroot/lib/pkgconfig"
  cat >"$sysroot/lib/pkgconfig/libmariadb.pc" <<PC
prefix=$sysroot
includedir=\${prefix}/include/mariadb
libdir=\${prefix}/lib/mariadb

Name: libmariadb
Description: MariaDB Connector/C, static, for 64-bit Windows
Version: $version
Cflags: -I\${includedir}
Libs: -L\${libdir} -lmariadbclient $connector_libs
PC
  echo "$want" >"$stamp"
}

build_googletest() {
  [ -f "$sysroot/lib/cmake/GTest/GTestConfig.cmake" ] && return 0
  say "building GoogleTest for Windows"
  rm -rf "$deps/gtest-build"
  cmake -S /usr/src/googletest -B "$deps/gtest-build" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_GMOCK=OFF -DCMAKE_INSTALL_PREFIX="$sysroot" >/dev/null
  cmake --build "$deps/gtest-build" -j"$jobs" >/dev/null
  cmake --install "$deps/gtest-build" >/dev/null
}

# A throwaway wine prefix with its server kept running (-p), so that the
# programs started by the tests share one; its output goes to /dev/null, or a
# wine process started by a test would hold ctest's output pipe open.
#
# The first program started in a new prefix sets it up and boots it (its own
# "wineboot --init": the prefix, services.exe and the services, the devices)
# and waits for that; a plain wineboot is that first program. Not "wineboot
# --init", which would boot the booted prefix a second time: a second
# services.exe, whose services all fail to start beside the first one's, one
# after another for about a minute, while the tests start.
# Wine runs without address space randomisation, as in cmake/wine_test.sh
# (see there why).
wine_binary=/usr/lib/wine/wine64
wine() { setarch "$(uname -m)" --addr-no-randomize "$wine_binary" "$@"; }
wineserver=/usr/lib/wine/wineserver
wine_prefix=
start_wine() {
  wine_prefix=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-wine.XXXXXX")
  export WINEPREFIX=$wine_prefix WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  "$wineserver" -p </dev/null >/dev/null 2>&1
  wine wineboot </dev/null >/dev/null 2>&1
}

# Only the prefix of start_wine: never one that the caller's WINEPREFIX names.
stop_wine() {
  [ -n "$wine_prefix" ] || return 0
  WINEPREFIX=$wine_prefix "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$wine_prefix"
}

# Uses the server of the caller's HALVORN_DB_* variables, or starts one in
# $dbdir.
dbdir=
use_or_start_server() {
  if [ -n "${HALVORN_DB_PORT:-}" ] && [ -n "${HALVORN_DB_SOCKET:-}" ]; then return 0; fi
  dbdir=$(new_server_dir windb)
  start_server "$top" "$dbdir"
}

cleanup() {
  stop_wine
  [ -z "$dbdir" ] || stop_server "$top" "$dbdir"
  [ ${#temp_dirs[@]} -eq 0 ] || rm -rf "${temp_dirs[@]}"
}

# The project for Windows; the programs are copied to build/windows/ when
# they import no DLL but Windows' own.
build_windows_programs() {
  say "build"
  cmake -S "$top" -B "$out/programs" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DHALVORN_WINDOWS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
  cmake --build "$out/programs" -j"$jobs"
  local exe dll
  for exe in "$(program_path "$out/programs").exe" "$(tool_path "$out/programs").exe"; do
    for dll in $(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p'); do
      case ${dll,,} in
        kernel32.dll | advapi32.dll | msvcrt.dll | ws2_32.dll | shlwapi.dll | crypt32.dll | \
          secur32.dll | bcrypt.dll | user32.dll | api-ms-win-*.dll) ;;
        *) die "$(basename "$exe") needs $dll" ;;
      esac
    done
    cp "$exe" "$out/"
  done
}

# Every test under wine, through cmake/wine_test.sh: wine's messages of each
# failed run stay in build/windows/programs/Testing/wine; a run that wine
# failed to start is started once more, and such runs are counted here.
run_tests() {
  say "test (under wine)"
  local logs=$out/programs/Testing/wine status=0
  rm -rf "$logs"
  mkdir -p "$logs"
  (cd "$out/programs" && HALVORN_WINE_LOG_DIR=$logs HALVORN_WINE_RETRIES=$logs/retries \
    ctest --output-on-failure -j"$jobs" --timeout 300) || status=$?
  if [ -s "$logs/retries" ]; then
    say "$(wc -l <"$logs/retries") test run(s) started once more after wine failed to start them:"
    sed 's/^/  /' "$logs/retries"
  else
    say "no test run needed starting again"
  fi
  return "$status"
}

# The same bookings through the Linux and the Windows program, each in a tree
# of its own: BEWDATA.dat, the protocol log (server times masked), the
# console (CR LF on Windows), the exit status and the table afterwards must
# agree byte for byte.
compare_with_linux() {
  say "Linux and Windows program on the same bookings"
  local linux_program tool
  local build=$linux_build
  if [ -z "$build" ]; then
    build=$top/build/win-linux
    build_programs "$top" "$build" Halvorn_MySQL Halvorn_Ini
  fi
  linux_program=$(program_path "$build")
  tool=$(tool_path "$build")
  local work side status
  work=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-cmp.XXXXXX")
  temp_dirs+=("$work")
  for side in linux windows; do
    mkdir -p "$work/$side/Veltrano_php/log" "$work/$side/app/bin"
    write_settings "$tool" "$work/$side/app/Veltrano.ini"
    sql -e 'DROP TABLE IF EXISTS KVSYSTEM.KVS321BEW'
    sql <"$top/sql/kvs321bew.sql"
    sql <"$top/sql/demo_bookings.sql"
    status=0
    if [ $side = linux ]; then
      (cd "$work/$side/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET \
        "$linux_program" ../Veltrano.ini /D >"$work/$side/console") || status=$?
    else
      (cd "$work/$side/app/bin" && MYSQL_TCP_PORT=$HALVORN_DB_PORT \
        wine "$out/Halvorn_MySQL.exe" '..\Veltrano.ini' /d >"$work/$side/console") || status=$?
    fi
    echo "$status" >"$work/$side/status"
    sql -N -e "SELECT BewIDN, BewTID, IFNULL(BewUkz, 'NULL'), BewUdt IS NOT NULL
                       FROM KVSYSTEM.KVS321BEW ORDER BY BewIDN, BewTID" >"$work/$side/table"
    LC_ALL=C sed -E 's/^(\xDCbergabe vom )[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9:]{8}/\1<TIME>/' \
      "$work/$side/Veltrano_php/log/Durnwell#Log.txt" >"$work/$side/log"
    LC_ALL=C sed -E 's/^(Uebergabe am )[0-9]{2}\.[0-9]{2}\.[0-9]{4} [0-9:]{8}/\1<TIME>/' \
      "$work/$side/console" >"$work/$side/console.masked"
  done
  perl -pe 's/\n/\r\n/' "$work/linux/console.masked" >"$work/linux/console.crlf"
  local failed=0
  [ "$(cat "$work/linux/status")" = 1 ] || { echo "Linux program exited $(cat "$work/linux/status")"; failed=1; }
  [ -s "$work/linux/app/bin/BEWDATA.dat" ] || { echo "Linux program wrote no lines"; failed=1; }
  cmp "$work/linux/status" "$work/windows/status" || failed=1
  cmp "$work/linux/app/bin/BEWDATA.dat" "$work/windows/app/bin/BEWDATA.dat" || failed=1
  cmp "$work/linux/log" "$work/windows/log" || failed=1
  cmp "$work/linux/console.crlf" "$work/windows/console.masked" || failed=1
  cmp "$work/linux/table" "$work/windows/table" || failed=1
  if [ $failed != 0 ]; then
    unset 'temp_dirs[-1]'  # kept for a look
    echo "windows: the files differ; both sides are in $work" >&2
    return 1
  fi
  echo "same transfer file ($(wc -l <"$work/linux/app/bin/BEWDATA.dat") lines), protocol log, console and table"
}

# build/windows/Halvorn-<version>-win64.zip: the programs, the README and an
# example settings file, in a folder of the archive's name.
pack_release() {
  local version name stage
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/programs/CMakeCache.txt")
  [ -n "$version" ] || die "no project version"
  name=Halvorn-$version-win64
  stage=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-zip.XXXXXX")
  temp_dirs+=("$stage")
  mkdir "$stage/$name"
  cp "$out/Halvorn_MySQL.exe" "$out/Halvorn_Ini.exe" "$top/README.md" \
    "$top/deploy/Veltrano.ini.example" "$stage/$name/"
  rm -f "$out/$name.zip"
  (cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")
  say "release archive $out/$name.zip"
}

trap cleanup EXIT
"$top/scripts/install_deps.sh" g++-mingw-w64-x86-64-posix wine64 zip
mkdir -p "$deps"
build_connector
build_googletest
start_wine
use_or_start_server
build_windows_programs
run_tests
compare_with_linux
pack_release
