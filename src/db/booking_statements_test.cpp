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

class BookingStatementsTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    ASSERT_EQ(SQL_Connect(db_, TestDbUser(), TestDbPassword(), "", "KVSYSTEM"), 0)
        << db_.last_error;
  }
  void TearDown() override {
    SQL_CloseBookings(selection_);
    SQL_Close(db_);
    DatabaseTest::TearDown();
  }

  // Selects the pending bookings and fetches them all, marking each one when
  // mark is set. Returns "BewIDN/BewLfn" of each booking fetched.
  std::vector<std::string> FetchPending(bool mark, std::vector<int>* mark_statuses = nullptr) {
    std::vector<std::string> fetched;
    EXPECT_EQ(SQL_SelectBookings(db_, selection_), 0) << db_.last_error;
    BookingRecord record;
    int status;
    while ((status = SQL_FetchBooking(db_, selection_, record)) == 0) {
      fetched.push_back(record.BewIDN + "/" + record.BewLfn);
      const int marked = mark ? SQL_MarkTranfer(db_, record) : 0;
      if (mark_statuses != nullptr) mark_statuses->push_back(marked);
    }
    EXPECT_EQ(status, kNoMoreRows);
    EXPECT_EQ(SQL_CloseBookings(selection_), 0);
    return fetched;
  }

  DbConnection db_;
  StatementHandle selection_;
};

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
  std::string server_time = "unchanged";
  ASSERT_EQ(SQL_GetServerTime(db_, server_time), 0);
  EXPECT_TRUE(std::regex_match(server_time, std::regex(R"(\d\d\.\d\d\.\d{4} \d\d:\d\d:\d\d)")))
      << server_time;
  const Rows today = Query("SELECT date_format(sysdate(), '%d.%m.%Y')");
  EXPECT_EQ(server_time.substr(0, 10), today.at(0).at(0));

  Exec("KILL CONNECTION " + std::to_string(mysql_thread_id(db_.mysql)));
  server_time = "unchanged";
  EXPECT_GT(SQL_GetServerTime(db_, server_time), 0);
  EXPECT_EQ(server_time, "unchanged");
}

TEST_F(BookingStatementsTest, SelectsPendingBookingsInKeyOrder) {
  BookingRecord record;
  ASSERT_EQ(SQL_SelectBookings(db_, selection_), 0);
  EXPECT_EQ(SQL_FetchBooking(db_, selection_, record), kNoMoreRows);
  EXPECT_EQ(record.BewIDN + record.BewDtm + record.BewKst, "");
  SQL_CloseBookings(selection_);
  // A new transaction, so that the selection below reads the rows added now.
  ASSERT_EQ(SQL_Commit(db_), 1);

  Exec(std::string(kInsert) +
       "('B', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL),"
       "('A', 'S', '2024-01-05', '2024-01-05 10:00:00', '2', 3, NULL),"
       "('A', 'S', '2024-01-05', '2024-01-05 10:00:00', '1', NULL, NULL),"
       "('A', 'S', '2024-01-05', '2024-01-05 09:30:15', '9', 0, NULL),"
       "('A', 'S', '2024-01-04', '2024-01-04 23:00:00', '1', 4, NULL)");
  EXPECT_EQ(FetchPending(false), (std::vector<std::string>{"A/9", "A/1", "A/2", "B/1"}));

  ASSERT_EQ(SQL_SelectBookings(db_, selection_), 0);
  ASSERT_EQ(SQL_FetchBooking(db_, selection_, record), 0);
  EXPECT_EQ(record.BewDtm, "20240105000000");
  EXPECT_EQ(record.BewUhr, "20240105093015");
  EXPECT_EQ(SQL_CloseBookings(selection_), 0);
  EXPECT_EQ(SQL_CloseBookings(selection_), -1);

  // A failed selection leaves nothing to fetch and nothing to release. The
  // commit ends the reading transaction, which would hold off the drop.
  ASSERT_EQ(SQL_Commit(db_), 1);
  Exec("DROP TABLE KVSYSTEM.KVS321BEW");
  EXPECT_EQ(SQL_SelectBookings(db_, selection_), 1146);
  EXPECT_EQ(SQL_FetchBooking(db_, selection_, record), -1);
  EXPECT_EQ(record.BewUhr, "20240105093015");
  EXPECT_EQ(SQL_CloseBookings(selection_), -1);
}

