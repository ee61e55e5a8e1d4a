// Tests of the connection and the result cursor against the test server.
#include "db/db_connection.h"

#include <errmsg.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/test_database.h"

namespace {

class DbConnectionTest : public ConnectedDatabaseTest {
 protected:
  // Runs text on handle_ and returns SQL_Execute's status.
  int Run(const std::string& text) {
    handle_.text = text;
    return SQL_Execute(db_, handle_);
  }
};

// The fixture reaches the server by the default host (the local socket); a
// host name makes the client library use TCP with its default port.
TEST_F(DbConnectionTest, ConnectsOrGivesTheClientLibrarysNumberAndText) {
  DbConnection tcp, refused, unreachable;
  ASSERT_EQ(SQL_Connect(tcp, TestDbUser(), TestDbPassword(), "127.0.0.1", "KVSYSTEM"), 0)
      << tcp.last_error;
  EXPECT_NE(std::string(mysql_get_host_info(tcp.mysql)).find("TCP"), std::string::npos);
  SQL_Close(tcp);
  EXPECT_EQ(tcp.mysql, nullptr);
  SQL_Close(tcp);

  EXPECT_EQ(SQL_Connect(refused, TestDbUser(), "wrong", "", "KVSYSTEM"), 1045);
  EXPECT_EQ(refused.last_errno, 1045);
  EXPECT_NE(refused.last_error.find("Access denied"), std::string::npos) << refused.last_error;
  EXPECT_EQ(refused.mysql, nullptr);

  // Nothing listens on this loopback address at the test server's port.
  const int status = SQL_Connect(unreachable, TestDbUser(), TestDbPassword(), "127.0.0.2", "");
  EXPECT_TRUE(status == CR_CONNECTION_ERROR || status == CR_CONN_HOST_ERROR) << status;
  EXPECT_EQ(unreachable.last_errno, status);
  EXPECT_NE(unreachable.last_error.find("127.0.0.2"), std::string::npos) << unreachable.last_error;
  StatementHandle handle;
  handle.text = "SELECT 1";
  EXPECT_EQ(SQL_Execute(unreachable, handle), CR_SERVER_GONE_ERROR);
}

// The account's user, password and host, on KVSYSTEM; an account without a
// user name is refused with the program's own reason, not the server's.
TEST_F(DbConnectionTest, ConnectsWithTheAccountAsARunDoes) {
  struct Case {
    const char* login;  // nullptr: the test account
    const char* password;
    int status;
    const char* error;  // part of the recorded text
  };
  const Case cases[] = {
      {"", nullptr, kAccountNoUser, "Kein Benutzername in der Einstellungsdatei"},
      {nullptr, nullptr, 0, ""},
      {nullptr, "wrong", 1045, "Access denied"},
  };
  for (const Case& c : cases) {
    Account account;
    account.login = c.login != nullptr ? c.login : TestDbUser();
    account.password = c.password != nullptr ? c.password : TestDbPassword();
    DbConnection db;
    EXPECT_EQ(SQL_ConnectAccount(db, account), c.status) << db.last_error;
    EXPECT_EQ(db.last_errno, c.status);
    EXPECT_NE(db.last_error.find(c.error), std::string::npos) << db.last_error;
    EXPECT_EQ(db.mysql != nullptr, c.status == 0);
    std::string database;
    if (db.mysql != nullptr) SQL_QueryValue(db, "SELECT DATABASE()", database);
    EXPECT_EQ(database, c.status == 0 ? "KVSYSTEM" : "");
    SQL_Close(db);
  }
  EXPECT_TRUE(SQL_IsClientError(CR_SERVER_GONE_ERROR));
  EXPECT_FALSE(SQL_IsClientError(1213));
}

TEST_F(DbConnectionTest, CursorStatuses) {
  // A statement without a result set: nothing to fetch or release.
  EXPECT_EQ(Run("SET @halvorn = 1"), 0);
  MYSQL_ROW row = nullptr;
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), -1);
  EXPECT_EQ(SQL_FreeResult(handle_), -1);

  EXPECT_EQ(Run("SELECT 1 FROM DUAL WHERE 1 = 0"), 0);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), kNoMoreRows);

  // Executing again releases the result held (the sanitizer run sees a leak
  // otherwise) and hands out the new one from its start.
  ASSERT_EQ(Run("SELECT 'a' UNION ALL SELECT 'b'"), 0);
  ASSERT_EQ(SQL_Fetch(db_, handle_, row), 0);
  ASSERT_EQ(Run("SELECT 'x' UNION ALL SELECT 'y' UNION ALL SELECT 'z'"), 0);
  ASSERT_EQ(SQL_Fetch(db_, handle_, row), 0);
  EXPECT_EQ(std::string(row[0]), "x");

  // A failed statement keeps the handle's result, and its error does not end
  // the fetching: the rows follow, then 1032 for ever.
  EXPECT_EQ(Run("SELEC 1"), 1064);
  EXPECT_EQ(db_.last_errno, 1064);
  EXPECT_NE(db_.last_error.find("syntax"), std::string::npos) << db_.last_error;
  std::vector<std::string> rest;
  int status;
  while ((status = SQL_Fetch(db_, handle_, row)) == 0) rest.push_back(row[0]);
  EXPECT_EQ(rest, (std::vector<std::string>{"y", "z"}));
  EXPECT_EQ(status, kNoMoreRows);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), kNoMoreRows);
  EXPECT_EQ(db_.last_errno, 0);

  // Fetch and release after release.
  EXPECT_EQ(SQL_FreeResult(handle_), 0);
  EXPECT_EQ(SQL_Fetch(db_, handle_, row), -1);
  EXPECT_EQ(SQL_FreeResult(handle_), -1);

  // The second row's subquery fails after the statement itself was accepted.
  EXPECT_EQ(Run("SELECT (SELECT 1 UNION ALL SELECT a) FROM (SELECT 1 a UNION ALL SELECT 2) t"), -1);
  EXPECT_EQ(db_.last_errno, 1242);
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
  EXPECT_EQ(Query("SELECT BewIDN FROM KVSYSTEM.KVS321BEW"), (Rows{{"first"}}));
}

