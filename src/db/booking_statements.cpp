// The statements on the booking table KVSYSTEM.KVS321BEW: server time,
// selection of pending bookings, fetching into the record, marking, purge.
#include "db/booking_statements.h"

#include <cstddef>

const char kPendingCondition[] = "(BewUkz != 4  OR  BewUkz IS NULL)";

namespace {

constexpr char kServerTimeQuery[] = "SELECT date_format(sysdate(),'%d.%m.%Y %H:%i:%s')";

// The selection of pending bookings, around kPendingCondition.
constexpr char kSelectColumns[] =
    "SELECT  BewTID, BewLID, BewIDN, BewSto,   date_format(BewDtm, '%Y%m%d000000'),   "
    "date_format(BewUhr, '%Y%m%d%H%i%s'),   BewLfn, BewArt, BewTas, BewEra,   BewKze, BewBer, "
    "BewErq, BewKst,   BewQua, BewSrc, BewRes   FROM  KVSYSTEM.KVS321BEW  WHERE  ";
constexpr char kSelectOrder[] = " ORDER  BY BewIdn, BewDtm, BewUhr, BewLfn";

constexpr char kMarkPrefix[] =
    "UPDATE  KVSYSTEM.KVS321BEW  SET  BewUkz = 4,  BewUdt = sysdate()  WHERE  ";

// The left sides of the marking's comparisons, in the order of RowKeyIndex;
// each is compared with the key as the selection delivered it.
constexpr const char* kKeyExpressions[kRowKeyCount] = {
    "BewIDN",
    "BewSto",
    "date_format(BewDtm, '%Y%m%d000000')",
    "date_format(BewUhr, '%Y%m%d%H%i%s')",
    "BewLfn",
};

// Asks for the column types of the two date keys; the rows are not read.
constexpr char kDateKeyTypesQuery[] = "SELECT BewDtm, BewUhr FROM KVSYSTEM.KVS321BEW LIMIT 0";

// The limit is taken from now(), the time the statement began, not from
// sysdate(), the time each row is looked at: only a limit that stays the same
// for the whole statement lets the server read the range of the index on
// (BewUkz, BewDat) instead of the whole table, and lock just the rows it
// deletes. A booking that turns three months old while the statement runs is
// purged by the next run.
constexpr char kPurgeTransferred[] =
    "DELETE  FROM KVSYSTEM.KVS321BEW  WHERE  BewUkz = 4  AND  BewDat < date_add(now(), interval -3 "
    "month)";

using Field = std::string BookingRecord::*;

// The record's fields in the order of the selection's columns.
constexpr Field kSelectedFields[] = {
    &BookingRecord::BewTID, &BookingRecord::BewLID, &BookingRecord::BewIDN, &BookingRecord::BewSto,
    &BookingRecord::BewDtm, &BookingRecord::BewUhr, &BookingRecord::BewLfn, &BookingRecord::BewArt,
    &BookingRecord::BewTas, &BookingRecord::BewEra, &BookingRecord::BewKze, &BookingRecord::BewBer,
    &BookingRecord::BewErq, &BookingRecord::BewKst, &BookingRecord::BewQua, &BookingRecord::BewSrc,
    &BookingRecord::BewRes,
};
constexpr size_t kSelectedColumns = sizeof(kSelectedFields) / sizeof(kSelectedFields[0]);

// The selection's columns of the row keys, in the order of RowKeyIndex.
constexpr size_t kKeyColumns[kRowKeyCount] = {2, 3, 4, 5, 6};

// The fields cleaned of trailing blanks and tabs: all but the two date texts.
constexpr Field kTrimmedFields[] = {
    &BookingRecord::BewTID, &BookingRecord::BewLID, &BookingRecord::BewIDN, &BookingRecord::BewSto,
    &BookingRecord::BewLfn, &BookingRecord::BewArt, &BookingRecord::BewTas, &BookingRecord::BewEra,
    &BookingRecord::BewKze, &BookingRecord::BewBer, &BookingRecord::BewErq, &BookingRecord::BewKst,
    &BookingRecord::BewQua, &BookingRecord::BewSrc, &BookingRecord::BewRes,
};

// Appends value to statement as a quoted literal escaped for the connection's
// character set. Returns false when the client library cannot escape it.
bool AppendQuoted(MYSQL* mysql, const std::string& value, std::string& statement) {
  std::string escaped(value.size() * 2 + 1, '\0');
  const unsigned long length =
      mysql_real_escape_string(mysql, &escaped[0], value.data(), value.size());
  if (length == static_cast<unsigned long>(-1)) return false;
  escaped.resize(length);
  statement += '\'';
  statement += escaped;
  statement += '\'';
  return true;
}

// True for the column types whose values the ranges of the marking bound:
// DATE, DATETIME and TIMESTAMP, with or without fractional seconds.
bool IsDateKeyType(enum_field_types type) {
  return type == MYSQL_TYPE_DATE || type == MYSQL_TYPE_NEWDATE || type == MYSQL_TYPE_DATETIME ||
         type == MYSQL_TYPE_TIMESTAMP;
}

// Reads count decimal digits of text from position at. Returns -1 when one of
// them is not a digit.
int Digits(const std::string& text, size_t at, size_t count) {
  int value = 0;
  for (size_t i = at; i < at + count; ++i) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value = value * 10 + (text[i] - '0');
  }
  return value;
}

