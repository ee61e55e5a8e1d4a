// Tests of the marking's date ranges against the test server: on tricky rows
// the marking with ranges marks exactly the rows of the marking without them.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "db/batch_marking.h"
#include "db/booking_statements.h"
#include "test/test_database.h"

namespace {

constexpr char kInsert[] =
    "INSERT INTO KVSYSTEM.KVS321BEW (BewTID, BewIDN, BewSto, BewDtm, BewUhr, BewLfn) VALUES ";

// Every row set is marked under each of these sql_modes of the program's
// session: not strict, strict without zero dates, strict with rounding of
// fractional seconds, and with invalid dates allowed.
const char* const kSqlModes[] = {"", "TRADITIONAL", "TRADITIONAL,TIME_ROUND_FRACTIONAL",
                                 "ALLOW_INVALID_DATES"};

class MarkingRangesTest : public ConnectedDatabaseTest,
                          public ::testing::WithParamInterface<const char*> {
 protected:
  void SetUp() override {
    ConnectedDatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    // The rows go in as written, invalid and zero dates included.
    Exec("SET SESSION sql_mode = 'ALLOW_INVALID_DATES'");
    RunOnProgramConnection(std::string("SET SESSION sql_mode = '") + GetParam() + "'");
  }

  // Runs sql on the program's connection; the test fails when it is refused.
  void RunOnProgramConnection(const std::string& sql) {
    ASSERT_EQ(mysql_query(db_.mysql, sql.c_str()), 0) << mysql_error(db_.mysql) << "\nin: " << sql;
  }

  // Sets the time zone of both sessions; the zone tables must hold it.
  void UseTimeZone(const std::string& zone) {
    const std::string set = "SET SESSION time_zone = '" + zone + "'";
    ASSERT_EQ(mysql_query(admin_, set.c_str()), 0)
        << mysql_error(admin_)
        << ": load the server's time zone tables (scripts/db_server.sh does)";
    RunOnProgramConnection(set);
  }

  // The pending bookings, in the order of the selection.
  std::vector<BookingRecord> PendingBookings() {
    std::vector<BookingRecord> bookings;
    EXPECT_EQ(SQL_SelectBookings(db_, handle_), 0) << db_.last_error;
    BookingRecord record;
    while (SQL_FetchBooking(db_, handle_, record) == 0) bookings.push_back(record);
    SQL_CloseBookings(handle_);
    return bookings;
  }

  // Marks every pending booking, each marking alone in a transaction that is
  // rolled back afterwards, and returns per booking "BewTID>" and the BewTIDs
  // of the rows its marking marked, sorted. ranged counts the markings sent
  // with date ranges; with by_list a booking that has a key tuple is marked
  // by the list of that one tuple, and listed counts those.
  std::vector<std::string> MarkEachAlone(const MarkingForm& form, int& ranged, bool by_list = false,
                                         int* listed = nullptr) {
    std::vector<std::string> markings;
    ranged = 0;
    for (BookingRecord& booking : PendingBookings()) {
      std::string statement, tuple;
      EXPECT_TRUE(FormatMarkStatement(db_.mysql, form, booking, statement));
      EXPECT_TRUE(FormatKeyTuple(db_.mysql, form, booking, tuple));
      if (statement.find(" BETWEEN ") != std::string::npos) ++ranged;
      if (by_list && !tuple.empty()) {
        statement = kMarkByKeysPrefix + tuple + ")";
        BatchMarks marks;
        SQL_MarkBatch(db_, {statement}, marks);
        EXPECT_EQ(marks.statuses, std::vector<int>{0}) << db_.last_error << "\nin: " << statement;
        if (listed != nullptr) ++*listed;
      } else {
        EXPECT_EQ(MarkBooking(form, booking), 0) << db_.last_error << "\nin: " << statement;
      }
      markings.push_back(booking.BewTID + ">" + MarkedRows());
      RunOnProgramConnection("ROLLBACK");
    }
    std::sort(markings.begin(), markings.end());
    return markings;
  }

  // Marks all pending bookings as one batch of the run, by the keys' list
  // where form allows it or else one at a time, and returns each booking's
  // status and rows found, then the rows marked; rolled back afterwards.
  std::string MarkAsOneBatch(const MarkingForm& form, bool by_list) {
    std::vector<std::string> statements, tuples;
    for (BookingRecord& booking : PendingBookings()) {
      statements.emplace_back();
      tuples.emplace_back();
      EXPECT_TRUE(FormatMarkStatement(db_.mysql, form, booking, statements.back()));
      if (by_list) {
        EXPECT_TRUE(FormatKeyTuple(db_.mysql, form, booking, tuples.back()));
      }
    }
    BatchMarks marks;
    SQL_MarkBatchByKeys(db_, statements, tuples, marks);
    std::string result;
    for (size_t i = 0; i < marks.statuses.size(); ++i) {
      result += std::to_string(marks.statuses[i]) + (marks.rows[i] > 0 ? "/found " : "/none ");
    }
    result += "> " + MarkedRows();
    RunOnProgramConnection("ROLLBACK");
    return result;
  }

  // The BewTIDs of the rows marked in the program's open transaction.
  std::string MarkedRows() {
    StatementHandle query;
    query.text =
        "SELECT IFNULL(GROUP_CONCAT(BewTID ORDER BY BewTID), '') FROM KVSYSTEM.KVS321BEW "
        "WHERE BewUkz = 4 AND BewUdt IS NOT NULL";
    MYSQL_ROW row = nullptr;
    std::string marked = "?";
    if (SQL_Execute(db_, query) == 0 && SQL_Fetch(db_, query, row) == 0) marked = row[0];
    SQL_FreeResult(query);
    return marked;
  }

  // Marks the pending bookings without and with the ranges; both must mark
  // the expected rows, and ranged_markings of them must carry ranges (none:
  // the table's form has none).
  // Marks the pending bookings without and with the ranges, and by the list
  // of their keys; all must mark the expected rows, ranged_markings of them
  // must carry ranges and listed_markings take the list. Marked as one batch,
  // the list gives every booking the status of its own marking.
  void ExpectSameRowsMarked(const std::vector<std::string>& expected, int ranged_markings,
                            int listed_markings = 0) {
    MarkingForm ranges;
    ASSERT_EQ(SQL_ReadMarkingForm(db_, ranges), 0) << db_.last_error;
    ASSERT_EQ(ranges.date_ranges, ranged_markings > 0);
    EXPECT_EQ(ranges.key_list, listed_markings > 0);
    int ranged = 0;
    EXPECT_EQ(MarkEachAlone(MarkingForm(), ranged), expected) << "without ranges";
    EXPECT_EQ(ranged, 0);
    EXPECT_EQ(MarkEachAlone(ranges, ranged), expected) << "with ranges";
    EXPECT_EQ(ranged, ranged_markings);
    int listed = 0;
    EXPECT_EQ(MarkEachAlone(ranges, ranged, true, &listed), expected) << "by the list";
    EXPECT_EQ(listed, listed_markings);
    EXPECT_EQ(MarkAsOneBatch(ranges, true), MarkAsOneBatch(ranges, false));
  }
};

// The table's own types, DATE and DATETIME: zero and invalid dates, the
// extremes of the calendar, NULL keys, quotes and backslashes, and neighbours
// one second and one day apart that no marking may take along.
TEST_P(MarkingRangesTest, DateAndDatetime) {
  Exec(std::string(kInsert) +
       "('zero', 'A', 'S', '0000-00-00', '0000-00-00 00:00:00', '1'),"
       "('zeroday', 'A', 'S', '2024-01-00', '2024-01-00 08:00:00', '1'),"
       "('feb30', 'A', 'S', '2026-02-30', '2026-02-30 08:00:00', '1'),"
       "('feb30b', 'A', 'S', '2026-02-30', '2026-03-02 08:00:00', '1'),"
       "('leap', 'A', 'S', '2024-02-29', '2024-02-29 23:59:59', '1'),"
       "('first', 'A', 'S', '0001-01-01', '0001-01-01 00:00:00', '1'),"
       "('last', 'A', 'S', '9999-12-31', '9999-12-31 23:59:59', '1'),"
       "('twin1', 'A', 'S', '2024-01-05', '2024-01-05 08:00:00', '2'),"
       "('twin2', 'A', 'S', '2024-01-05', '2024-01-05 08:00:00', '2'),"
       "('nextsec', 'A', 'S', '2024-01-05', '2024-01-05 08:00:01', '2'),"
       "('nextday', 'A', 'S', '2024-01-06', '2024-01-05 08:00:00', '2'),"
       "('nulldtm', 'A', 'S', NULL, '2024-01-05 08:00:00', '2'),"
       "('nulluhr', 'A', 'S', '2024-01-05', NULL, '2'),"
       "('nullidn', NULL, 'S', '2024-01-05', '2024-01-05 08:00:00', NULL),"
       "('quote', 'O\\'Bri\\\\en', 'a\\\\\\'b', '2024-01-05', '2024-01-05 08:00:00', '\\'')");
  ExpectSameRowsMarked(
      {"feb30>feb30", "feb30b>feb30b", "first>first", "last>last", "leap>leap", "nextday>nextday",
       "nextsec>nextsec", "nulldtm>nulldtm", "nullidn>nullidn", "nulluhr>nulluhr", "quote>quote",
       "twin1>twin1,twin2", "twin2>twin1,twin2", "zero>zero", "zeroday>zeroday"},
      9, 8);
}

// Rows that would tell a list of typed values from the comparisons of the
// texts: trailing blanks under PAD SPACE (BewIDN) and NO PAD (BewSto), case
// and accent variants under a case-insensitive collation, and a twin with
// the same five keys already transferred.
TEST_P(MarkingRangesTest, RowsThatCompareEqualAsText) {
  Exec("ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewSto VARCHAR(8) COLLATE latin1_swedish_nopad_ci");
  Exec(std::string(kInsert) +
       "('pad0', 'P', 'S', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('pad1', 'P ', 'S', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('pad2', 'P  ', 'S', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('nopad0', 'N', 'T', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('nopad1', 'N', 'T ', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('nopad2', 'N', 't', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('case0', 'abc', 'S', '2024-01-05', '2024-01-05 08:00:00', 'x'),"
       "('case1', 'ABC', 'S', '2024-01-05', '2024-01-05 08:00:00', 'X'),"
       "('case2', 'abc?', 'S', '2024-01-05', '2024-01-05 08:00:00', 'x'),"
       "('case3', 'abd', 'S', '2024-01-05', '2024-01-05 08:00:00', 'x')");
  Exec(
      "UPDATE KVSYSTEM.KVS321BEW SET BewIDN = CONVERT(UNHEX('E16263') USING latin1) "
      "WHERE BewTID = 'case2'");
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewTID, BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewUkz) "
      "VALUES ('done', 'T', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', 4),"
      "('pend', 'T', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL)");
  ExpectSameRowsMarked(
      {"case0>case0,case1,case2", "case1>case0,case1,case2", "case2>case0,case1,case2",
       "case3>case3", "nopad0>nopad0,nopad2", "nopad1>nopad1", "nopad2>nopad0,nopad2",
       "pad0>pad0,pad1,pad2", "pad1>pad0,pad1,pad2", "pad2>pad0,pad1,pad2", "pend>done,pend"},
      11, 11);
}

