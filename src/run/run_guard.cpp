// The run guard: a named lock on the server, or a file lock in its stead.
#include "run/run_guard.h"

const char kRunGuardName[] = "KVSYSTEM.KVS321BEW";
const char kRunGuardFileName[] = "Halvorn_MySQL.sperre";

namespace {

// Runs GET_LOCK without waiting. Returns 1 taken, 0 held by another
// connection, -1 when the server gives no answer (NULL, or an error).
int TakeNamedLock(DbConnection& db) {
  StatementHandle lock;
  lock.text = std::string("SELECT GET_LOCK('") + kRunGuardName + "', 0)";
  if (SQL_Execute(db, lock) != 0) return -1;
  MYSQL_ROW row = nullptr;
  int taken = -1;
  if (SQL_Fetch(db, lock, row) == 0 && row[0] != nullptr) taken = row[0][0] == '1' ? 1 : 0;
  SQL_FreeResult(lock);
  return taken;
}

}  // namespace

std::string RunGuardPath(const std::string& transfer_path) {
  const size_t slash = transfer_path.find_last_of("/\\");
  return (slash == std::string::npos ? std::string() : transfer_path.substr(0, slash + 1)) +
         kRunGuardFileName;
}

int TakeRunGuard(DbConnection& db, const std::string& lock_path, RunGuard& guard) {
  const int named = TakeNamedLock(db);
  if (named == 1) {
    guard.server_lock = true;
    return 0;
  }
  if (named == 0) return 1;
  return TakeFileLock(lock_path, guard.file_lock) == 1 ? 1 : 0;
}

void ReleaseRunGuard(DbConnection& db, RunGuard& guard) {
  if (guard.server_lock && db.mysql != nullptr) {
    StatementHandle release;
    release.text = std::string("SELECT RELEASE_LOCK('") + kRunGuardName + "')";
    if (SQL_Execute(db, release) == 0) SQL_FreeResult(release);
  }
  guard.server_lock = false;
  ReleaseFileLock(guard.file_lock);
}
