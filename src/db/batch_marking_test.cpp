// Batched markings against the test server, and which failures cost the run
// its whole transaction: found out here, not assumed.
#include "db/batch_marking.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "test/test_database.h"

namespace {

class BatchMarkingTest : public ConnectedDatabaseTest {
 protected:
  void SetUp() override {
    ConnectedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    std::string values;
    for (const char* id : {"A", "B", "C", "D", "E"}) {
      values += std::string(values.empty() ? "" : ",") + "('" + id + "', '1')";
    }
    Exec("INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewLfn) VALUES " + values);
  }

  static std::string Mark(const std::string& id) {
    return "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 4 WHERE BewIDN = '" + id + "'";
  }

  // The committed marks, as the ids of the marked bookings.
  std::string Marked() {
    const Rows rows = Query(
        "SELECT IFNULL(GROUP_CONCAT(BewIDN ORDER BY BewIDN SEPARATOR ''), '') "
        "FROM KVSYSTEM.KVS321BEW WHERE BewUkz = 4");
    return rows.empty() ? "?" : rows[0][0];
  }

  // A value read on the program's own connection, inside its transaction.
  std::string OwnValue(const std::string& sql) {
    std::string value = "?";
    EXPECT_EQ(SQL_QueryValue(db_, sql, value), 0) << db_.last_error;
    return value;
  }

  BatchMarks marks_;
};

TEST_F(BatchMarkingTest, EveryStatementGetsItsOwnStatusAcrossRoundTrips) {
  // Enough statements for several round trips; each matches one row or none.
  std::vector<std::string> statements;
  for (int i = 0; i < 3000; ++i) statements.push_back(Mark(i % 1000 == 0 ? "B" : "none"));
  statements.push_back(Mark("D") + " AND BewLfn = '1'");
  SQL_MarkBatch(db_, statements, marks_);
  EXPECT_FALSE(marks_.transaction_lost);
  ASSERT_EQ(marks_.statuses, std::vector<int>(statements.size(), 0));
  EXPECT_EQ(marks_.rows[0], 1u);     // B is marked by the first statement
  EXPECT_EQ(marks_.rows[1000], 1u);  // and found again: found rows, not changed ones
  EXPECT_EQ(marks_.rows[1], 0u);
  EXPECT_EQ(marks_.rows.back(), 1u);
  EXPECT_EQ(Marked(), "");  // nothing shows before the commit
  ASSERT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Marked(), "BD");
}

// A trigger's refusal (1644) undoes its statement only; the statements after
// it still run and the transaction keeps the ones before.
TEST_F(BatchMarkingTest, RefusedStatementFailsAloneAndTheRestRuns) {
  Exec(
      "CREATE TRIGGER KVSYSTEM.KVS321BEW_REFUSE BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "IF NEW.BewIDN IN ('B', 'D') THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; "
      "END IF");
  SQL_MarkBatch(db_, {Mark("A"), Mark("B"), Mark("C"), Mark("D"), Mark("E")}, marks_);
  EXPECT_FALSE(marks_.transaction_lost);
  EXPECT_EQ(marks_.statuses, (std::vector<int>{0, 1644, 0, 1644, 0}));
  EXPECT_EQ(marks_.rows, (std::vector<unsigned long long>{1, 0, 1, 0, 1}));
  EXPECT_EQ(db_.last_errno, 1644);
  ASSERT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Marked(), "ACE");
}

// A lock wait timeout undoes only the waiting statement (the server's default
// innodb_rollback_on_timeout=OFF).
TEST_F(BatchMarkingTest, LockWaitTimeoutFailsAlone) {
  Exec("SET SESSION innodb_lock_wait_timeout = 1");
  StatementHandle wait;
  wait.text = "SET SESSION innodb_lock_wait_timeout = 1";
  ASSERT_EQ(SQL_Execute(db_, wait), 0);
  ASSERT_EQ(Query("SELECT @@innodb_rollback_on_timeout"), (Rows{{"0"}}));
  Exec("START TRANSACTION");
  Exec("SELECT * FROM KVSYSTEM.KVS321BEW WHERE BewIDN = 'C' FOR UPDATE");
  SQL_MarkBatch(db_, {Mark("A"), Mark("C"), Mark("E")}, marks_);
  Exec("ROLLBACK");
  EXPECT_FALSE(marks_.transaction_lost);
  EXPECT_EQ(marks_.statuses, (std::vector<int>{0, 1205, 0}));
  ASSERT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Marked(), "AE");
}