TEST_F(BookingStatementsTest, FetchFillsTrimsAndClearsNullColumns) {
  Exec(
      "INSERT INTO KVSYSTEM.KVS321BEW (BewTID, BewLID, BewIDN, BewSto, BewDtm, BewUhr, BewLfn, "
      "BewArt, BewTas, BewEra, BewKze, BewBer, BewErq, BewKst, BewQua, BewSrc, BewRes) VALUES "
      "('tid\t', 'lid', 'M\xFC"
      "ller ', 'sto', '2024-02-29', '2024-02-29 13:05:09', '7', 'art', "
      "'ta', '201', ' ', 'b', 'erq', 'ab  \t', 'qua', 'DTA ', 'res'),"
      "('t2', NULL, 'N', NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, NULL, "
      "NULL, NULL)");
  BookingRecord record;
  ASSERT_EQ(SQL_SelectBookings(db_, selection_), 0);
  ASSERT_EQ(SQL_FetchBooking(db_, selection_, record), 0);
  const std::vector<std::string> first = {
      record.BewTID, record.BewLID, record.BewIDN, record.BewSto, record.BewDtm, record.BewUhr,
      record.BewLfn, record.BewArt, record.BewTas, record.BewEra, record.BewKze, record.BewBer,
      record.BewErq, record.BewKst, record.BewQua, record.BewSrc, record.BewRes};
  EXPECT_EQ(first,
            (std::vector<std::string>{"tid", "lid",
                                      "M\xFC"
                                      "ller",
                                      "sto", "20240229000000", "20240229130509", "7", "art", "ta",
                                      "201", " ", "b", "erq", "ab", "qua", "DTA", "res"}));
  EXPECT_EQ(record.keys[kKeyBewIDN].text,
            "M\xFC"
            "ller ");
  EXPECT_FALSE(record.keys[kKeyBewIDN].is_null);
  EXPECT_EQ(record.keys[kKeyBewDtm].text, "20240229000000");

  // Nothing of the booking before carries over into NULL columns.
  ASSERT_EQ(SQL_FetchBooking(db_, selection_, record), 0);
  EXPECT_EQ(record.BewIDN, "N");
  EXPECT_EQ(record.BewLID + record.BewSto + record.BewDtm + record.BewUhr + record.BewLfn +
                record.BewEra + record.BewKze + record.BewKst + record.BewSrc + record.BewRes,
            "");
  EXPECT_FALSE(record.keys[kKeyBewIDN].is_null);
  for (int key = kKeyBewSto; key < kRowKeyCount; ++key) {
    EXPECT_TRUE(record.keys[key].is_null) << key;
    EXPECT_EQ(record.keys[key].text, "") << key;
  }
  EXPECT_EQ(SQL_FetchBooking(db_, selection_, record), kNoMoreRows);
  EXPECT_EQ(record.BewIDN, "N");
}

TEST_F(BookingStatementsTest, MarkingsAndPurgeBelongToOneTransaction) {
  Exec(std::string(kInsert) +
       "('old-pending', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL,"
       " date_add(sysdate(), interval -4 month)),"
       "('recent-pending', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', 3,"
       " date_add(sysdate(), interval -2 month)),"
       "('old-done', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', 4,"
       " date_add(sysdate(), interval -4 month)),"
       "('recent-done', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', 4,"
       " date_add(sysdate(), interval -2 month))");
  std::vector<int> marked;
  EXPECT_EQ(FetchPending(true, &marked),
            (std::vector<std::string>{"old-pending/1", "recent-pending/1"}));
  EXPECT_EQ(marked, (std::vector<int>{0, 0}));
  EXPECT_EQ(SQL_DeleteTransferred(db_), 0) << db_.last_error;

  const std::string marks = "SELECT BewIDN, BewUkz FROM KVSYSTEM.KVS321BEW ORDER BY BewIDN";
  EXPECT_EQ(Query(marks), (Rows{{"old-done", "4"},
                                {"old-pending", "<NULL>"},
                                {"recent-done", "4"},
                                {"recent-pending", "3"}}));
  EXPECT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Query(marks), (Rows{{"recent-done", "4"}, {"recent-pending", "4"}}));
  EXPECT_EQ(Query("SELECT BewUdt IS NOT NULL FROM KVSYSTEM.KVS321BEW WHERE BewIDN = "
                  "'recent-pending'"),
            (Rows{{"1"}}));
}

// The marking finds exactly the fetched row, whether the table's collation
// pads trailing blanks or not.
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
       "('M\xFC"
       "ller', 'S1', NULL, '2024-01-05 08:00:00', '1', NULL, NULL),"
       // Already transferred and never to be touched again by these markings.
       "('K', 'S1', '2024-01-05', '2024-01-05 08:00:00', '', 4, NULL),"
       "('M\xFC"
       "ller', 'S1', '2024-01-05', '2024-01-05 08:00:00', '1', 4, NULL)");
  std::vector<int> marked;
  EXPECT_EQ(FetchPending(true, &marked).size(), 5u);
  EXPECT_EQ(marked, std::vector<int>(5, 0));
  // Every booking was marked, so none is selected again.
  EXPECT_EQ(FetchPending(false), std::vector<std::string>{});
  ASSERT_EQ(SQL_Commit(db_), 1);
  EXPECT_EQ(Query("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE BewUdt IS NULL"), (Rows{{"2"}}));
}

INSTANTIATE_TEST_SUITE_P(Collations, MarkingTest,
                         ::testing::Values("latin1_swedish_ci", "latin1_swedish_nopad_ci"));

TEST_F(BookingStatementsTest, RefusedMarkingDoesNotEndTheFetching) {
  Exec(std::string(kInsert) +
       "('A', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL),"
       "('B', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL),"
       "('C', 'S', '2024-01-05', '2024-01-05 08:00:00', '1', NULL, NULL)");
  Exec(
      "CREATE TRIGGER KVSYSTEM.KVS321BEW_REFUSE BEFORE UPDATE ON KVSYSTEM.KVS321BEW FOR EACH ROW "
      "IF NEW.BewIDN = 'B' THEN SIGNAL SQLSTATE '45000' SET MESSAGE_TEXT = 'refused'; END IF");
  std::vector<int> marked;
  EXPECT_EQ(FetchPending(true, &marked), (std::vector<std::string>{"A/1", "B/1", "C/1"}));
  EXPECT_EQ(marked, (std::vector<int>{0, 1644, 0}));
  EXPECT_EQ(FetchPending(false), std::vector<std::string>{"B/1"});
}

}  // namespace