// Fractional seconds in DATETIME(6): every row of one second is one booking
// key, 9999-12-31 23:59:59.999999 included; a BewDtm with times during the day
// is one key per day.
TEST_P(MarkingRangesTest, FractionalSeconds) {
  Exec(
      "ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewDtm DATETIME(6) NULL, "
      "MODIFY BewUhr DATETIME(6) NULL");
  Exec(std::string(kInsert) +
       "('s0', 'A', 'S', '2024-01-05 00:00:00', '2024-01-05 08:00:00', '1'),"
       "('s1', 'A', 'S', '2024-01-05 13:45:10.25', '2024-01-05 08:00:00.000001', '1'),"
       "('s2', 'A', 'S', '2024-01-05 23:59:59.999999', '2024-01-05 08:00:00.999999', '1'),"
       "('s3', 'A', 'S', '2024-01-06 00:00:00', '2024-01-05 08:00:00.5', '1'),"
       "('late', 'A', 'S', '2024-01-05 23:59:59.999999', '2024-01-05 23:59:59.999999', '1'),"
       "('max', 'A', 'S', '9999-12-31 23:59:59.999999', '9999-12-31 23:59:59.999999', '1'),"
       "('max2', 'A', 'S', '9999-12-31 00:00:00', '9999-12-31 23:59:59', '1'),"
       "('zero', 'A', 'S', '0000-00-00 00:00:00.5', '0000-00-00 00:00:00.5', '1')");
  ExpectSameRowsMarked({"late>late", "max2>max,max2", "max>max,max2", "s0>s0,s1,s2", "s1>s0,s1,s2",
                        "s2>s0,s1,s2", "s3>s3", "zero>zero"},
                       7);
}

