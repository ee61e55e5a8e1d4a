#!/usr/bin/env bash
# Installs the Debian packages that the build, the tests, the demo and the
# benchmarks need, and the PACKAGEs named (scripts/windows.sh adds those of
# the Windows build). Does nothing when they are all there already.
#
#   scripts/install_deps.sh [PACKAGE...]
set -euo pipefail

packages=(cmake make g++ pkg-config libgtest-dev libmariadb-dev libssl-dev
          mariadb-server mariadb-client time bc tzdata strace dpkg-dev file
          galera-4 rsync iproute2 "$@")  # the cluster tests: provider, state transfer, its port check

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=
[ "$(id -u)" -eq 0 ] || sudo=sudo
echo "install_deps: installing ${missing[*]}"
$sudo apt-get update -qq
# Waits for an apt or dpkg run of someone else rather than failing on its lock.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends \
  -o DPkg::Lock::Timeout=600 "${missing[@]}"
