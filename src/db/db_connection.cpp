// The connection to the MySQL server and the statement layer over the MySQL
// C API: every result is stored whole on the client and handed out row by row.
#include "db/db_connection.h"

#include <errmsg.h>

#include <cstring>

namespace {

// Keeps the client library's number and text for the connection's last call.
void RecordFailure(DbConnection& db) {
  db.last_errno = static_cast<int>(mysql_errno(db.mysql));
  db.last_error = mysql_error(db.mysql);
}

void RecordSuccess(DbConnection& db) {
  db.last_errno = 0;
  db.last_error.clear();
}

}  // namespace

const char kBookingDatabase[] = "KVSYSTEM";

int SQL_Connect(DbConnection& db, const std::string& user, const std::string& password,
                const std::string& host, const std::string& database) {
  SQL_Close(db);
  db.mysql = mysql_init(nullptr);
  if (db.mysql == nullptr) {
    db.last_errno = CR_OUT_OF_MEMORY;
    db.last_error = "no memory for the connection";
    return db.last_errno;
  }
  // The receiving system takes Windows-1252, which the server calls latin1.
  mysql_options(db.mysql, MYSQL_SET_CHARSET_NAME, "latin1");
  // Without a host the client library picks its default: the local server.
  const char* host_name = host.empty() ? nullptr : host.c_str();
  if (mysql_real_connect(db.mysql, host_name, user.c_str(), password.c_str(), database.c_str(), 0,
                         nullptr, 0) == nullptr) {
    RecordFailure(db);
    SQL_Close(db);
    return db.last_errno;
  }
  db.multi_statements = false;
  // Every change of the run belongs to one transaction. A refusal is not
  // reported: the connection then keeps the server's commit mode.
  StatementHandle autocommit;
  autocommit.text = "SET AUTOCOMMIT = 0";
  SQL_Execute(db, autocommit);
  return 0;
}

int SQL_ConnectAccount(DbConnection& db, const Account& account) {
  if (account.login.empty()) {
    SQL_Close(db);
    db.last_errno = kAccountNoUser;
    db.last_error = kAccountNoUserText;
    return kAccountNoUser;
  }
  return SQL_Connect(db, account.login, account.password, account.host, kBookingDatabase);
}

bool SQL_IsClientError(int status) { return status >= CR_MIN_ERROR && status <= CR_MAX_ERROR; }

int SQL_Execute(DbConnection& db, StatementHandle& handle) {
  if (db.mysql == nullptr) {
    db.last_errno = CR_SERVER_GONE_ERROR;
    db.last_error = "not connected to the server";
    return db.last_errno;
  }
  if (mysql_real_query(db.mysql, handle.text.data(), handle.text.size()) != 0) {
    RecordFailure(db);
    return db.last_errno;
  }
  SQL_FreeResult(handle);
  handle.result = mysql_store_result(db.mysql);
  if (mysql_errno(db.mysql) != 0) {
    RecordFailure(db);
    SQL_FreeResult(handle);
    return -1;
  }
  RecordSuccess(db);
  handle.rows_fetched = 0;
  return 0;
}

int SQL_Fetch(DbConnection& db, StatementHandle& handle, MYSQL_ROW& row) {
  if (handle.result == nullptr) return -1;
  if (static_cast<uint64_t>(handle.rows_fetched) >= mysql_num_rows(handle.result)) {
    return kNoMoreRows;
  }
  // Fetching from a stored result does not touch the connection, so
  // mysql_errno would still tell the error of the last statement sent (a
  // marking, say). Only a row missing before the count is reached is a
  // failure of this fetch.
  row = mysql_fetch_row(handle.result);
  if (row == nullptr) {
    db.last_errno = -1;
    db.last_error = "the stored result holds fewer rows than it counts";
    return -1;
  }
  RecordSuccess(db);
  ++handle.rows_fetched;
  return 0;
}

int SQL_FreeResult(StatementHandle& handle) {
  if (handle.result == nullptr) return -1;
  mysql_free_result(handle.result);
  handle.result = nullptr;
  handle.rows_fetched = 0;
  return 0;
}

int SQL_Commit(DbConnection& db) {
  StatementHandle commit;
  commit.text = "COMMIT";
  return SQL_Execute(db, commit) == 0 ? 1 : 0;
}

int SQL_QueryValue(DbConnection& db, const std::string& query, std::string& value) {
  StatementHandle handle;
  handle.text = query;
  int status = SQL_Execute(db, handle);
  if (status != 0) return status;
  MYSQL_ROW row = nullptr;
  status = SQL_Fetch(db, handle, row);
  if (status == 0) value = row[0] != nullptr ? row[0] : "";
  SQL_FreeResult(handle);
  return status;
}

int SQL_UseReadCommitted(DbConnection& db) {
  std::string statement_logging;
  if (SQL_QueryValue(db, "SELECT @@log_bin AND @@sql_log_bin AND @@binlog_format = 'STATEMENT'",
                     statement_logging) == 0 &&
      statement_logging == "1") {
    return 1;
  }
  StatementHandle level;
  level.text = "SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED";
  return SQL_Execute(db, level);
}

int SQL_TransactionIntact(DbConnection& db, int failed_status) {
  // The client library's own numbers: the connection is gone.
  if (SQL_IsClientError(failed_status)) return 0;
  std::string in_transaction;
  const int status = SQL_QueryValue(db, "SELECT @@in_transaction", in_transaction);
  if (status == 0) return in_transaction == "1" ? 1 : 0;
  if (status != 1193) return 0;  // not even a query goes through any more
  // A server without @@in_transaction (unknown variable 1193): InnoDB rolls
  // the whole transaction back for a deadlock, and for a lock wait timeout
  // when it is set up to.
  if (failed_status == 1213) return 0;
  if (failed_status != 1205) return 1;
  std::string whole;
  return SQL_QueryValue(db, "SELECT @@innodb_rollback_on_timeout", whole) == 0 && whole == "0" ? 1
                                                                                               : 0;
}

void SQL_Close(DbConnection& db) {
  if (db.mysql == nullptr) return;
  mysql_close(db.mysql);
  db.mysql = nullptr;
}
