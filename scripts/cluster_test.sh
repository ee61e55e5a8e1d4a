#!/usr/bin/env bash
# Runs the cluster fault suite: installs what is missing, builds the release
# build of scripts/test.sh, starts a throwaway three-node Galera cluster on the
# loopback (scripts/galera_cluster.sh), runs the tests labelled "cluster"
# against it and stops it again, also when a test fails. Three to five
# minutes on two cores, besides the build: nodes are killed and rejoin, and a
# node that died takes the others five to six seconds to evict.
set -euo pipefail
cd "$(dirname "$0")/.."
top=$(pwd)

scripts/install_deps.sh

dir=$(mktemp -d "${TMPDIR:-/tmp}/halvorn-cluster.XXXXXX")
cleanup() { scripts/galera_cluster.sh stop "$dir"; rm -rf "$dir"; }
trap cleanup EXIT
scripts/galera_cluster.sh start "$dir"
set -a
# shellcheck disable=SC1091
. "$dir/env"
set +a

jobs=$(nproc 2>/dev/null || echo 2)
echo "== cluster: build"
cmake -S "$top" -B "$top/build/release" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$top/build/release" -j"$jobs"
echo "== cluster: test"
(cd "$top/build/release" && ctest -L cluster --output-on-failure --timeout 900)
echo "== cluster tests passed"