// A BewDtm DATETIME that carries the time of day, and second-exact time
// stamps given with fractions that the column drops.
TEST_P(MarkingRangesTest, DatetimeWithTimesDuringTheDay) {
  Exec("ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewDtm DATETIME NULL");
  Exec(std::string(kInsert) +
       "('d0', 'A', 'S', '2024-03-10 00:00:00', '2024-03-10 23:59:59', '1'),"
       "('d1', 'A', 'S', '2024-03-10 07:30:00', '2024-03-10 23:59:59', '1'),"
       "('d2', 'A', 'S', '2024-03-10 23:59:59', '2024-03-10 23:59:59.4', '1'),"
       "('d3', 'A', 'S', '2024-03-11 00:00:00', '2024-03-10 23:59:59', '1'),"
       "('d4', 'A', 'S', '2024-03-09 23:59:59', '2024-03-10 23:59:59', '1'),"
       "('max', 'A', 'S', '9999-12-31 23:59:59', '9999-12-31 23:59:59', '1')");
  ExpectSameRowsMarked({"d0>d0,d1,d2", "d1>d0,d1,d2", "d2>d0,d1,d2", "d3>d3", "d4>d4", "max>max"},
                       6);
}

// TIMESTAMP columns in a zone with summer time: in the autumn the local
// 02:00 to 03:00 comes twice, so two stored instants share one booking key;
// the day of the change has 25 hours and the spring day 23. A range of local
// times would name one of the two instants, so TIMESTAMP keys go without.
TEST_P(MarkingRangesTest, TimestampAcrossTheClockChange) {
  Exec(
      "ALTER TABLE KVSYSTEM.KVS321BEW MODIFY BewDtm TIMESTAMP NULL DEFAULT NULL, "
      "MODIFY BewUhr TIMESTAMP(6) NULL DEFAULT NULL");
  // The instants go in as UTC; the program's session reads them in Berlin.
  UseTimeZone("+00:00");
  if (HasFatalFailure()) return;
  Exec(std::string(kInsert) +
       "('a0', 'A', 'S', '2025-10-25 22:00:00', '2025-10-25 22:00:00', '1'),"
       "('a1', 'A', 'S', '2025-10-26 00:30:00', '2025-10-26 00:30:00', '1'),"
       "('a2', 'A', 'S', '2025-10-26 01:30:00', '2025-10-26 01:30:00.75', '1'),"
       "('a3', 'A', 'S', '2025-10-26 00:59:59', '2025-10-26 01:59:59', '1'),"
       "('a4', 'A', 'S', '2025-10-26 22:59:59', '2025-10-26 22:59:59.999999', '1'),"
       "('a5', 'A', 'S', '2025-10-26 23:00:00', '2025-10-26 23:00:00', '1'),"
       "('b0', 'A', 'S', '2025-03-30 00:59:59', '2025-03-30 00:59:59', '1'),"
       "('b1', 'A', 'S', '2025-03-30 01:00:00', '2025-03-30 01:00:00', '1'),"
       "('zero', 'A', 'S', '0000-00-00 00:00:00', '0000-00-00 00:00:00', '1')");
  UseTimeZone("Europe/Berlin");
  if (HasFatalFailure()) return;
  ExpectSameRowsMarked(
      {"a0>a0", "a1>a1,a2", "a2>a1,a2", "a3>a3", "a4>a4", "a5>a5", "b0>b0", "b1>b1", "zero>zero"},
      0);
}

