// Tests of the outcome of a COMMIT that did not answer OK, and of the run
// guard's lock file, against the test server.
#include "run/commit_outcome.h"

#include <errmsg.h>
#include <gtest/gtest.h>

#include <string>

#include "db/run_token.h"
#include "platform/platform.h"
#include "run/run_guard.h"
#include "test/temp_dir.h"
#include "test/test_database.h"

namespace {

using CommitOutcomeTest = ConnectedDatabaseTest;

// The booking 4711 of 1 December 2026, 07:58:13, as the run record keeps it.
void SetBooking(RunRecord& record) {
  const char* keys[kRowKeyCount] = {"4711", "WERK1", "20261201000000", "20261201075813", "1"};
  for (int key = 0; key < kRowKeyCount; ++key) record.booking[key] = RowKey{keys[key], false};
  record.has_booking = true;
}

// By the token where the run wrote one, else by its booking.
TEST_F(CommitOutcomeTest, RunCommittedAsksByTokenOrElseByBooking) {
  const struct {
    const char* name;
    bool token, token_committed, booking;
    const char* mark;  // BewUkz of the booking in the table
    int committed;
  } cases[] = {
      {"token committed", true, true, true, "NULL", 1},
      {"token not committed, booking marked by another run", true, false, true, "4", 0},
      {"no token, booking marked", false, false, true, "4", 1},
      {"no token, booking pending", false, false, true, "NULL", 0},
      {"neither", false, false, false, "4", 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Exec("DELETE FROM KVSYSTEM.KVS321BEW");
    Exec(
        std::string("INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, "
                    "BewUkz) VALUES ('4711', 'WERK1', '2026-12-01', '2026-12-01 07:58:13', '1', ") +
        c.mark + ")");
    RunRecord record;
    record.phase = kPhaseCommitting;
    if (c.booking) SetBooking(record);
    if (c.token) {
      record.token = NewRunToken();
      if (c.token_committed) {
        Exec("INSERT INTO KVSYSTEM.KVS321BEW_LAUF VALUES ('" + record.token + "', NOW())");
      }
    }
    EXPECT_EQ(RunCommitted(db_, MarkingForm(), record), c.committed);
    StatementHandle rollback;  // the next case reads anew
    rollback.text = "ROLLBACK";
    SQL_Execute(db_, rollback);
  }
  DbConnection closed;
  RunRecord record;
  SetBooking(record);
  EXPECT_EQ(RunCommitted(closed, MarkingForm(), record), -1);
}

// A server error on a connection that still answers is a refusal; a lost
// connection, or one the server killed, is not.
TEST_F(CommitOutcomeTest, RefusedOnlyByAServerStillConnected) {
  db_.last_errno = 1213;
  EXPECT_TRUE(CommitRefusedByLiveServer(db_));
  db_.last_errno = CR_SERVER_LOST;
  EXPECT_FALSE(CommitRefusedByLiveServer(db_));
  db_.last_errno = 1927;
  Exec("KILL CONNECTION " + std::to_string(mysql_thread_id(db_.mysql)));
  EXPECT_FALSE(CommitRefusedByLiveServer(db_));
}

// The directory's lock file is taken on every run: another holder keeps the
// run out although the named lock is free; the run's own, kept while it
// reconnects, does not.
TEST_F(CommitOutcomeTest, GuardTakesTheDirectorysLockFileBesideTheNamedLock) {
  ScopedTempDir dir;
  const std::string transfer = dir.File("BEWDATA.dat");
  FileLock other;
  ASSERT_EQ(TakeFileLock(dir.File(kRunGuardFileName), other), 0);
  RunGuard guard;
  EXPECT_EQ(TakeRunGuard(db_, transfer, guard), 1);
  ReleaseRunGuard(db_, guard);
  ReleaseFileLock(other);

  ASSERT_EQ(TakeRunGuard(db_, transfer, guard), 0);
  EXPECT_TRUE(guard.server_lock);
  EXPECT_NE(guard.file_lock.handle, -1);
  ReleaseNamedLock(db_, guard);
  EXPECT_EQ(TakeRunGuard(db_, transfer, guard), 0);
  EXPECT_EQ(TakeFileLock(dir.File(kRunGuardFileName), other), 1);
  ReleaseRunGuard(db_, guard);
  EXPECT_EQ(TakeFileLock(dir.File(kRunGuardFileName), other), 0);
  ReleaseFileLock(other);
}

}  // namespace
