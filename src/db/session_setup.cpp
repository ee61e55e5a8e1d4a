// The session set up after connecting: sql_mode and character set.
#include "db/session_setup.h"

#include <string>

namespace {

constexpr char kSessionMode[] = "SET SESSION sql_mode = ''";
// The three character sets as one text; a set that is NULL shows as NULL.
constexpr char kCharacterSets[] =
    "SELECT CONCAT('character_set_client ', IFNULL(@@character_set_client, 'NULL'), "
    "', character_set_connection ', IFNULL(@@character_set_connection, 'NULL'), "
    "', character_set_results ', IFNULL(@@character_set_results, 'NULL'))";
constexpr char kLatin1Everywhere[] =
    "character_set_client latin1, character_set_connection latin1, character_set_results latin1";

}  // namespace

int SQL_SetUpSession(DbConnection& db) {
  StatementHandle mode;
  mode.text = kSessionMode;
  int status = SQL_Execute(db, mode);
  if (status != 0) return status;
  if (mysql_set_character_set(db.mysql, "latin1") != 0) {
    db.last_errno = static_cast<int>(mysql_errno(db.mysql));
    db.last_error = mysql_error(db.mysql);
    return db.last_errno;
  }
  return SQL_CheckSessionLatin1(db);
}

int SQL_CheckSessionLatin1(DbConnection& db) {
  std::string sets;
  const int status = SQL_QueryValue(db, kCharacterSets, sets);
  if (status != 0) return status;
  if (sets == kLatin1Everywhere) return 0;
  db.last_errno = kSessionNotLatin1;
  db.last_error = "Zeichensatz der Verbindung ist nicht latin1: " + sets;
  return db.last_errno;
}