// The locks of the markings, under the program's own sql_mode only: under
// TIME_ROUND_FRACTIONAL the ends of the date ranges round up a second and
// the bookings' own statements read (and hold) more rows.
class MarkingLocksTest : public MarkingRangesTest {};

// At READ COMMITTED the list of a batch's keys locks what the bookings' own
// statements lock, the rows it marks: their neighbours one second, one day or
// one number apart, a pending one of a later batch and a transferred one,
// stay free for other transactions, and a time clock's new booking between
// them goes in without waiting.
TEST_P(MarkingLocksTest, ListLocksOnlyTheRowsItMarks) {
  Exec(std::string(kInsert) +
       "('b1', 'A', 'S', '2024-01-05', '2024-01-05 08:00:00', '1'),"
       "('b2', 'A', 'S', '2024-01-05', '2024-01-05 08:00:02', '1'),"
       "('b3', 'B', 'S', '2024-01-06', '2024-01-06 09:00:00', '1'),"
       "('later', 'A', 'S', '2024-01-05', '2024-01-05 08:00:01', '1'),"
       "('nextday', 'B', 'S', '2024-01-07', '2024-01-06 09:00:00', '1'),"
       "('nextlfn', 'B', 'S', '2024-01-06', '2024-01-06 09:00:00', '2')");
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewTID, BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewUkz) "
      "VALUES ('done', 'A', 'S', '2024-01-05', '2024-01-05 08:00:03', '1', 4)");
  Exec("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED");
  Exec("SET SESSION innodb_lock_wait_timeout = 1");
  ASSERT_EQ(SQL_UseReadCommitted(db_), 0) << db_.last_error;
  MarkingForm form;
  ASSERT_EQ(SQL_ReadMarkingForm(db_, form), 0) << db_.last_error;
  ASSERT_TRUE(form.key_list);
  std::string free_rows[2], rows_locked[2];
  for (int by_list = 0; by_list < 2; ++by_list) {
    SCOPED_TRACE(by_list ? "by the list" : "one booking at a time");
    std::vector<std::string> statements, tuples;
    for (BookingRecord& booking : PendingBookings()) {
      if (booking.BewTID[0] != 'b') continue;  // the others come in a later batch
      statements.emplace_back();
      tuples.emplace_back();
      EXPECT_TRUE(FormatMarkStatement(db_.mysql, form, booking, statements.back()));
      EXPECT_TRUE(FormatKeyTuple(db_.mysql, form, booking, tuples.back()));
    }
    BatchMarks marks;
    if (by_list) {
      SQL_MarkBatchByKeys(db_, statements, tuples, marks);
    } else {
      SQL_MarkBatch(db_, statements, marks);
    }
    EXPECT_EQ(marks.statuses, std::vector<int>(3, 0)) << db_.last_error;
    EXPECT_EQ(MarkedRows(), "b1,b2,b3");
    // The server refreshes INNODB_TRX only when nobody read it for 0.1 s.
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const Rows locked = Query(
        "SELECT trx_rows_locked FROM information_schema.INNODB_TRX WHERE trx_mysql_thread_id = " +
        std::to_string(mysql_thread_id(db_.mysql)));
    ASSERT_EQ(locked.size(), 1u);
    rows_locked[by_list] = locked[0][0];
    Exec("START TRANSACTION");
    for (const auto& row :
         Query("SELECT BewTID FROM KVSYSTEM.KVS321BEW ORDER BY BewTID FOR UPDATE SKIP LOCKED")) {
      free_rows[by_list] += row[0] + " ";
    }
    Exec("ROLLBACK");
    Exec(std::string(kInsert) + "('clock', 'A', 'S', '2024-01-05', '2024-01-05 08:00:01', '2')");
    RunOnProgramConnection("ROLLBACK");
    Exec("DELETE FROM KVSYSTEM.KVS321BEW WHERE BewTID = 'clock'");
  }
  EXPECT_EQ(free_rows[0], "done later nextday nextlfn ");
  EXPECT_EQ(free_rows[1], free_rows[0]);
  EXPECT_EQ(rows_locked[1], rows_locked[0]);
}

