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

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo

install_packages() {
  "$top/scripts/install_deps.sh"
  local packages=(g++-mingw-w64-x86-64-posix wine64 zip) missing=() p
  for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
  done
  [ ${#missing[@]} -eq 0 ] && return 0
  say "installing ${missing[*]}"
  $sudo apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
    "${missing[@]}" >/dev/null
}

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
# curl, and the authentication plugins real servers ask for built in.
connector_options=(-DCMAKE_BUILD_TYPE=Release -DWITH_SSL=SCHANNEL -DWITH_UNIT_TESTS=OFF
                   -DWITH_CURL=OFF -DWITH_EXTERNAL_ZLIB=OFF -DCLIENT_PLUGIN_PVIO_SHMEM=STATIC
                   -DCLIENT_PLUGIN_MYSQL_NATIVE_PASSWORD=STATIC
                   -DCLIENT_PLUGIN_CACHING_SHA2_PASSWORD=STATIC)
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
start_wine() {
  wine=/usr/lib/wine/wine64
  wineserver=/usr/lib/wine/wineserver
  WINEPREFIX=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-wine.XXXXXX")
  export WINEPREFIX WINEDEBUG=-all WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml="
  "$wineserver" -p </dev/null >/dev/null 2>&1
  "$wine" wineboot --init </dev/null >/dev/null 2>&1
}

stop_wine() {
  [ -n "${WINEPREFIX:-}" ] || return 0
  "$wineserver" -k >/dev/null 2>&1 || true
  rm -rf "$WINEPREFIX"
}

# Uses the server of the caller's HALVORN_DB_* variables, or starts one.
start_server() {
  if [ -n "${HALVORN_DB_PORT:-}" ] && [ -n "${HALVORN_DB_SOCKET:-}" ]; then return 0; fi
  dbdir=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-windb.XXXXXX")
  "$top/scripts/db_server.sh" start "$dbdir" >/dev/null
  set -a
  # shellcheck disable=SC1091
  . "$dbdir/env"
  set +a
}

stop_server() {
  [ -n "${dbdir:-}" ] || return 0
  "$top/scripts/db_server.sh" stop "$dbdir"
  rm -rf "$dbdir"
}

cleanup() { stop_wine; stop_server; }

# The project for Windows; the programs are copied to build/windows/ when
# they import no DLL but Windows' own.
build_programs() {
  say "build"
  cmake -S "$top" -B "$out/programs" -DCMAKE_TOOLCHAIN_FILE="$toolchain" \
    -DHALVORN_WINDOWS_SYSROOT="$sysroot" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE=PRE_TEST >/dev/null
  cmake --build "$out/programs" -j"$jobs"
  local exe dll
  for exe in "$out/programs/src/run/Halvorn_MySQL.exe" "$out/programs/src/tool/Halvorn_Ini.exe"; do
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

run_tests() {
  say "test (under wine)"
  (cd "$out/programs" && ctest --output-on-failure -j"$jobs" --timeout 300)
}

# The same bookings through the Linux and the Windows program, each in a tree
# of its own: BEWDATA.dat, the protocol log (server times masked), the
# console (CR LF on Windows), the exit status and the table afterwards must
# agree byte for byte.
compare_with_linux() {
  say "Linux and Windows program on the same bookings"
  local linux_program tool
  if [ -n "$linux_build" ]; then
    linux_program=$linux_build/src/run/Halvorn_MySQL
    tool=$linux_build/src/tool/Halvorn_Ini
  else
    cmake -S "$top" -B "$top/build/win-linux" -DCMAKE_BUILD_TYPE=Release -DHALVORN_TESTS=OFF >/dev/null
    cmake --build "$top/build/win-linux" -j"$jobs" --target Halvorn_MySQL Halvorn_Ini >/dev/null
    linux_program=$top/build/win-linux/src/run/Halvorn_MySQL
    tool=$top/build/win-linux/src/tool/Halvorn_Ini
  fi
  local work side status
  work=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-cmp.XXXXXX")
  local sql=(mariadb --no-defaults -uroot --socket="$HALVORN_DB_SOCKET")
  for side in linux windows; do
    mkdir -p "$work/$side/Veltrano_php/log" "$work/$side/app/bin"
    write_settings "$work/$side/app/Veltrano.ini"
    "${sql[@]}" -e 'DROP TABLE IF EXISTS KVSYSTEM.KVS321BEW'
    "${sql[@]}" <"$top/sql/kvs321bew.sql"
    "${sql[@]}" <"$top/sql/demo_bookings.sql"
    status=0
    if [ $side = linux ]; then
      (cd "$work/$side/app/bin" && MYSQL_UNIX_PORT=$HALVORN_DB_SOCKET \
        "$linux_program" ../Veltrano.ini /D >"$work/$side/console") || status=$?
    else
      (cd "$work/$side/app/bin" && MYSQL_TCP_PORT=$HALVORN_DB_PORT \
        "$wine" "$out/Halvorn_MySQL.exe" '..\Veltrano.ini' /d >"$work/$side/console") || status=$?
    fi
    echo "$status" >"$work/$side/status"
    "${sql[@]}" -N -e "SELECT BewIDN, BewTID, IFNULL(BewUkz, 'NULL'), BewUdt IS NOT NULL
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
    echo "windows: the files differ; both sides are in $work" >&2
    return 1
  fi
  echo "same transfer file ($(wc -l <"$work/linux/app/bin/BEWDATA.dat") lines), protocol log, console and table"
  rm -rf "$work"
}

# build/windows/Halvorn-<version>-win64.zip: the programs, the README and an
# example settings file, in a folder of the archive's name.
pack_release() {
  local version name stage
  version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$out/programs/CMakeCache.txt")
  [ -n "$version" ] || die "no project version"
  name=Halvorn-$version-win64
  stage=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-zip.XXXXXX")
  mkdir "$stage/$name"
  cp "$out/Halvorn_MySQL.exe" "$out/Halvorn_Ini.exe" "$top/README.md" \
    "$top/deploy/Veltrano.ini.example" "$stage/$name/"
  rm -f "$out/$name.zip"
  (cd "$stage" && zip -q -X -r "$out/$name.zip" "$name")
  rm -rf "$stage"
  say "release archive $out/$name.zip"
}

install_packages
mkdir -p "$deps"
build_connector
build_googletest
trap cleanup EXIT
start_wine
start_server
build_programs
run_tests
compare_with_linux
pack_release
