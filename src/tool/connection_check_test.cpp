// The tool's check of a settings file's account against the test server: a
// usable account, the failures a run would meet, and that it reads only.
#include "tool/connection_check.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "test/settings_writer.h"
#include "test/temp_dir.h"
#include "test/test_database.h"

namespace {

class ConnectionCheckTest : public DatabaseTest {
 protected:
  // Checks an account; the report must contain every text given, and none
  // of those marked with a leading "-".
  void ExpectCheck(const std::string& user, const std::string& password, const std::string& host,
                   int status, const std::vector<std::string>& texts) {
    ASSERT_TRUE(WriteFileBytes(settings_, AccountSettings(user, password, host)));
    Check(status, texts);
  }

  void Check(int status, const std::vector<std::string>& texts) {
    std::string report;
    EXPECT_EQ(CheckConnection(settings_, report), status) << report;
    for (const std::string& text : texts) {
      const bool absent = text[0] == '-';
      EXPECT_EQ(report.find(text.substr(absent)) == std::string::npos, absent) << text << "\n"
                                                                               << report;
    }
  }

  void AddBookings() {
    Exec(
        "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewTID, BewUkz) VALUES ('1', 'T1', NULL), "
        "('2', 'T2', 3), ('3', 'T3', 4), ('4', 'T4', NULL)");
  }

  ScopedTempDir dir_;
  const std::string settings_ = dir_.File("Veltrano.ini");
};

TEST_F(ConnectionCheckTest, UsableAccountOverSocketAndTcp) {
  AddBookings();
  const std::string version = Query("SELECT VERSION()")[0][0];
  ExpectCheck(TestDbUser(), TestDbPassword(), "localhost", kConnectionUsable,
              {"Verbindungspruefung mit " + settings_ + "\nBenutzer    : " + TestDbUser() +
               "\nHost        : localhost\nVerbindung  : hergestellt, " +
               TestDbLocalhostConnection() + "\nServer      : " + version +
               "\nZeichensatz : latin1\n"
               "Tabelle     : KVSYSTEM.KVS321BEW vorhanden\n"
               "Buchungen   : 3 nicht uebergeben\n"
               "Rechte      : SELECT ja, UPDATE ja, DELETE ja\n"
               "Ergebnis: in Ordnung\n"});
  // The port comes from the client library's environment, as for a run.
  ExpectCheck(TestDbUser(), TestDbPassword(), "127.0.0.1", kConnectionUsable,
              {"Verbindung  : hergestellt, 127.0.0.1 via TCP/IP\n", "-FEHLER"});
}

TEST_F(ConnectionCheckTest, RefusedAccountsAndMissingFile) {
  ExpectCheck(TestDbUser(), "wrong", "localhost", kConnectionUnusable,
              {"Verbindung  : fehlgeschlagen\nFEHLER: Datenbankverbindung fehlgeschlagen, "
               "Fehler: 1045, Access denied for user '" +
                   TestDbUser() + "'@'" + TestDbClientHost() + "' (using password: YES)\n",
               "Ergebnis: fehlerhaft\n", "-Tabelle"});
  // No user name: refused before any connection is tried, as by a run.
  const std::string before = Query("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1];
  ASSERT_TRUE(WriteFileBytes(settings_, SettingsRecord(2, "PASS", TestDbPassword())));
  Check(kConnectionUnusable,
        {"Benutzer    : \n", "Host        : Standard-Host der Client-Bibliothek (NET8 ist leer)\n",
         "FEHLER: Datenbankverbindung fehlgeschlagen, Fehler: 1045, Kein Benutzername in der "
         "Einstellungsdatei\n"});
  EXPECT_EQ(Query("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1], before);

  std::string report;
  EXPECT_EQ(CheckConnection(dir_.File("missing.ini"), report), kConnectionUnusable);
  EXPECT_EQ(report, "FEHLER: die Datei " + dir_.File("missing.ini") +
                        " kann nicht geoeffnet werden\nErgebnis: fehlerhaft\n");
}

TEST_F(ConnectionCheckTest, MissingTableFails) {
  Exec("DROP TABLE KVSYSTEM.KVS321BEW");
  ExpectCheck(TestDbUser(), TestDbPassword(), "localhost", kConnectionUnusable,
              {"Tabelle     : KVSYSTEM.KVS321BEW fehlt\n"
               "FEHLER: die Tabelle KVSYSTEM.KVS321BEW fehlt, Fehler: 1146, Table "
               "'KVSYSTEM.KVS321BEW' doesn't exist\n",
               "-Buchungen   :", "Ergebnis: fehlerhaft\n"});
}

// An account that may read and mark but not purge would fail every run at
// the purge.
TEST_F(ConnectionCheckTest, AccountWithoutDeleteFails) {
  const std::string account = "'halvorn_ohne'@'" + TestDbClientHost() + "'";
  Exec("DROP USER IF EXISTS " + account);
  Exec("CREATE USER " + account + " IDENTIFIED BY 'ohne-Loeschen'");
  Exec("GRANT SELECT, UPDATE ON KVSYSTEM.KVS321BEW TO " + account);
  AddBookings();
  ExpectCheck("halvorn_ohne", "ohne-Loeschen", "localhost", kConnectionUnusable,
              {"Buchungen   : 3 nicht uebergeben\n"
               "Rechte      : SELECT ja, UPDATE ja, DELETE nein\n"
               "FEHLER: dem Konto fehlt auf KVSYSTEM.KVS321BEW das Recht DELETE: alte "
               "uebergebene Buchungen werden nie geloescht\n"
               "Ergebnis: fehlerhaft\n"});
  // Privileges on the whole schema or the whole server count as well.
  Exec("GRANT DELETE ON KVSYSTEM.* TO " + account);
  ExpectCheck("halvorn_ohne", "ohne-Loeschen", "localhost", kConnectionUsable, {"DELETE ja\n"});
  Exec("REVOKE DELETE ON KVSYSTEM.* FROM " + account);
  Exec("REVOKE UPDATE ON KVSYSTEM.KVS321BEW FROM " + account);
  Exec("GRANT DELETE, UPDATE ON *.* TO " + account);
  ExpectCheck("halvorn_ohne", "ohne-Loeschen", "localhost", kConnectionUsable,
              {"SELECT ja, UPDATE ja, DELETE ja\n"});
  Exec("DROP USER " + account);
}

// The check neither waits for nor takes row locks and changes nothing: it
// answers at once while another session holds every row.
TEST_F(ConnectionCheckTest, ReadsWithoutLocksAndChangesNothing) {
  AddBookings();
  const Rows rows_before = Query("SELECT * FROM KVSYSTEM.KVS321BEW ORDER BY BewTID");
  Exec("START TRANSACTION");
  Exec("SELECT * FROM KVSYSTEM.KVS321BEW FOR UPDATE");
  const auto start = std::chrono::steady_clock::now();
  ExpectCheck(TestDbUser(), TestDbPassword(), "localhost", kConnectionUsable,
              {"Buchungen   : 3 nicht uebergeben\n"});
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
  Exec("ROLLBACK");
  EXPECT_EQ(Query("SELECT * FROM KVSYSTEM.KVS321BEW ORDER BY BewTID"), rows_before);
}

}  // namespace