// The deadlock victim's whole transaction is rolled back: its earlier
// markings are gone, and the batch ends there.
TEST_F(BatchMarkingTest, DeadlockVictimLosesTheTransaction) {
  SQL_MarkBatch(db_, {Mark("A")}, marks_);
  ASSERT_EQ(marks_.statuses, std::vector<int>{0});
  // The other transaction holds more locks, so the server picks ours as victim.
  Exec("START TRANSACTION");
  Exec("UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 1 WHERE BewIDN IN ('B', 'C', 'D')");
  std::thread other([this] {
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    Exec("UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 1 WHERE BewIDN = 'A'");  // waits for ours
  });
  SQL_MarkBatch(db_, {Mark("B"), Mark("E")}, marks_);  // waits for the other: deadlock
  other.join();
  Exec("ROLLBACK");
  EXPECT_TRUE(marks_.transaction_lost);
  EXPECT_EQ(marks_.statuses, std::vector<int>{1213});
  EXPECT_NE(marks_.lost_error.find("Deadlock"), std::string::npos) << marks_.lost_error;
  // Committing now would commit an empty transaction: the marking of A is gone.
  ASSERT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Marked(), "");
}

TEST_F(BatchMarkingTest, KilledConnectionLosesTheTransaction) {
  SQL_MarkBatch(db_, {Mark("A")}, marks_);
  ASSERT_EQ(marks_.statuses, std::vector<int>{0});
  Exec("KILL CONNECTION " + std::to_string(mysql_thread_id(db_.mysql)));
  SQL_MarkBatch(db_, {Mark("B"), Mark("C")}, marks_);
  EXPECT_TRUE(marks_.transaction_lost);
  ASSERT_EQ(marks_.statuses.size(), 1u);
  EXPECT_GT(marks_.statuses[0], 0);
  EXPECT_FALSE(marks_.lost_error.empty());
  EXPECT_EQ(Marked(), "");
}

// A refusal that is no booking's own (no privilege, a read-only server) would
// meet every marking: it ends the batch as a lost transaction does, while a
// refusal of one booking (above) does not.
TEST_F(BatchMarkingTest, RefusalOfEveryMarkingEndsTheBatch) {
  struct Case {
    const char* grants;  // of the marking account; empty: the test account
    bool read_only;
    int status;
  };
  const Case cases[] = {
      {"SELECT", false, 1142},
      {"SELECT, UPDATE (BewUdt)", false, 1143},
      {"", true, 1290},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.status);
    DbConnection db;
    if (*c.grants != 0) {
      Exec("CREATE OR REPLACE USER 'halvorn_limited'@'%' IDENTIFIED BY 'begrenzt'");
      Exec("CREATE OR REPLACE USER 'halvorn_limited'@'localhost' IDENTIFIED BY 'begrenzt'");
      for (const char* host : {"%", "localhost"}) {
        Exec(std::string("GRANT ") + c.grants + " ON KVSYSTEM.KVS321BEW TO 'halvorn_limited'@'" +
             host + "'");
      }
      ASSERT_EQ(SQL_Connect(db, "halvorn_limited", "begrenzt", "", "KVSYSTEM"), 0) << db.last_error;
    } else {
      ASSERT_EQ(SQL_Connect(db, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0);
    }
    if (c.read_only) Exec("SET GLOBAL read_only = 1");
    SQL_MarkBatch(db, {Mark("A"), Mark("B")}, marks_);
    if (c.read_only) Exec("SET GLOBAL read_only = 0");
    SQL_Close(db);
    EXPECT_TRUE(marks_.transaction_lost);
    EXPECT_EQ(marks_.statuses, std::vector<int>{c.status});
    EXPECT_FALSE(marks_.lost_error.empty());
  }
  Exec("DROP USER IF EXISTS 'halvorn_limited'@'%', 'halvorn_limited'@'localhost'");
  EXPECT_EQ(Marked(), "");
}

