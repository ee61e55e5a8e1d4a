#!/bin/sh
# Runs one transfer for systemd, cron or any scheduler that reads 0 as
# success: starts Halvorn_MySQL in the working directory its protocol log
# needs, lets no second run start beside it, stops a run that exceeds its
# time, and turns the program's exit status into the usual convention:
#
#   exit 0    the run committed (the program's 1); or another run is at work
#             (the program's 95, or this wrapper's lock is held) and the last
#             committed run is younger than HALVORN_STALE_MINUTES
#   exit 95   another run is at work and no run has committed for longer
#             than HALVORN_STALE_MINUTES
#   exit 100  the run completed without a commit (the program's 0)
#   exit 124  the run took longer than HALVORN_TIMEOUT seconds and was stopped
#   exit N    the program's own status otherwise (98, 97, 96, 90)
#
# Every failure prints one line on standard error (cron mails it, systemd
# puts it into the journal) with the outcome from the status file
# Halvorn_MySQL.status beside BEWDATA.dat.
#
# Paths and limits come from the environment, with these defaults:
HALVORN_WORKDIR=${HALVORN_WORKDIR:-/srv/veltrano/app/bin}
HALVORN_PROGRAM=${HALVORN_PROGRAM:-/usr/bin/Halvorn_MySQL}
HALVORN_SETTINGS=${HALVORN_SETTINGS:-/srv/veltrano/app/Veltrano.ini}
HALVORN_EXPORT=${HALVORN_EXPORT:-/srv/veltrano/export}
# The lock that keeps a second run from starting; empty: no lock (systemd
# never starts a unit twice).
HALVORN_LOCK=${HALVORN_LOCK-/run/lock/halvorn-transfer.lock}
HALVORN_TIMEOUT=${HALVORN_TIMEOUT:-900}
HALVORN_STALE_MINUTES=${HALVORN_STALE_MINUTES:-60}

status_file=$HALVORN_EXPORT/Halvorn_MySQL.status
log="../../Veltrano_php/log/Durnwell#Log.txt in $HALVORN_WORKDIR"

# The value of KEY in the status file, empty when there is none.
status_value() {
  sed -n "s/^$1=//p" "$status_file" 2>/dev/null | head -n 1
}

fail() {  # EXIT-STATUS TEXT
  echo "halvorn-run: $2" >&2
  exit "$1"
}

# Another run is at work: fine while the last commit is recent enough.
another_run_at_work() {
  last=$(status_value last_committed)
  if [ -n "$last" ] && last_s=$(date -u -d "$last" +%s 2>/dev/null); then
    age=$(( ($(date -u +%s) - last_s) / 60 ))
    [ "$age" -lt "$HALVORN_STALE_MINUTES" ] && exit 0
    fail 95 "another run is at work and the last committed run ended $age minutes ago ($last)"
  fi
  fail 95 "another run is at work and no committed run is on record in $status_file"
}

# The protocol log is ../../Veltrano_php/log/Durnwell#Log.txt from here.
cd "$HALVORN_WORKDIR" || fail 2 "cannot change to $HALVORN_WORKDIR"

if [ -n "$HALVORN_LOCK" ]; then
  exec 9>>"$HALVORN_LOCK" || fail 2 "cannot open the lock $HALVORN_LOCK"
  flock -n 9 || another_run_at_work
fi

timeout --kill-after=30 "$HALVORN_TIMEOUT" \
  "$HALVORN_PROGRAM" "$HALVORN_SETTINGS" "$HALVORN_EXPORT"
status=$?
outcome="outcome $(status_value outcome), error $(status_value error) $(status_value error_text)"
case $status in
  1) exit 0 ;;
  95) another_run_at_work ;;
  124 | 137) fail 124 "the run was stopped after $HALVORN_TIMEOUT seconds (see $log)" ;;
  0) fail 100 "the run completed without a commit, nothing is marked: $outcome (see $log)" ;;
  *) fail "$status" "Halvorn_MySQL ended with exit status $status: $outcome (see $log)" ;;
esac