// The run's transactions go at READ COMMITTED; a server that binary-logs
// statements would refuse its markings there, so its own level stays.
TEST_F(DbConnectionTest, ReadCommittedUnlessTheServerLogsStatements) {
  ASSERT_EQ(Query("SELECT @@log_bin"), (Rows{{"1"}})) << "the test server logs changes";
  Exec("INSERT INTO KVSYSTEM.KVS321BEW (BewIDN) VALUES ('a')");
  EXPECT_EQ(SQL_UseReadCommitted(db_), 0);
  EXPECT_EQ(Run("SELECT @@tx_isolation"), 0);
  MYSQL_ROW row = nullptr;
  ASSERT_EQ(SQL_Fetch(db_, handle_, row), 0);
  EXPECT_EQ(std::string(row[0]), "READ-COMMITTED");
  EXPECT_EQ(Run("UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 4"), 0);

  Exec("SET GLOBAL binlog_format = 'STATEMENT'");
  DbConnection logged, forced;
  ASSERT_EQ(SQL_Connect(logged, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0);
  ASSERT_EQ(SQL_Connect(forced, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0);
  Exec("SET GLOBAL binlog_format = 'MIXED'");
  EXPECT_EQ(SQL_UseReadCommitted(logged), 1);
  StatementHandle update;
  update.text = "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 3 WHERE BewIDN = 'b'";
  EXPECT_EQ(SQL_Execute(logged, update), 0) << logged.last_error;
  // What the run would meet at READ COMMITTED there.
  StatementHandle level;
  level.text = "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED";
  ASSERT_EQ(SQL_Execute(forced, level), 0);
  EXPECT_EQ(SQL_Execute(forced, update), 1665);
  SQL_Close(logged);
  SQL_Close(forced);
}

}  // namespace