// The batch's list of keys gives each booking the status and the found rows
// (none or some) that its own statement gives it, and the table the same
// marks: when every booking's row is found one UPDATE does it all; a refused
// row in the middle, a row another transaction holds until the lock wait
// times out, a booking not found and a transferred twin that the list would
// count for it each send the batch one booking at a time.
TEST_F(BatchMarkingTest, ListOfKeysMarksLikeEachBookingAlone) {
  Exec("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED");
  StatementHandle wait;
  wait.text = "SET SESSION innodb_lock_wait_timeout = 1";
  ASSERT_EQ(SQL_Execute(db_, wait), 0);
  Exec(
      "UPDATE KVSYSTEM.KVS321BEW SET BewSto = 'S', BewDtm = '2024-01-05', "
      "BewUhr = '2024-01-05 08:00:00'");
  struct Case {
    const char* ids;      // the bookings of the batch; Z has no row
    const char* refused;  // the booking a trigger refuses, or ""
    const char* held;     // the booking another transaction holds, or ""
    bool twin;            // C has a transferred twin
    int updates;          // UPDATE statements the list form sends
  };
  const Case cases[] = {
      // The refusal and the lock wait add the marking of no row that tells
      // the failure is C's own.
      {"ABCDE", "", "", false, 1}, {"ABCDE", "C", "", false, 7}, {"ABCDE", "", "C", false, 7},
      {"ABZDE", "", "", false, 6}, {"ABCDE", "", "", true, 6},   {"E", "", "", false, 1},
  };
  const char kMarkedRows[] = "SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUkz = 4";
  const char kUpdates[] =
      "SELECT VARIABLE_VALUE FROM information_schema.SESSION_STATUS WHERE VARIABLE_NAME = "
      "'COM_UPDATE'";
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.ids) + " refused " + c.refused + " held " + c.held +
                 (c.twin ? " twin" : ""));
    if (c.twin) {
      Exec(
          "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewUkz) "
          "VALUES ('C', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', 4)");
    }
    if (*c.refused != '\0') {
      Exec(std::string("CREATE TRIGGER KVSYSTEM.KVS321BEW_REFUSE BEFORE UPDATE ON "
                       "KVSYSTEM.KVS321BEW FOR EACH ROW IF NEW.BewIDN = '") +
           c.refused + "' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
    }
    if (*c.held != '\0') {
      Exec("START TRANSACTION");
      Exec(std::string("SELECT * FROM KVSYSTEM.KVS321BEW WHERE BewIDN = '") + c.held +
           "' FOR UPDATE");
    }
    std::vector<std::string> statements, tuples;
    for (const char* id = c.ids; *id != '\0'; ++id) {
      statements.push_back(Mark(std::string(1, *id)) + " AND BewSto = 'S'");
      tuples.push_back(std::string("('") + *id +
                       "', 'S', DATE'2024-01-05', TIMESTAMP'2024-01-05 08:00:00', '1')");
    }
    BatchMarks alone;
    SQL_MarkBatch(db_, statements, alone);
    const std::string alone_marked = OwnValue(kMarkedRows);
    ASSERT_EQ(mysql_query(db_.mysql, "ROLLBACK"), 0);
    const std::string before = OwnValue(kUpdates);
    SQL_MarkBatchByKeys(db_, statements, tuples, marks_);
    const std::string after = OwnValue(kUpdates);
    if (*c.held != '\0') {
      Exec("ROLLBACK");
      EXPECT_NE(std::count(alone.statuses.begin(), alone.statuses.end(), 1205), 0);
    }
    EXPECT_FALSE(marks_.transaction_lost);
    EXPECT_EQ(marks_.statuses, alone.statuses);
    ASSERT_EQ(marks_.rows.size(), alone.rows.size());
    for (size_t i = 0; i < alone.rows.size(); ++i) {
      EXPECT_EQ(marks_.rows[i] > 0, alone.rows[i] > 0) << i;
    }
    EXPECT_EQ(OwnValue(kMarkedRows), alone_marked);
    ASSERT_EQ(mysql_query(db_.mysql, "ROLLBACK"), 0);
    EXPECT_EQ(std::stoi(after) - std::stoi(before), c.updates);
    Exec("DROP TRIGGER IF EXISTS KVSYSTEM.KVS321BEW_REFUSE");
    Exec("DELETE FROM KVSYSTEM.KVS321BEW WHERE BewUkz = 4");
  }
}

}  // namespace
