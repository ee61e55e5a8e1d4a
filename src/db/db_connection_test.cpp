// Tests of the connection and the result cursor against the test server.
#include "db/db_connection.h"

#include <errmsg.h>
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/test_database.h"

namespace {

// The longest wait a run asks the server for itself (the run guard's).
constexpr int kEndingWait = 60;

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

// Each TLS word against the TLS test server and the server without TLS, over
// TCP on the port of the options: encrypted as asked, or refused with 2026
// (an authority that did not sign the certificate, a name it does not carry,
// no authority's file, a server without TLS). A plaintext login is refused
// by require_secure_transport, as the account's password would be.
TEST(DbConnectTlsTest, EachTlsWordAgainstServersWithAndWithoutTls) {
  const TlsTestServer tls = TestTlsServer();
  ASSERT_FALSE(HasFailure());
  enum { kOff, kRequired, kVerify };
  struct Case {
    unsigned port;
    const char* host;
    int mode;
    std::string ca;
    int status;
  };
  const Case cases[] = {
      {tls.port, "127.0.0.1", kOff, "", 1045},
      {tls.port, "127.0.0.1", kRequired, "", 0},
      {tls.port, "127.0.0.2", kRequired, "", 0},
      {tls.port, "127.0.0.1", kVerify, tls.ca, 0},
      {tls.port, "127.0.0.1", kVerify, tls.other_ca, CR_SSL_CONNECTION_ERROR},
      {tls.port, "127.0.0.2", kVerify, tls.ca, CR_SSL_CONNECTION_ERROR},
      {tls.port, "127.0.0.1", kVerify, tls.ca + ".missing", CR_SSL_CONNECTION_ERROR},
      {TestDbPort(), "127.0.0.1", kOff, "", 0},
      {TestDbPort(), "127.0.0.1", kRequired, "", CR_SSL_CONNECTION_ERROR},
      {TestDbPort(), "127.0.0.1", kVerify, tls.ca, CR_SSL_CONNECTION_ERROR},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.port) + " " + c.host + " " + std::to_string(c.mode) + " " + c.ca);
    DbConnection db;
    db.options.port = c.port;
    db.options.tls = c.mode != kOff;
    db.options.tls_verify = c.mode == kVerify;
    db.options.tls_ca = c.ca;
    EXPECT_EQ(SQL_Connect(db, TestDbUser(), TestDbPassword(), c.host, "KVSYSTEM"), c.status)
        << db.last_error;
    if (c.status == 0 && db.mysql != nullptr) {
      EXPECT_EQ(mysql_get_ssl_cipher(db.mysql) != nullptr, c.mode != kOff);
    } else if (c.status != 0) {
      EXPECT_EQ(db.mysql, nullptr);
    }
    if (c.port == TestDbPort() && c.mode == kRequired) {
      EXPECT_EQ(db.last_error, kNoTlsText);
    }
    SQL_Close(db);
  }
}

// The read timeout outlasts the longer of the caller's own wait and the
// server's innodb_lock_wait_timeout, read from the server: when the first
// guess falls short, a second connection is made with the longer one.
TEST_F(DbConnectionTest, TimeoutsOutlastTheLongestWait) {
  struct Case {
    int lock_wait;
    int longest_wait;
    int read_timeout;
    int connections;
  };
  const Case cases[] = {{1, kEndingWait, 90, 1},
                        {50, kEndingWait, 90, 1},
                        {200, kEndingWait, 230, 2},
                        {200, 0, 230, 2},
                        {1, 0, 80, 1},
                        {1073741824, 0, kMaxReadTimeout, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.lock_wait);
    Exec("SET GLOBAL innodb_lock_wait_timeout = " + std::to_string(c.lock_wait));
    const int before = std::stoi(Query("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1]);
    DbConnection db;
    db.options.longest_wait = c.longest_wait;
    ASSERT_EQ(SQL_Connect(db, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0);
    EXPECT_EQ(db.read_timeout, c.read_timeout);
    EXPECT_EQ(std::stoi(Query("SHOW GLOBAL STATUS LIKE 'Connections'")[0][1]) - before,
              c.connections);
    unsigned read = 0, write = 0, connect = 0;
    mysql_get_option(db.mysql, MYSQL_OPT_READ_TIMEOUT, &read);
    mysql_get_option(db.mysql, MYSQL_OPT_WRITE_TIMEOUT, &write);
    mysql_get_option(db.mysql, MYSQL_OPT_CONNECT_TIMEOUT, &connect);
    EXPECT_EQ(read, static_cast<unsigned>(c.read_timeout));
    EXPECT_EQ(write, static_cast<unsigned>(c.read_timeout));
    EXPECT_EQ(connect, static_cast<unsigned>(kConnectTimeout));
    SQL_Close(db);
  }
  Exec("SET GLOBAL innodb_lock_wait_timeout = 50");
}

// No automatic reconnect: after the connection was killed, every statement
// fails; a reconnect would run the rest in autocommit mode.
TEST_F(DbConnectionTest, KilledConnectionStaysLost) {
  Exec("KILL CONNECTION " + std::to_string(mysql_thread_id(db_.mysql)));
  EXPECT_NE(Run("SELECT 1"), 0);
  EXPECT_EQ(Run("SELECT 1"), CR_SERVER_GONE_ERROR);
  EXPECT_EQ(Run("INSERT INTO KVSYSTEM.KVS321BEW (BewIDN) VALUES ('after')"), CR_SERVER_GONE_ERROR);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW"), (Rows{{"0"}}));
}

// An ed25519 account, the login MariaDB recommends: the client library has
// its plugin (loaded on Linux, built in on Windows).
TEST_F(DbConnectionTest, Ed25519AccountConnects) {
  if (Query("SELECT COUNT(*) FROM information_schema.PLUGINS WHERE PLUGIN_NAME = 'ed25519'") ==
      Rows{{"0"}}) {
    Exec("INSTALL SONAME 'auth_ed25519'");
  }
  const std::string account = "'halvorn_ed'@'" + TestDbClientHost() + "'";
  Exec("DROP USER IF EXISTS " + account);
  Exec("CREATE USER " + account + " IDENTIFIED VIA ed25519 USING PASSWORD('Kurve-25519')");
  Exec("GRANT SELECT ON KVSYSTEM.* TO " + account);
  DbConnection ed;
  EXPECT_EQ(SQL_Connect(ed, "halvorn_ed", "Kurve-25519", "", "KVSYSTEM"), 0) << ed.last_error;
  EXPECT_EQ(SQL_Connect(ed, "halvorn_ed", "falsch", "", "KVSYSTEM"), 1045) << ed.last_error;
  SQL_Close(ed);
  Exec("DROP USER " + account);
}

}  // namespace
