// Markings sent in batches over one connection with multi-statement texts.
#include "db/batch_marking.h"

#include <errmsg.h>

#include "db/booking_statements.h"

namespace {

constexpr size_t kRoundTripBytes = 256 * 1024;

// Lets the connection take several statements in one text. Returns 0 or the
// client library's error number.
int AllowMultiStatements(DbConnection& db) {
  if (db.multi_statements) return 0;
  if (mysql_set_server_option(db.mysql, MYSQL_OPTION_MULTI_STATEMENTS_ON) != 0) {
    return static_cast<int>(mysql_errno(db.mysql));
  }
  db.multi_statements = true;
  return 0;
}

// Records a failed statement: its status, and whether the run can go on. It
// cannot when the transaction went with the failure, nor when the server
// refuses every marking, whatever its booking (no privilege, no table, a
// read-only server).
void RecordFailure(DbConnection& db, int status, BatchMarks& marks) {
  const std::string error = mysql_error(db.mysql);
  marks.statuses.push_back(status);
  marks.rows.push_back(0);
  if (SQL_TransactionIntact(db, status) == 0 || SQL_ProbeMarking(db) != 0) {
    marks.transaction_lost = true;
    marks.lost_error = error;
  }
  db.last_errno = status;
  db.last_error = error;
}

// Sends statements[first, end) as one text and reads their statuses until the
// first failure, which the server answers by running no statement after it.
// Returns the index of the first statement that did not run.
size_t RunRoundTrip(DbConnection& db, const std::vector<std::string>& statements, size_t first,
                    size_t end, BatchMarks& marks) {
  std::string text;
  for (size_t i = first; i < end; ++i) {
    if (i > first) text += ';';
    text += statements[i];
  }
  if (mysql_real_query(db.mysql, text.data(), text.size()) != 0) {
    RecordFailure(db, static_cast<int>(mysql_errno(db.mysql)), marks);
    return first + 1;
  }
  for (size_t i = first;;) {
    MYSQL_RES* result = mysql_store_result(db.mysql);
    if (result != nullptr) mysql_free_result(result);
    marks.statuses.push_back(0);
    marks.rows.push_back(mysql_affected_rows(db.mysql));
    if (++i == end) return end;
    const int next = mysql_next_result(db.mysql);
    if (next > 0) {
      RecordFailure(db, static_cast<int>(mysql_errno(db.mysql)), marks);
      return i + 1;
    }
    if (next < 0) return i;  // the server ran fewer statements than were sent
  }
}

}  // namespace

void SQL_MarkBatch(DbConnection& db, const std::vector<std::string>& statements,
                   BatchMarks& marks) {
  marks = BatchMarks();
  if (statements.empty()) return;
  if (db.mysql == nullptr) {
    marks.statuses.push_back(CR_SERVER_GONE_ERROR);
    marks.rows.push_back(0);
    marks.transaction_lost = true;
    marks.lost_error = "not connected to the server";
    return;
  }
  // Without multi-statement texts every statement makes its own round trip.
  const size_t round_trip_bytes = AllowMultiStatements(db) == 0 ? kRoundTripBytes : 0;
  size_t next = 0;
  while (next < statements.size() && !marks.transaction_lost) {
    size_t end = next + 1;
    size_t bytes = statements[next].size();
    while (end < statements.size() && bytes + statements[end].size() + 1 <= round_trip_bytes) {
      bytes += statements[end].size() + 1;
      ++end;
    }
    next = RunRoundTrip(db, statements, next, end, marks);
  }
}

void SQL_MarkBatchByKeys(DbConnection& db, const std::vector<const std::string*>& key_tuples,
                         OwnStatementFn own_statement, void* context, BatchMarks& marks) {
  marks = BatchMarks();
  const size_t count = key_tuples.size();
  std::string listed = kMarkByKeysPrefix;
  size_t tuples = 0;
  for (const std::string* tuple : key_tuples) {
    if (tuple->empty()) continue;
    if (tuples++ > 0) listed += ", ";
    listed += *tuple;
  }
  listed += ')';
  // by_list[i]: booking i is marked by the statement with the list.
  std::vector<bool> by_list(count, false);
  if (tuples > 0 && db.mysql != nullptr) {
    if (mysql_real_query(db.mysql, listed.data(), listed.size()) != 0) {
      const int status = static_cast<int>(mysql_errno(db.mysql));
      if (SQL_TransactionIntact(db, status) == 0) {
        RecordFailure(db, status, marks);
        return;
      }
    } else if (mysql_affected_rows(db.mysql) == tuples) {
      for (size_t i = 0; i < count; ++i) by_list[i] = !key_tuples[i]->empty();
    }
  }
  std::vector<std::string> alone;
  for (size_t i = 0; i < count; ++i) {
    if (by_list[i]) continue;
    alone.emplace_back();
    own_statement(i, alone.back(), context);
  }
  BatchMarks alone_marks;
  SQL_MarkBatch(db, alone, alone_marks);
  size_t next = 0;
  for (size_t i = 0; i < count; ++i) {
    if (by_list[i]) {
      marks.statuses.push_back(0);
      marks.rows.push_back(1);
      continue;
    }
    if (next >= alone_marks.statuses.size()) break;
    marks.statuses.push_back(alone_marks.statuses[next]);
    marks.rows.push_back(alone_marks.rows[next]);
    ++next;
    if (alone_marks.transaction_lost && next == alone_marks.statuses.size()) break;
  }
  marks.transaction_lost = alone_marks.transaction_lost;
  marks.lost_error = alone_marks.lost_error;
}

namespace {

struct GivenStatements {
  const std::vector<std::string>* statements;
};

void GivenStatement(size_t booking, std::string& statement, void* context) {
  statement = (*static_cast<GivenStatements*>(context)->statements)[booking];
}

}  // namespace

void SQL_MarkBatchByKeys(DbConnection& db, const std::vector<std::string>& statements,
                         const std::vector<std::string>& key_tuples, BatchMarks& marks) {
  static const std::string kNotListed;
  std::vector<const std::string*> tuples(statements.size(), &kNotListed);
  for (size_t i = 0; i < tuples.size() && i < key_tuples.size(); ++i) tuples[i] = &key_tuples[i];
  GivenStatements given{&statements};
  SQL_MarkBatchByKeys(db, tuples, GivenStatement, &given, marks);
}
