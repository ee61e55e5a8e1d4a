// Batched markings against the test server, and which failures cost the run
// its whole transaction: found out here, not assumed.
#include "db/batch_marking.h"

#include <gtest/gtest.h>

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
  EXPECT_EQ(marks_.rows[1000], 0u);  // and is no longer changed
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

}  // namespace
