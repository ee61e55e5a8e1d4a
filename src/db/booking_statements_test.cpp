// Tests of the booking table statements against the test server.
#include "db/booking_statements.h"

#include <gtest/gtest.h>

#include <regex>
#include <string>
#include <vector>

#include "test/test_database.h"

namespace {

constexpr char kInsert[] =
    "INSERT INTO KVSYSTEM.KVS321BEW (BewIDN, BewSto, BewDtm, BewUhr, BewLfn, BewUkz, BewDat) "
    "VALUES ";

class BookingStatementsTest : public ConnectedDatabaseTest {
 protected:
  // Selects the pending bookings and fetches them all, marking each one when
  // marks is given and recording the marking's status there. Returns
  // "BewIDN/BewLfn" of each booking fetched.
  std::vector<std::string> FetchPending(std::vector<int>* marks = nullptr) {
    std::vector<std::string> fetched;
    EXPECT_EQ(SQL_SelectBookings(db_, handle_), 0) << db_.last_error;
    BookingRecord record;
    int status;
    while ((status = SQL_FetchBooking(db_, handle_, record)) == 0) {
      fetched.push_back(record.BewIDN + "/" + record.BewLfn);
      if (marks != nullptr) marks->push_back(MarkBooking(MarkingForm(), record));
    }
    EXPECT_EQ(status, kNoMoreRows);
    EXPECT_EQ(SQL_CloseBookings(handle_), 0);
    return fetched;
  }
};

// Every field of the record in the order of the table's columns, each ended by "|".
std::string Fields(const BookingRecord& r) {
  std::string all;
  for (const std::string* field : {&r.BewTID, &r.BewLID, &r.BewIDN, &r.BewSto, &r.BewDtm, &r.BewUhr,
                                   &r.BewLfn, &r.BewArt, &r.BewTas, &r.BewEra, &r.BewKze, &r.BewBer,
                                   &r.BewErq, &r.BewKst, &r.BewQua, &r.BewSrc, &r.BewRes}) {
    all += *field + "|";
  }
  return all;
}

TEST(TrimRightTest, RemovesOnlyTrailingBlanksAndTabs) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"ab  \t", "ab"}, {" a b ", " a b"}, {"a\r ", "a\r"}, {"a\n", "a\n"},
      {" ", " "},       {" \t ", " \t "},  {"", ""},        {"\tx", "\tx"},
  };
  for (const auto& [text, trimmed] : cases) {
    std::string value = text;
    EXPECT_EQ(TrimRight(value), trimmed) << '"' << text << '"';
  }
}

