// The outcome of a COMMIT that did not answer OK.
#include "run/commit_outcome.h"

#include "db/booking_statements.h"
#include "db/causal_reads.h"
#include "db/run_token.h"

namespace {

// Seconds a node may take to be part of the primary component again: a node
// that just died takes the others some 5 to 6 seconds to evict.
constexpr int kReadyWait = 30;

}  // namespace

bool CommitRefusedByLiveServer(DbConnection& db) {
  return db.last_errno > 0 && !SQL_IsClientError(db.last_errno) && db.mysql != nullptr &&
         mysql_ping(db.mysql) == 0;
}

int RunCommitted(DbConnection& db, const MarkingForm& form, const RunRecord& record) {
  if (SQL_WaitForReadyNode(db, kReadyWait) != 0) return -1;
  const int causal = SQL_UseCausalReads(db);
  if (causal != 0 && causal != 1) return -1;
  if (!record.token.empty()) {
    int committed = 0;
    return SQL_RunTokenCommitted(db, record.token, committed) == 0 ? committed : -1;
  }
  // Without a token (no table for it, or a record of an earlier version):
  // the booking it marked, which another run may have marked as well.
  if (!record.has_booking) return 0;
  int pending = 0;
  if (SQL_IsBookingPending(db, form, record.booking, pending) != 0) return -1;
  return pending == 0 ? 1 : 0;
}