// True when key is YYYYMMDDHHMMSS of a real day of the years 1 to 9999 and a
// real time of that day. Zero dates, dates with a zero month or day and dates
// such as 2026-02-30 (stored under ALLOW_INVALID_DATES) are not.
bool IsCalendarTime(const RowKey& key) {
  if (key.is_null || key.text.size() != 14) return false;
  const int year = Digits(key.text, 0, 4);
  const int month = Digits(key.text, 4, 2);
  const int day = Digits(key.text, 6, 2);
  const int hour = Digits(key.text, 8, 2);
  const int minute = Digits(key.text, 10, 2);
  const int second = Digits(key.text, 12, 2);
  if (year < 1 || month < 1 || month > 12 || day < 1 || hour < 0 || hour > 23 || minute < 0 ||
      minute > 59 || second < 0 || second > 59) {
    return false;
  }
  static const int kDaysInMonth[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return day <= kDaysInMonth[month - 1] + (month == 2 && leap ? 1 : 0);
}

// Appends the date of key (YYYYMMDD...) as YYYY-MM-DD.
void AppendDate(const std::string& key, std::string& statement) {
  statement.append(key, 0, 4).append(1, '-').append(key, 4, 2).append(1, '-').append(key, 6, 2);
}

// Appends the time of day of key (...HHMMSS) as HH:MM:SS.
void AppendClock(const std::string& key, std::string& statement) {
  statement.append(key, 8, 2).append(1, ':').append(key, 10, 2).append(1, ':').append(key, 12, 2);
}

// Appends the closed ranges on BewDtm (the whole day) and BewUhr (the whole
// second) that the comparisons of the date keys imply. Both keys are calendar
// times, so no escaping is needed.
void AppendDateRanges(const BookingRecord& record, std::string& statement) {
  const std::string& day = record.keys[kKeyBewDtm].text;
  const std::string& stamp = record.keys[kKeyBewUhr].text;
  statement += "   AND  BewDtm BETWEEN '";
  AppendDate(day, statement);
  statement += " 00:00:00' AND '";
  AppendDate(day, statement);
  statement += " 23:59:59.999999'   AND  BewUhr BETWEEN '";
  AppendDate(stamp, statement);
  statement += ' ';
  AppendClock(stamp, statement);
  statement += "' AND '";
  AppendDate(stamp, statement);
  statement += ' ';
  AppendClock(stamp, statement);
  statement += ".999999'";
}

}  // namespace

int SQL_ReadMarkingForm(DbConnection& db, MarkingForm& form) {
  form.date_ranges = false;
  StatementHandle query;
  query.text = kDateKeyTypesQuery;
  const int executed = SQL_Execute(db, query);
  if (executed != 0) return executed;
  if (query.result != nullptr && mysql_num_fields(query.result) == 2) {
    form.date_ranges = IsDateKeyType(mysql_fetch_field_direct(query.result, 0)->type) &&
                       IsDateKeyType(mysql_fetch_field_direct(query.result, 1)->type);
  }
  SQL_FreeResult(query);
  return 0;
}

