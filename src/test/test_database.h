// Access to the throwaway test server that scripts/db_server.sh started, for
// tests that need the real database. The server's socket (HALVORN_DB_SOCKET)
// and, on Windows, which has no unix socket, its loopback port
// (HALVORN_DB_PORT) come from the environment; without them these tests fail,
// never skip.
#pragma once

#include <gtest/gtest.h>
#include <mysql.h>

#include <string>
#include <vector>

#include "db/batch_marking.h"
#include "db/booking_statements.h"
#include "db/db_connection.h"

// A result as texts; an SQL NULL reads "<NULL>".
using Rows = std::vector<std::vector<std::string>>;

// The account that owns KVSYSTEM (HALVORN_DB_USER, HALVORN_DB_PASSWORD).
std::string TestDbUser();
std::string TestDbPassword();

// The host the server sees for the program's connections to "localhost":
// "localhost" over the unix socket on POSIX, "127.0.0.1" over TCP on Windows.
std::string TestDbClientHost();

// How the client library describes a connection to "localhost" (its host
// information): over the unix socket on POSIX, over TCP on Windows.
std::string TestDbLocalhostConnection();

// Makes the program's own client calls (port 0, no socket, empty host) reach
// the test server by pointing the client library's default socket and port at
// it. Call before the first connection of the process.
void PointClientAtTestServer();

// A fixture with an administrative connection (root over the socket or TCP,
// character set latin1) and a freshly created, empty KVSYSTEM.KVS321BEW.
class DatabaseTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Runs sql; the test fails when the server refuses it.
  void Exec(const std::string& sql);
  // Runs a query and returns its rows.
  Rows Query(const std::string& sql);

  MYSQL* admin_ = nullptr;
};

// DatabaseTest plus the program's own connection db_, opened as the test
// account on KVSYSTEM by the default host, and a handle released at the end.
// Defined here in full, so that only tests using it need the db module.
class ConnectedDatabaseTest : public DatabaseTest {
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

  // Marks the row of record.keys on db_ the way a run does: the statement of
  // FormatMarkStatement through SQL_MarkBatch. Returns the marking's status;
  // -1 when the statement cannot be formatted.
  int MarkBooking(const MarkingForm& form, const BookingRecord& record) {
    std::string statement;
    if (!FormatMarkStatement(db_.mysql, form, record, statement)) return -1;
    BatchMarks marks;
    SQL_MarkBatch(db_, {statement}, marks);
    return marks.statuses.empty() ? -1 : marks.statuses[0];
  }

  DbConnection db_;
  StatementHandle handle_;
};
