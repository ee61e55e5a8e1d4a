// Tests of the connection and the result cursor against the test server.
#include "db/db_connection.h"

#include <errmsg.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/test_database.h"

namespace {

class DbConnectionTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(SQL_Connect(db_, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0)
        << db_.last_error;
  }
  void TearDown() override {
    SQL_FreeResult(handle_);
    SQL_Close(db_);
    DatabaseTest::TearDown();
  }

  // Runs text on handle_ and returns SQL_Execute's status.
  int Run(const std::string& text) {
    handle_.text = text;
    return SQL_Execute(db_, handle_);
  }

  // The first columns of the rows SQL_Fetch hands out until it stops, and its
  // final status.
  std::vector<std::string> FetchAll(int& final_status) {
    std::vector<std::string> values;
    MYSQL_ROW row = nullptr;
    while ((final_status = SQL_Fetch(db_, handle_, row)) == 0) values.push_back(row[0]);
    return values;
  }

  DbConnection db_;
  StatementHandle handle_;
};

// The fixture's connection reaches the server by the default host (the local
// socket); a host name makes the client library use TCP.
TEST_F(DbConnectionTest, ReachesServerByTcpWithTheDefaultPort) {
  DbConnection tcp;
  EXPECT_EQ(SQL_Connect(tcp, TestDbUser(), TestDbPassword(), "127.0.0.1", "KVSYSTEM"), 0)
      << tcp.last_error;
  EXPECT_NE(std::string(mysql_get_host_info(tcp.mysql)).find("TCP"), std::string::npos);
  SQL_Close(tcp);
  EXPECT_EQ(tcp.mysql, nullptr);
  SQL_Close(tcp);
}

TEST_F(DbConnectionTest, RefusedConnectionsGiveTheClientLibrarysNumberAndText) {
  DbConnection refused;
  EXPECT_EQ(SQL_Connect(refused, TestDbUser(), "wrong", "", "KVSYSTEM"), 1045);
  EXPECT_EQ(refused.last_errno, 1045);
  EXPECT_NE(refused.last_error.find("Access denied"), std::string::npos) << refused.last_error;
  EXPECT_EQ(refused.mysql, nullptr);

  // Nothing listens on this loopback address; the client library's port
  // default is the test server's port, which only 127.0.0.1 serves.
  DbConnection unreachable;
  const int status = SQL_Connect(unreachable, TestDbUser(), TestDbPassword(), "127.0.0.2", "");
  EXPECT_TRUE(status == CR_CONNECTION_ERROR || status == CR_CONN_HOST_ERROR) << status;
  EXPECT_EQ(unreachable.last_errno, status);
  EXPECT_NE(unreachable.last_error.find("127.0.0.2"), std::string::npos) << unreachable.last_error;
  StatementHandle handle;
  handle.text = "SELECT 1";
  EXPECT_EQ(SQL_Execute(unreachable, handle), CR_SERVER_GONE_ERROR);
}

TEST_F(DbConnectionTest, CursorStatuses) {
  // A statement without a result set.
  EXPECT_EQ(Run("SET @halvorn = 1"), 0);
  MYSQL_ROW row = nullptr;
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), -1);
  EXPECT_EQ(SQL_FreeResult(handle_), -1);

  // An empty result.
  EXPECT_EQ(Run("SELECT 1 FROM DUAL WHERE 1 = 0"), 0);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), kNoMoreRows);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), kNoMoreRows);

  // n rows, then 1032 for ever.
  EXPECT_EQ(Run("SELECT 'a' UNION ALL SELECT 'b' UNION ALL SELECT 'c'"), 0);
  int status = 0;
  EXPECT_EQ(FetchAll(status), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(status, kNoMoreRows);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), kNoMoreRows);
  EXPECT_EQ(db_.last_errno, 0);

  // Fetch and release after release.
  EXPECT_EQ(SQL_FreeResult(handle_), 0);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), -1);
  EXPECT_EQ(SQL_FreeResult(handle_), -1);
}

TEST_F(DbConnectionTest, FailedStatementsKeepTheHandlesResult) {
  ASSERT_EQ(Run("SELECT 'a' UNION ALL SELECT 'b'"), 0);
  MYSQL_ROW row = nullptr;
  ASSERT_EQ(SQL_Fetch(db_, handle_, row), 0);

  EXPECT_EQ(Run("SELEC 1"), 1064);
  EXPECT_EQ(db_.last_errno, 1064);
  EXPECT_NE(db_.last_error.find("syntax"), std::string::npos) << db_.last_error;

  // The error of the statement before must not end the fetching.
  int status = 0;
  EXPECT_EQ(FetchAll(status), std::vector<std::string>{"b"});
  EXPECT_EQ(status, kNoMoreRows);
}

TEST_F(DbConnectionTest, ExecutingReleasesTheHeldResultAndStartsAfresh) {
  ASSERT_EQ(Run("SELECT 'a' UNION ALL SELECT 'b' UNION ALL SELECT 'c'"), 0);
  MYSQL_ROW row = nullptr;
  ASSERT_EQ(SQL_Fetch(db_, handle_, row), 0);
  ASSERT_EQ(Run("SELECT 'x' UNION ALL SELECT 'y'"), 0);
  int status = 0;
  EXPECT_EQ(FetchAll(status), (std::vector<std::string>{"x", "y"}));
}

TEST_F(DbConnectionTest, ResultThatCannotBeStoredGivesMinusOne) {
  // The second row's subquery fails after the statement itself was accepted.
  EXPECT_EQ(Run("SELECT (SELECT 1 UNION ALL SELECT a) FROM (SELECT 1 a UNION ALL SELECT 2) t"), -1);
  EXPECT_EQ(db_.last_errno, 1242);
  MYSQL_ROW row = nullptr;
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), -1);
}

TEST_F(DbConnectionTest, ChangesBecomeVisibleOnlyWithTheCommit) {
  ASSERT_EQ(Run("INSERT INTO KVSYSTEM.KVS321BEW (BewIDN) VALUES ('first')"), 0);
  EXPECT_TRUE(Query("SELECT BewIDN FROM KVSYSTEM.KVS321BEW").empty());
  EXPECT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Query("SELECT BewIDN FROM KVSYSTEM.KVS321BEW"), (Rows{{"first"}}));

  // A commit the server cannot take (the connection was killed) fails, and
  // the change is lost.
  ASSERT_EQ(Run("INSERT INTO KVSYSTEM.KVS321BEW (BewIDN) VALUES ('second')"), 0);
  Exec("KILL CONNECTION " + std::to_string(mysql_thread_id(db_.mysql)));
  EXPECT_EQ(SQL_Commit(db_), 0);
  EXPECT_NE(db_.last_errno, 0);
  EXPECT_EQ(Query("SELECT BewIDN FROM KVSYSTEM.KVS321BEW"), (Rows{{"first"}}));
}

}  // namespace
