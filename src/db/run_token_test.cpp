// Tests of the run's token and of causal reads against the test server, a
// single server: there causal reads are nothing, and the question about a
// token waits for a transaction that still holds it.
#include "db/run_token.h"

#include <gtest/gtest.h>

#include <string>

#include "db/causal_reads.h"
#include "test/test_database.h"

namespace {

class RunTokenTest : public ConnectedDatabaseTest {
 protected:
  int Run(DbConnection& db, const std::string& text) {
    StatementHandle statement;
    statement.text = text;
    return SQL_Execute(db, statement);
  }

  std::string Count(const std::string& token) {
    return Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW_LAUF WHERE LaufID = '" + token +
                 "'")[0][0];
  }
};

TEST_F(RunTokenTest, TokensAreRandomHex) {
  const std::string token = NewRunToken();
  EXPECT_EQ(token.size(), 32u);
  EXPECT_EQ(token.find_first_not_of("0123456789ABCDEF"), std::string::npos) << token;
  EXPECT_NE(NewRunToken(), token);
}

// The writer's transaction ends one way or the other before the question;
// the question leaves no row of its own behind.
TEST_F(RunTokenTest, TheQuestionTellsWhetherTheWritersCommitWentThrough) {
  const struct {
    const char* end;  // how the writer's transaction ends
    int committed;
  } cases[] = {{"COMMIT", 1}, {"ROLLBACK", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.end);
    DbConnection writer;
    ASSERT_EQ(SQL_Connect(writer, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0);
    const std::string token = NewRunToken();
    bool written = false;
    ASSERT_EQ(SQL_WriteRunToken(writer, token, written), 0) << writer.last_error;
    EXPECT_TRUE(written);
    ASSERT_EQ(Run(writer, c.end), 0);
    SQL_Close(writer);
    int committed = -1;
    ASSERT_EQ(SQL_RunTokenCommitted(db_, token, committed), 0) << db_.last_error;
    EXPECT_EQ(committed, c.committed);
    EXPECT_EQ(Count(token), c.committed == 1 ? "1" : "0");
  }
}

// While the writer's transaction still holds its token, the question waits
// for it, up to the lock wait timeout: then the answer is unknown.
TEST_F(RunTokenTest, TheQuestionWaitsForATransactionThatHoldsTheToken) {
  DbConnection writer;
  ASSERT_EQ(SQL_Connect(writer, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0);
  const std::string token = NewRunToken();
  bool written = false;
  ASSERT_EQ(SQL_WriteRunToken(writer, token, written), 0);
  ASSERT_EQ(Run(db_, "SET SESSION innodb_lock_wait_timeout = 1"), 0);
  int committed = -1;
  EXPECT_EQ(SQL_RunTokenCommitted(db_, token, committed), 1205);
  ASSERT_EQ(Run(writer, "COMMIT"), 0);
  ASSERT_EQ(SQL_RunTokenCommitted(db_, token, committed), 0);
  EXPECT_EQ(committed, 1);
  SQL_Close(writer);
}

// Without the table the run goes on in its transaction, without a token (the
// next test's fixture creates the table again).
TEST_F(RunTokenTest, WithoutTheTableThereIsNoToken) {
  Exec("DROP TABLE KVSYSTEM.KVS321BEW_LAUF");
  ASSERT_EQ(Run(db_, "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 4"), 0);  // the run's markings
  bool written = true;
  const int status = SQL_WriteRunToken(db_, NewRunToken(), written);
  EXPECT_EQ(status, 1146);
  EXPECT_FALSE(written);
  EXPECT_EQ(SQL_TransactionIntact(db_, status), 1);
}

// A single server is no cluster node: nothing to set, nothing to wait for.
TEST_F(RunTokenTest, CausalReadsAreNothingOnASingleServer) {
  EXPECT_EQ(SQL_UseCausalReads(db_), 0);
  EXPECT_EQ(SQL_WaitForReadyNode(db_, 1), 0);
  DbConnection closed;
  EXPECT_EQ(SQL_WaitForReadyNode(closed, 1), -1);
}

}  // namespace
