// The one connection to the MySQL server and a thin statement layer over the
// MySQL C API: run a statement, keep its whole result, hand out its rows.
#pragma once

#include <mysql.h>

#include <cstdint>
#include <string>

#include "config/account.h"

// Status of SQL_Fetch when every row has been handed out.
constexpr int kNoMoreRows = 1032;

// The run's connection and the last error recorded on it.
struct DbConnection {
  MYSQL* mysql = nullptr;
  int last_errno = 0;
  std::string last_error;         // the client library's text for last_errno
  bool multi_statements = false;  // several statements may go in one text
};

// A statement text with its stored result and the rows handed out from it.
struct StatementHandle {
  std::string text;
  MYSQL_RES* result = nullptr;  // owned; released by SQL_FreeResult
  uint32_t rows_fetched = 0;
};

// Connects with the connection character set latin1 (Windows-1252), port 0
// and no socket (the client library's defaults; an empty host is its default
// host), then switches automatic commits off. Returns 0 or the client
// library's error number, with number and text recorded in db.
int SQL_Connect(DbConnection& db, const std::string& user, const std::string& password,
                const std::string& host, const std::string& database);

// The database every connection of the program opens.
extern const char kBookingDatabase[];  // "KVSYSTEM"

// Connects with the account as a run does: an account without a user name
// is refused before any connection is tried (the client library would log
// in as the operating-system user), with kAccountNoUser and
// kAccountNoUserText recorded in db; otherwise SQL_Connect with its user,
// password and host on KVSYSTEM. Returns 0, kAccountNoUser or the client
// library's error number.
int SQL_ConnectAccount(DbConnection& db, const Account& account);

// True when status is one of the client library's own error numbers (2000 to
// 2999): the server was not reached, or the connection broke.
bool SQL_IsClientError(int status);

// Sends handle.text and stores its whole result in the handle, releasing a
// result the handle still held. Returns 0; the error number when sending or
// running fails (the handle then keeps its result); -1 when storing failed.
int SQL_Execute(DbConnection& db, StatementHandle& handle);

// Hands out the next row of the handle's result in row. Returns 0; 1032 when
// every row has been handed out; -1 when the handle holds no result or the
// fetch itself fails. An earlier statement's error never turns into -1 here.
int SQL_Fetch(DbConnection& db, StatementHandle& handle, MYSQL_ROW& row);

// Releases the handle's result. Returns 0, or -1 when it holds none.
int SQL_FreeResult(StatementHandle& handle);

// Sends "COMMIT". Returns 1 when it succeeded and 0 when it failed.
int SQL_Commit(DbConnection& db);

// Runs a query whose answer is one value and puts that value's text in value
// ("" for NULL). Returns 0, 1032 when there is no row, or the query's status.
int SQL_QueryValue(DbConnection& db, const std::string& query, std::string& value);

// Runs the connection's transactions at READ COMMITTED, so that a run locks
// only the rows it changes and never the gaps where new bookings go. A server
// that binary-logs statements (binlog_format STATEMENT) refuses row changes at
// that level; its own level then stays. Returns 0 when set, 1 when the
// server's level stays for that reason, otherwise the failed statement's status.
int SQL_UseReadCommitted(DbConnection& db);

// After a statement failed with failed_status: 1 when the run's transaction
// is still open on the server (only the statement was undone), 0 when the
// connection is gone or the server rolled the whole transaction back.
int SQL_TransactionIntact(DbConnection& db, int failed_status);

// Closes the connection (mysql_close); harmless when it is not open.
void SQL_Close(DbConnection& db);