INSTANTIATE_TEST_SUITE_P(SqlModes, MarkingRangesTest, ::testing::ValuesIn(kSqlModes));
INSTANTIATE_TEST_SUITE_P(ProgramSqlMode, MarkingLocksTest, ::testing::Values(""));

class MarkingFormTest : public ConnectedDatabaseTest {};

// The ranges are asked for only when both date keys are date columns.
TEST_F(MarkingFormTest, RangesOnlyForDateColumns) {
  struct Case {
    const char* columns;
    bool date_ranges;
  };
  const Case cases[] = {
      {"BewDtm DATE, BewUhr DATETIME", true},
      {"BewDtm DATETIME(6), BewUhr DATETIME(3)", true},
      {"BewDtm DATETIME(6), BewUhr TIMESTAMP(3) NULL", false},
      {"BewDtm TIMESTAMP NULL, BewUhr DATE", false},
      {"BewDtm DATE, BewUhr VARCHAR(19)", false},
      {"BewDtm CHAR(10), BewUhr DATETIME", false},
      {"BewDtm DATE, BewUhr TIME", false},
      {"BewDtm DATE, BewUhr BIGINT", false},
  };
  for (const Case& c : cases) {
    std::string alter = "ALTER TABLE KVSYSTEM.KVS321BEW MODIFY ";
    alter += c.columns;
    alter.replace(alter.find(", "), 2, ", MODIFY ");
    Exec(alter);
    MarkingForm form;
    form.date_ranges = !c.date_ranges;
    EXPECT_EQ(SQL_ReadMarkingForm(db_, form), 0) << c.columns << ": " << db_.last_error;
    EXPECT_EQ(form.date_ranges, c.date_ranges) << c.columns;
    ASSERT_EQ(SQL_Commit(db_), 1);  // lets the next ALTER have the table
  }

  // Without the table the form stays without ranges.
  Exec("DROP TABLE KVSYSTEM.KVS321BEW");
  MarkingForm form;
  form.date_ranges = true;
  EXPECT_EQ(SQL_ReadMarkingForm(db_, form), 1146);
  EXPECT_FALSE(form.date_ranges);
}