int SQL_GetServerTime(DbConnection& db, std::string& server_time) {
  StatementHandle query;
  query.text = kServerTimeQuery;
  const int executed = SQL_Execute(db, query);
  if (executed != 0) return executed;
  MYSQL_ROW row = nullptr;
  const int status = SQL_Fetch(db, query, row);
  if (status == 0 && row[0] != nullptr) {
    server_time.assign(row[0], mysql_fetch_lengths(query.result)[0]);
  }
  SQL_FreeResult(query);
  return status;
}

int SQL_SelectBookings(DbConnection& db, StatementHandle& selection) {
  selection.text = std::string(kSelectColumns) + kPendingCondition + kSelectOrder;
  return SQL_Execute(db, selection);
}

int SQL_FetchBooking(DbConnection& db, StatementHandle& selection, BookingRecord& record) {
  MYSQL_ROW row = nullptr;
  int status = SQL_Fetch(db, selection, row);
  if (status == 0 && mysql_num_fields(selection.result) < kSelectedColumns) status = -1;
  if (status == 0) {
    const unsigned long* lengths = mysql_fetch_lengths(selection.result);
    for (size_t column = 0; column < kSelectedColumns; ++column) {
      std::string& field = record.*kSelectedFields[column];
      if (row[column] != nullptr) {
        field.assign(row[column], lengths[column]);
      } else {
        field.clear();
      }
    }
    for (int key = 0; key < kRowKeyCount; ++key) {
      record.keys[key].text = record.*kSelectedFields[kKeyColumns[key]];
      record.keys[key].is_null = row[kKeyColumns[key]] == nullptr;
    }
  }
  for (Field field : kTrimmedFields) TrimRight(record.*field);
  return status;
}

int SQL_CloseBookings(StatementHandle& selection) { return SQL_FreeResult(selection); }

bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& form, const BookingRecord& record,
                         std::string& statement) {
  if (mysql == nullptr) return false;
  statement = kMarkPrefix;
  for (int key = 0; key < kRowKeyCount; ++key) {
    if (key > 0) statement += "   AND  ";
    statement += kKeyExpressions[key];
    if (record.keys[key].is_null) {
      statement += " IS NULL";
    } else {
      statement += " = ";
      if (!AppendQuoted(mysql, record.keys[key].text, statement)) return false;
    }
  }
  if (form.date_ranges && IsCalendarTime(record.keys[kKeyBewDtm]) &&
      IsCalendarTime(record.keys[kKeyBewUhr])) {
    AppendDateRanges(record, statement);
  }
  return true;
}

int SQL_DeleteTransferred(DbConnection& db) {
  StatementHandle purge;
  purge.text = kPurgeTransferred;
  return SQL_Execute(db, purge);
}

int SQL_IsBookingPending(DbConnection& db, const RowKey booking[], int& pending) {
  BookingRecord record;
  for (int key = 0; key < kRowKeyCount; ++key) record.keys[key] = booking[key];
  std::string marking;
  if (!FormatMarkStatement(db.mysql, MarkingForm(), record, marking)) return -1;
  // The marking's own comparisons find the rows, so the answer is about
  // exactly the rows the marking changed.
  std::string count;
  const int status =
      SQL_QueryValue(db,
                     std::string("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE ") +
                         kPendingCondition + " AND " + marking.substr(sizeof kMarkPrefix - 1),
                     count);
  if (status == 0) pending = count != "0" ? 1 : 0;
  return status;
}

int SQL_CountPending(DbConnection& db, std::string& count) {
  return SQL_QueryValue(
      db, std::string("SELECT COUNT(*) FROM KVSYSTEM.KVS321BEW WHERE ") + kPendingCondition, count);
}

std::string& TrimRight(std::string& text) {
  const size_t last = text.find_last_not_of(" \t");
  if (last != std::string::npos) text.erase(last + 1);
  return text;
}