TEST_F(BookingStatementsTest, ServerTimeAsDayMonthYearAndClock) {
  std::string server_time;
  ASSERT_EQ(SQL_GetServerTime(db_, server_time), 0);
  EXPECT_TRUE(std::regex_match(server_time, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")))
      << server_time;
  EXPECT_EQ(server_time.substr(0, 10), Query("SELECT date_format(sysdate(), '%d.%m.%Y')")[0][0]);

  Exec("KILL CONNECTION " + std::to_string(mysql_thread_id(db_.mysql)));
  server_time = "unchanged";
  EXPECT_GT(SQL_GetServerTime(db_, server_time), 0);
  EXPECT_EQ(server_time, "unchanged");
}

// Pending bookings (BewUkz not 4, NULL included) come in key order and are
// marked; a refused marking (the trigger's 1644) neither ends the fetching nor
// marks its row. The purge takes the transferred bookings stored more than
// three months back. Nothing of it shows before the commit.
TEST_F(BookingStatementsTest, SelectionMarkingAndPurgeInOneTransaction) {
  Exec(std::string(kInsert) +
       "('B', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, sysdate() - interval 4 month),"
       "('A', 'S', '2024-01-05', '2024-01-05 10:00:00', '2', 3, sysdate() - interval 4 month),"
       "('A', 'S', '2024-01-05', '2024-01-05 10:00:00', '1', NULL, sysdate() - interval 2 month),"
       "('A', 'S', '2024-01-05', '2024-01-05 09:30:15', '9', 0, NULL),"
       "('A', 'S', '2024-01-04', '2024-01-04 23:00:00', '1', 4, sysdate() - interval 4 month),"
       "('C', 'S', '2024-01-04', '2024-01-04 23:00:00', '1', 4, sysdate() - interval 2 month)");
  Exec(
      "CREATE TRIGGER KVSYSTEM.KVS321BEW_REFUSE BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "IF NEW.BewLfn = '2' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  std::vector<int> marks;
  EXPECT_EQ(FetchPending(&marks), (std::vector<std::string>{"A/9", "A/1", "A/2", "B/1"}));
  EXPECT_EQ(marks, (std::vector<int>{0, 0, 1644, 0}));
  EXPECT_EQ(FetchPending(), std::vector<std::string>{"A/2"});
  EXPECT_EQ(SQL_DeleteTransferred(db_), 0) << db_.last_error;
  BookingRecord record;
  EXPECT_EQ(SQL_FetchBooking(db_, handle_, record), -1);  // nothing selected

  // Each booking as IDN, Lfn, "=", BewUkz ("-" for NULL) and "+" when BewUdt is set.
  const std::string state =
      "SELECT GROUP_CONCAT(BewIDN, BewLfn, '=', IFNULL(BewUkz, '-'), IF(BewUdt IS NULL, '', '+') "
      "ORDER BY BewIDN, BewUhr, BewLfn) FROM KVSYSTEM.KVS321BEW";
  EXPECT_EQ(Query(state), (Rows{{"A1=4,A9=0,A1=-,A2=3,B1=-,C1=4"}}));
  EXPECT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Query(state), (Rows{{"A9=4+,A1=4+,A2=3,C1=4"}}));
}

TEST_F(BookingStatementsTest, FetchFillsTrimsAndClearsNullColumns) {
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewTID, BewLID, BewIDN, BewSto, BewDtm, BewUhr, BewLfn, "
      "BewArt, BewTas, BewEra, BewKze, BewBer, BewErq, BewKst, BewQua, BewSrc, BewRes) VALUES "
      "('tid\t', 'lid', 'M\xFCller ', 'sto', '2024-02-29', '2024-02-29 13:05:09', '7', 'art', "
      "'ta', '201', ' ', 'b', 'erq', 'ab  \t', 'qua', 'DTA ', 'res'),"
      "('t2', NULL, 'N', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      "NULL, NULL)");
  BookingRecord record;
  ASSERT_EQ(SQL_SelectBookings(db_, handle_), 0);
  ASSERT_EQ(SQL_FetchBooking(db_, handle_, record), 0);
  EXPECT_EQ(Fields(record),
            "tid|lid|M\xFCller|sto|20240229000000|20240229130509|7|art|ta|201| |b|erq|ab|qua|DTA|"
            "res|");

  // Nothing of the booking before carries over into NULL columns.
  ASSERT_EQ(SQL_FetchBooking(db_, handle_, record), 0);
  EXPECT_EQ(Fields(record), "t2||N|||||||||||||||");
  EXPECT_EQ(SQL_FetchBooking(db_, handle_, record), kNoMoreRows);
}

// The marking finds exactly the fetched row (quotes, backslashes, trailing
// blanks, NULL keys), whether the table's collation pads trailing blanks or not.
class MarkingTest : public BookingStatementsTest,
                    public ::testing::WithParamInterface<const char*> {};

TEST_P(MarkingTest, MarksExactlyTheFetchedRow) {
  Exec(std::string("ALTER TABLE KVSYSTEM.KVS321BEW CONVERT TO CHARACTER SET latin1 COLLATE ") +
       GetParam());
  Exec(std::string(kInsert) +
       "('O\\'Bri\\\\en  ', 'S1 ', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL),"
       "('', 'S1', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL),"
       "('K', 'S1', '2024-01-05', '2024-01-05 08:00:00', NULL, NULL, NULL),"
       "('x\\' OR \\'1\\'=\\'1', 'S1', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL),"
       "('M\xFCller', 'S1', NULL, '2024-01-05 08:00:00', '1', NULL, NULL),"
       // Already transferred and never to be touched again by these markings.
       "('K', 'S1', '2024-01-05', '2024-01-05 08:00:00', '', 4, NULL),"
       "('M\xFCller', 'S1', '2024-01-05', '2024-01-05 08:00:00', '1', 4, NULL)");
  std::vector<int> marks;
  EXPECT_EQ(FetchPending(&marks).size(), 5u);
  EXPECT_EQ(marks, std::vector<int>(5, 0));
  EXPECT_EQ(FetchPending(), std::vector<std::string>{});  // every booking was marked
  ASSERT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUdt IS NULL"), (Rows{{"2"}}));
}

INSTANTIATE_TEST_SUITE_P(Collations, MarkingTest,
                         ::testing::Values("latin1_swedish_ci", "latin1_swedish_nopad_ci"));

// At READ COMMITTED the purge reads and locks only the index range of the
// rows it deletes (and the entry just past it, the oldest transferred booking
// younger than three months): rows that another transaction holds locked, a
// transferred booking of last month and a pending one, do not make it wait.
TEST_F(BookingStatementsTest, PurgeLeavesOtherRowsUnlocked) {
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewTID, BewIDN, BewUkz, BewDat) SELECT CONCAT('T', seq), "
      "'A', IF(seq % 3 = 0, NULL, 4), sysdate() - INTERVAL IF(seq % 50 = 0, 4, 1) MONTH "
      "- INTERVAL seq MINUTE FROM KVSYSTEM.seq_1_to_300");
  Exec("SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED");
  Exec("START TRANSACTION");
  EXPECT_EQ(Query("SELECT BewTID FROM KVSYSTEM.KVS321BEW WHERE BewTID IN ('T1', 'T3') "
                  "ORDER BY BewTID FOR UPDATE"),
            (Rows{{"T1"}, {"T3"}}));
  for (const char* sql : {"SET SESSION TRANSACTION ISOLATION LEVEL READ COMMITTED",
                          "SET SESSION innodb_lock_wait_timeout = 2"}) {
    ASSERT_EQ(mysql_query(db_.mysql, sql), 0) << mysql_error(db_.mysql);
  }
  EXPECT_EQ(SQL_DeleteTransferred(db_), 0) << db_.last_error;
  EXPECT_EQ(mysql_affected_rows(db_.mysql), 4u);  // T50, T100, T200, T250
  Exec("COMMIT");
}

}  // namespace