// The exact text of a marking with ranges, and the keys that keep the marking
// without them: anything but a real calendar time of the years 1 to 9999.
TEST_F(MarkingFormTest, RangesOnlyForCalendarTimes) {
  BookingRecord record;
  record.keys[kKeyBewIDN].text = "O'B";
  record.keys[kKeyBewSto].text = "S";
  record.keys[kKeyBewLfn].is_null = true;
  MarkingForm ranges;
  ranges.date_ranges = true;
  std::string plain, ranged;

  record.keys[kKeyBewDtm].text = "20240229000000";
  record.keys[kKeyBewUhr].text = "20240301235959";
  ASSERT_TRUE(FormatMarkStatement(db_.mysql, MarkingForm(), record, plain));
  ASSERT_TRUE(FormatMarkStatement(db_.mysql, ranges, record, ranged));
  EXPECT_EQ(ranged, plain +
                        "   AND  BewDtm BETWEEN '2024-02-29 00:00:00' AND '2024-02-29 "
                        "23:59:59.999999'   AND  BewUhr BETWEEN '2024-03-01 23:59:59' AND "
                        "'2024-03-01 23:59:59.999999'");
  EXPECT_EQ(plain,
            "UPDATE  KVSYSTEM.KVS321BEW  SET  BewUkz = 4,  BewUdt = sysdate()  WHERE  BewIDN = "
            "'O\\'B'   AND  BewSto = 'S'   AND  date_format(BewDtm, '%Y%m%d000000') = "
            "'20240229000000'   AND  date_format(BewUhr, '%Y%m%d%H%i%s') = '20240301235959'   "
            "AND  BewLfn IS NULL");

  const char* const not_calendar_times[] = {
      "00000000000000", "20260230000000",  "20230229000000", "21000229000000", "20241301000000",
      "20240100000000", "00000101000000",  "20240105240000", "20240105126000", "20240105120060",
      "2024010512000",  "202401051200000", "2024-1-5000000", "2024010512000a", "",
  };
  for (const char* text : not_calendar_times) {
    for (int key : {kKeyBewDtm, kKeyBewUhr}) {
      BookingRecord changed = record;
      changed.keys[key].text = text;
      ASSERT_TRUE(FormatMarkStatement(db_.mysql, MarkingForm(), changed, plain));
      ASSERT_TRUE(FormatMarkStatement(db_.mysql, ranges, changed, ranged));
      EXPECT_EQ(ranged, plain) << '"' << text << "\" as key " << key;
    }
  }
  for (int key : {kKeyBewDtm, kKeyBewUhr}) {
    BookingRecord changed = record;
    changed.keys[key].is_null = true;
    ASSERT_TRUE(FormatMarkStatement(db_.mysql, MarkingForm(), changed, plain));
    ASSERT_TRUE(FormatMarkStatement(db_.mysql, ranges, changed, ranged));
    EXPECT_EQ(ranged, plain) << "NULL as key " << key;
  }
}

}  // namespace
