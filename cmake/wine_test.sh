#!/usr/bin/env bash
# Runs a Windows test program under wine for CTest (the toolchain's emulator):
#
#   cmake/wine_test.sh WINE PROGRAM [ARGUMENT...]
#
# The program's console reaches CTest as it is written. With
# HALVORN_WINE_LOG_DIR set, wine's own messages (WINEDEBUG, err+all unless
# HALVORN_WINEDEBUG says otherwise) and the program's standard error go to a
# file per run in that directory, shown after the output when the run fails,
# with the exit status; without it the program simply runs under wine.
#
# A run that wine itself failed to start is started once more: one that
# printed nothing, ended with a status other than 0, and whose messages show
# wine's loader giving up (an err:module line, a "wine:" message other than
# an unhandled exception's, or the shared user data not mapped). A run that printed anything, or whose
# program was reached, is never repeated. Each repeat is a line in the file
# HALVORN_WINE_RETRIES, for the end of the test run.
#
# Wine runs with the address space laid out without randomisation (setarch
# -R), as do the programs a test starts under it. Debian's wine has no
# preloader to reserve the addresses a Windows process needs before anything
# else is mapped. With randomisation the kernel puts the loader's heap
# (about 0.5 MiB by then) anywhere in the gigabyte above the loader at
# 0x7d000000, and about once in 2,000 starts it covers the fixed address of
# the shared user data, 0x7ffe0000: the process dies before the program's
# first instruction, "err:virtual:virtual_alloc_first_teb wine: failed to map
# the shared user data: c0000018". Without it the heap starts at 0x7d005000.
set -uo pipefail
wine=$1
shift
no_randomisation=(setarch "$(uname -m)" --addr-no-randomize)

if [ -z "${HALVORN_WINE_LOG_DIR:-}" ]; then
  exec "${no_randomisation[@]}" "$wine" "$@"
fi
export WINEDEBUG=${HALVORN_WINEDEBUG:-err+all}
mkdir -p "$HALVORN_WINE_LOG_DIR"
name=$(basename "$1" .exe)
for arg in "$@"; do
  case $arg in --gtest_filter=*) name=$name.${arg#--gtest_filter=} ;; esac
done
name=$HALVORN_WINE_LOG_DIR/${name//[^A-Za-z0-9._-]/_}.$$

# Runs the program once as attempt $attempt: sets status, messages, console.
run() {
  messages=$name.$attempt.log
  console=$name.$attempt.out
  "${no_randomisation[@]}" "$wine" "$@" 2>"$messages" | tee "$console"
  status=${PIPESTATUS[0]}
}

# Wine gave up before the program: see above.
wine_failed_to_start() {
  [ "$status" != 0 ] && [ ! -s "$console" ] || return 1
  grep -E '^[0-9a-f]{4}:err:module:|^wine: |wine: failed to map' "$messages" |
    grep -qv '^wine: Unhandled'
}

attempt=1
run "$@"
if wine_failed_to_start; then
  echo "wine_test: wine failed to start the program (status $status), once more:" >&2
  grep -E '^[0-9a-f]{4}:err:|^wine: |wine: failed to map' "$messages" | head -20 >&2
  [ -z "${HALVORN_WINE_RETRIES:-}" ] || echo "${name##*/} status $status" >>"$HALVORN_WINE_RETRIES"
  attempt=2
  run "$@"
fi
rm -f "$name".*.out
if [ "$status" = 0 ]; then
  rm -f "$name".*.log
else
  echo "wine_test: exit status $status; wine's messages and standard error in $messages:" >&2
  cat "$messages" >&2
fi
exit "$status"
