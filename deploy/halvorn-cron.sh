#!/bin/sh
# Runs one transfer for cron (or any scheduler that reads 0 as success):
# starts Halvorn_MySQL in the working directory its protocol log needs, skips
# the run while the previous one is still going, and turns the program's exit
# status into the usual form: 0 success, anything else a failure with one line
# on standard error, which cron mails.
#
#   exit 0    the run completed and committed (the program's 1), or skipped
#   exit 100  the server refused the commit, nothing is marked (the program's 0)
#   exit N    the program's own status otherwise (98, 97, 96, 90)
#
# Paths come from the environment, with these defaults:
HALVORN_WORKDIR=${HALVORN_WORKDIR:-/srv/veltrano/app/bin}
HALVORN_PROGRAM=${HALVORN_PROGRAM:-/opt/halvorn/Halvorn_MySQL}
HALVORN_SETTINGS=${HALVORN_SETTINGS:-/srv/veltrano/app/Veltrano.ini}
HALVORN_EXPORT=${HALVORN_EXPORT:-/srv/veltrano/export}
HALVORN_LOCK=${HALVORN_LOCK:-${TMPDIR:-/tmp}/halvorn-transfer.lock}
# A server on another port: set MYSQL_TCP_PORT (and for localhost
# MYSQL_UNIX_PORT) in the cron line or here; the client library reads them.

# The protocol log is ../../Veltrano_php/log/Durnwell#Log.txt from here.
cd "$HALVORN_WORKDIR" || {
  echo "halvorn-cron: cannot change to $HALVORN_WORKDIR" >&2
  exit 2
}

if command -v flock >/dev/null 2>&1; then
  exec 9>>"$HALVORN_LOCK"
  # The previous run is still going: this one is left out, the next takes over.
  flock -n 9 || exit 0
fi

"$HALVORN_PROGRAM" "$HALVORN_SETTINGS" "$HALVORN_EXPORT"
status=$?
case $status in
  1) exit 0 ;;
  0)
    echo "halvorn-cron: the server refused the commit, nothing is marked (see ../../Veltrano_php/log/Durnwell#Log.txt in $HALVORN_WORKDIR)" >&2
    exit 100
    ;;
  *)
    echo "halvorn-cron: Halvorn_MySQL ended with exit status $status (see ../../Veltrano_php/log/Durnwell#Log.txt in $HALVORN_WORKDIR)" >&2
    exit "$status"
    ;;
esac
