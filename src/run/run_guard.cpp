// The run guard: a named lock on the server, or a file lock in its stead.
#include "run/run_guard.h"

#include <chrono>
#include <thread>

const char kRunGuardName[] = "KVSYSTEM.KVS321BEW";
const char kRunGuardFileName[] = "Halvorn_MySQL.sperre";

namespace {

// How long a guard held by a run that was just killed may still look alive:
// until the server notices that the client is gone.
constexpr int kNoticeChecks = 20;
constexpr auto kNoticeInterval = std::chrono::milliseconds(50);

// Runs GET_LOCK, waiting up to seconds. Returns 1 taken, 0 held by another
// connection, -1 when the server gives no answer (NULL, or an error).
int TakeNamedLock(DbConnection& db, int seconds) {
  std::string taken;
  if (SQL_QueryValue(
          db,
          std::string("SELECT GET_LOCK('") + kRunGuardName + "', " + std::to_string(seconds) + ")",
          taken) != 0 ||
      taken.empty()) {
    return -1;
  }
  return taken == "1" ? 1 : 0;
}

// True when the guard's holder is to be waited for: a run that was killed,
// whose connection the server is ending (rolling its transaction back), or
// this run's own earlier connection (previous_connection, 0 for none).
bool HolderIsEnding(DbConnection& db, unsigned long previous_connection) {
  std::string ending;
  return SQL_QueryValue(db,
                        std::string("SELECT IFNULL((SELECT COMMAND = 'Killed' OR ID = ") +
                            std::to_string(previous_connection) +
                            " FROM information_schema.PROCESSLIST WHERE ID = IS_USED_LOCK('" +
                            kRunGuardName + "')), 0)",
                        ending) == 0 &&
         ending == "1";
}

// Takes the directory's lock file unless the guard holds it already (while
// the run reconnects). Returns 1 when another process holds it, else 0: a
// lock file that cannot be had at all is no sign of another run.
int TakeDirectoryLock(const std::string& transfer_path, RunGuard& guard) {
  if (guard.file_lock.handle != -1) return 0;
  return TakeFileLock(SiblingPath(transfer_path, kRunGuardFileName), guard.file_lock) == 1 ? 1 : 0;
}

}  // namespace

int TakeRunGuard(DbConnection& db, const std::string& transfer_path, RunGuard& guard,
                 unsigned long previous_connection) {
  if (TakeDirectoryLock(transfer_path, guard) != 0) return 1;
  int named = TakeNamedLock(db, 0);
  for (int check = 0; named == 0 && check < kNoticeChecks; ++check) {
    if (HolderIsEnding(db, previous_connection)) {
      named = TakeNamedLock(db, kEndingRunWait);
      break;
    }
    std::this_thread::sleep_for(kNoticeInterval);
    named = TakeNamedLock(db, 0);
  }
  if (named == 1) {
    guard.server_lock = true;
    return 0;
  }
  return named == 0 ? 1 : 0;
}

void ReleaseNamedLock(DbConnection& db, RunGuard& guard) {
  if (guard.server_lock && db.mysql != nullptr) {
    std::string released;
    SQL_QueryValue(db, std::string("SELECT RELEASE_LOCK('") + kRunGuardName + "')", released);
  }
  guard.server_lock = false;
}

void ReleaseRunGuard(DbConnection& db, RunGuard& guard) {
  ReleaseNamedLock(db, guard);
  ReleaseFileLock(guard.file_lock);
}
