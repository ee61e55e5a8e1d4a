// The session a run sets up, against the test server: which sql_modes change
// what the run's statements make of tricky rows (found out here, not
// assumed), and the refusal of a connection that is not latin1.
#include "db/session_setup.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>

#include "db/booking_statements.h"
#include "test/test_database.h"

namespace {

class SessionSetupTest : public ConnectedDatabaseTest {
 protected:
  // Per pending booking its keys as read and the rows its marking found (or
  // its error), under the session's sql_mode; rolled back.
  std::string Outcome() {
    MarkingForm form;
    SQL_ReadMarkingForm(db_, form);
    std::string outcome;
    EXPECT_EQ(SQL_SelectBookings(db_, handle_, form), 0) << db_.last_error;
    BookingRecord record;
    while (SQL_FetchBooking(db_, handle_, record) == 0) {
      for (const RowKey& key : record.keys) outcome += (key.is_null ? "NULL" : key.text) + ",";
      const int status = MarkBooking(form, record);
      outcome += std::to_string(status == 0 ? mysql_affected_rows(db_.mysql) : status) + "\n";
    }
    SQL_CloseBookings(handle_);
    EXPECT_EQ(mysql_query(db_.mysql, "ROLLBACK"), 0);
    return outcome;
  }
  void Set(const std::string& assignment) {
    ASSERT_EQ(mysql_query(db_.mysql, ("SET " + assignment).c_str()), 0) << assignment;
  }
};

TEST_F(SessionSetupTest, ModesThatChangeTheStatementsAreSwitchedOff) {
  // Texts that are no dates, zero and invalid dates, a fraction, empty keys,
  // a CHAR key of a collation without padding, a quote and a backslash.
  Exec(
      "ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewIDN CHAR(10) COLLATE latin1_nopad_bin, "
      "MODIFY BewDtm VARCHAR(20), MODIFY BewUhr VARCHAR(30)");
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn) VALUES "
      "('A', 'S', '2026-12-08', '2026-12-08 07:00:00', '1'), ('A', 'S', '08.12.2026', '', '1'),"
      "('A', 'S', 'abc', '08.12.2026 07:00', '2'), ('A', 'S', '', 'abc', '3'),"
      "('A', 'S', '0000-00-00', '0000-00-00 00:00:00', '4'),"
      "('A', 'S', '2026-02-30', '2026-01-00 08:00:00', '5'),"
      "('A', 'S', '2026-12-08', '2026-12-08 07:00:00.7', '6'),"
      "('', '', '2026-12-08', '2026-12-08 07:00:00', ''),"
      "('O\\'B\\\\', 'S', '2026-12-08', '2026-12-08 07:00:00', '1')");
  Set("sql_mode = ''");
  const std::string plain = Outcome();
  std::string changing;
  // Every sql_mode of the server, the combinations included.
  std::istringstream modes(
      "REAL_AS_FLOAT PIPES_AS_CONCAT ANSI_QUOTES IGNORE_SPACE IGNORE_BAD_TABLE_OPTIONS "
      "ONLY_FULL_GROUP_BY NO_UNSIGNED_SUBTRACTION NO_DIR_IN_CREATE POSTGRESQL ORACLE MSSQL DB2 "
      "MAXDB NO_KEY_OPTIONS NO_TABLE_OPTIONS NO_FIELD_OPTIONS MYSQL323 MYSQL40 ANSI "
      "NO_AUTO_VALUE_ON_ZERO NO_BACKSLASH_ESCAPES STRICT_TRANS_TABLES STRICT_ALL_TABLES "
      "NO_ZERO_IN_DATE NO_ZERO_DATE ALLOW_INVALID_DATES ERROR_FOR_DIVISION_BY_ZERO TRADITIONAL "
      "NO_AUTO_CREATE_USER HIGH_NOT_PRECEDENCE NO_ENGINE_SUBSTITUTION PAD_CHAR_TO_FULL_LENGTH "
      "EMPTY_STRING_IS_NULL SIMULTANEOUS_ASSIGNMENT TIME_ROUND_FRACTIONAL");
  for (std::string mode; modes >> mode;) {
    Set("sql_mode = '" + mode + "'");
    if (Outcome() != plain) changing += mode + " ";
  }
  EXPECT_EQ(changing,
            "STRICT_TRANS_TABLES STRICT_ALL_TABLES TRADITIONAL PAD_CHAR_TO_FULL_LENGTH "
            "EMPTY_STRING_IS_NULL ");
  // Set up from all of them at once, the session behaves as with none.
  Set("sql_mode = 'TRADITIONAL,STRICT_ALL_TABLES,PAD_CHAR_TO_FULL_LENGTH,EMPTY_STRING_IS_NULL'");
  ASSERT_EQ(SQL_SetUpSession(db_), 0) << db_.last_error;
  EXPECT_EQ(Outcome(), plain);

  // A connection that is not latin1 on every side is refused.
  for (const char* other : {"character_set_client = utf8mb4", "character_set_connection = cp1250",
                            "character_set_results = NULL"}) {
    ASSERT_EQ(SQL_SetUpSession(db_), 0) << db_.last_error;
    Set(other);
    EXPECT_EQ(SQL_CheckSessionLatin1(db_), kSessionNotLatin1) << other;
  }
  EXPECT_EQ(db_.last_error,
            "Zeichensatz der Verbindung ist nicht latin1: character_set_client latin1, "
            "character_set_connection latin1, character_set_results NULL");
}

}  // namespace
