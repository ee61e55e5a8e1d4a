// The run guard: one run at a time per database. A named lock on the server
// ('KVSYSTEM.KVS321BEW', visible to operators through IS_USED_LOCK), taken
// without waiting and released with the connection, so a run that died never
// blocks the next one. Beside it, always, an exclusive lock on a file beside
// the transfer file: it holds for one directory where the named lock does not
// (a server without named locks, a cluster's other node).
#pragma once

#include <string>

#include "db/db_connection.h"
#include "platform/platform.h"

// The exit status of a run that found another run at work.
constexpr int kExitRunning = 95;

// The server-side name of the guard.
extern const char kRunGuardName[];  // "KVSYSTEM.KVS321BEW"

// Seconds a run waits for the guard of a run whose connection the server is
// already ending (its client died): as long as the rollback of its
// transaction takes. The longest wait the run itself asks the server for.
constexpr int kEndingRunWait = 60;

// The stand-in lock file's name, in the transfer file's directory.
extern const char kRunGuardFileName[];  // "Halvorn_MySQL.sperre"

struct RunGuard {
  bool server_lock = false;  // held on the server, through the connection
  // Held on every run: the named lock guards only the server it was taken on,
  // and on a cluster each node has its own.
  FileLock file_lock;
};

// Takes the guard without waiting for another run. Only a run that died is
// waited for: its guard goes once the server has noticed that its client is
// gone (looked for during one second) and rolled its transaction back. So is
// the run's own earlier connection, previous_connection (its server thread
// id; 0 for none), after that connection broke. First, unless the guard
// holds it already, it takes the lock file beside the transfer file at
// transfer_path, so that two runs of one directory never overlap whichever
// node of a cluster each reaches. Returns 0 when this run may go on (guard
// taken; or a lock could not be had at all, which is no sign of another
// run), 1 when another run holds either.
int TakeRunGuard(DbConnection& db, const std::string& transfer_path, RunGuard& guard,
                 unsigned long previous_connection = 0);

// Releases the named lock only; the lock file stays, for a run that
// reconnects.
void ReleaseNamedLock(DbConnection& db, RunGuard& guard);

// Releases what TakeRunGuard took.
void ReleaseRunGuard(DbConnection& db, RunGuard& guard);
