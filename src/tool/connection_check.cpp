// The operator's check of the account in a settings file against the server.
#include "tool/connection_check.h"

#include <cstdio>
#include <vector>

#include "config/account.h"
#include "db/booking_statements.h"
#include "db/db_connection.h"

namespace {

// The privileges the account holds on the booking table: global, on the
// schema (patterns included) and on the table itself. information_schema
// shows an account its own grants without any privilege of its own.
const char kPrivileges[] =
    "SELECT DISTINCT PRIVILEGE_TYPE FROM ("
    "SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.USER_PRIVILEGES "
    "UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.SCHEMA_PRIVILEGES "
    "WHERE 'KVSYSTEM' LIKE TABLE_SCHEMA "
    "UNION ALL SELECT GRANTEE, PRIVILEGE_TYPE FROM information_schema.TABLE_PRIVILEGES "
    "WHERE 'KVSYSTEM' LIKE TABLE_SCHEMA AND TABLE_NAME = 'KVS321BEW') AS granted "
    "WHERE GRANTEE = CONCAT('''', SUBSTRING_INDEX(CURRENT_USER(), '@', 1), '''@''', "
    "SUBSTRING_INDEX(CURRENT_USER(), '@', -1), '''')";

const char* const kNeededPrivileges[] = {"SELECT", "UPDATE", "DELETE"};

std::string Shown(const std::string& value, ShowValueFn show) {
  std::string shown;
  if (show != nullptr && show(value, shown) == 0) return shown;
  return value;
}

std::string Failure(const DbConnection& db) {
  return "Fehler: " + std::to_string(db.last_errno) + ", " + db.last_error;
}

// Runs text and hands back every row's first columns as texts; a NULL reads
// as the empty text. Returns SQL_Execute's status.
int QueryRows(DbConnection& db, const std::string& text, int columns,
              std::vector<std::vector<std::string>>& rows) {
  StatementHandle handle;
  handle.text = text;
  rows.clear();
  const int status = SQL_Execute(db, handle);
  if (status != 0) return status;
  MYSQL_ROW row;
  while (SQL_Fetch(db, handle, row) == 0) {
    std::vector<std::string> texts;
    for (int i = 0; i < columns; ++i) texts.push_back(row[i] != nullptr ? row[i] : "");
    rows.push_back(texts);
  }
  SQL_FreeResult(handle);
  return 0;
}

std::string HostLine(const Account& account, ShowValueFn show) {
  if (!account.host.empty()) return Shown(account.host, show);
  return std::string("Standard-Host der Client-Bibliothek (NET8 ist ") +
         (account.net8.empty() ? "leer" : std::to_string(account.net8.size()) + " Zeichen lang") +
         ")";
}

// Reports the table and the pending bookings. Returns true when the table
// can be read.
bool CheckTable(DbConnection& db, std::string& report) {
  std::string pending;
  if (SQL_CountPending(db, pending) != 0) {
    const bool missing = db.last_errno == 1146;  // no such table
    report += std::string("Tabelle     : KVSYSTEM.KVS321BEW ") +
              (missing ? "fehlt" : "nicht lesbar") + "\n";
    report += "FEHLER: die Tabelle KVSYSTEM.KVS321BEW " +
              std::string(missing ? "fehlt" : "kann nicht gelesen werden") + ", " + Failure(db) +
              "\n";
    return false;
  }
  report += "Tabelle     : KVSYSTEM.KVS321BEW vorhanden\n";
  report += "Buchungen   : " + pending + " nicht uebergeben\n";
  return true;
}

// Reports SELECT, UPDATE and DELETE on the table. Returns true when the
// account holds all three.
bool CheckPrivileges(DbConnection& db, std::string& report) {
  std::vector<std::vector<std::string>> rows;
  if (QueryRows(db, kPrivileges, 1, rows) != 0) {
    report += "FEHLER: die Rechte koennen nicht gelesen werden, " + Failure(db) + "\n";
    return false;
  }
  std::string line = "Rechte      : ";
  std::string missing;
  for (const char* privilege : kNeededPrivileges) {
    bool held = false;
    for (const auto& row : rows) held = held || row[0] == privilege;
    if (privilege != kNeededPrivileges[0]) line += ", ";
    line += std::string(privilege) + (held ? " ja" : " nein");
    if (!held) missing += std::string(missing.empty() ? "" : ", ") + privilege;
  }
  report += line + "\n";
  if (missing.empty()) return true;
  report += "FEHLER: dem Konto fehlt auf KVSYSTEM.KVS321BEW das Recht " + missing;
  // Without DELETE alone a run still exports and commits; its purge fails.
  if (missing == "DELETE") report += ": alte uebergebene Buchungen werden nie geloescht";
  report += "\n";
  return false;
}

int Result(std::string& report, bool usable) {
  report += usable ? "Ergebnis: in Ordnung\n" : "Ergebnis: fehlerhaft\n";
  return usable ? kConnectionUsable : kConnectionUnusable;
}

}  // namespace

int CheckConnection(const std::string& path, std::string& report, ShowValueFn show) {
  report.clear();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    report = "FEHLER: die Datei " + path + " kann nicht geoeffnet werden\n";
    return Result(report, false);
  }
  std::fclose(file);
  report += "Verbindungspruefung mit " + path + "\n";

  Account account;
  ReadAccount(path, account);
  report += "Benutzer    : " + Shown(account.login, show) + "\n";
  report += "Host        : " + HostLine(account, show) + "\n";
  DbConnection db;
  if (SQL_ConnectAccount(db, account) != 0) {
    report += "Verbindung  : fehlgeschlagen\n";
    report += "FEHLER: Datenbankverbindung fehlgeschlagen, " + Failure(db) + "\n";
    return Result(report, false);
  }
  report += std::string("Verbindung  : hergestellt, ") + mysql_get_host_info(db.mysql) + "\n";

  // Nothing of this check may change the database.
  StatementHandle read_only;
  read_only.text = "START TRANSACTION READ ONLY";
  SQL_Execute(db, read_only);
  std::vector<std::vector<std::string>> rows;
  if (QueryRows(db, "SELECT VERSION(), @@character_set_connection", 2, rows) == 0 &&
      !rows.empty()) {
    report += "Server      : " + rows[0][0] + "\n";
    report += "Zeichensatz : " + rows[0][1] + "\n";
  }
  const bool table = CheckTable(db, report);
  const bool privileges = CheckPrivileges(db, report);
  SQL_Close(db);
  return Result(report, table && privileges);
}
