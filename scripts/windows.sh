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
  local stamp="$deps/connector.stamp" want="${connector_options[*]} $connector_libs"
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
prefix=\${pcfiledir}/../..
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

install_packages
mkdir -p "$deps"
build_connector
build_googletest
