// The statements on the booking table KVSYSTEM.KVS321BEW: server time,
// selection of pending bookings, fetching into the record, marking, purge.
#include "db/booking_statements.h"

#include <cstddef>
#include <cstring>

const char kPendingCondition[] = "(BewUkz != 4  OR  BewUkz IS NULL)";
const char kMarkByKeysPrefix[] =
    "UPDATE  KVSYSTEM.KVS321BEW  SET  BewUkz = 4,  BewUdt = sysdate()  WHERE  (BewIDN, BewSto, "
    "BewDtm, BewUhr, BewLfn) IN (";

namespace {

constexpr char kServerTimeQuery[] = "SELECT date_format(sysdate(),'%d.%m.%Y %H:%i:%s')";

// The selection of pending bookings, around kPendingCondition: its
// seventeen columns, then (where a key is not read as text) the keys once
// more, then the rest.
constexpr char kSelectColumns[] =
    "SELECT  BewTID, BewLID, BewIDN, BewSto,   date_format(BewDtm, '%Y%m%d000000'),   "
    "date_format(BewUhr, '%Y%m%d%H%i%s'),   BewLfn, BewArt, BewTas, BewEra,   BewKze, BewBer, "
    "BewErq, BewKst,   BewQua, BewSrc, BewRes";
constexpr char kSelectFrom[] = "   FROM  KVSYSTEM.KVS321BEW  WHERE  ";
constexpr char kSelectOrder[] = " ORDER  BY BewIdn, BewDtm, BewUhr, BewLfn";

// The key columns, in the order of RowKeyIndex. A key read once more is
// selected under its name with this prefix.
constexpr const char* kKeyColumns[kRowKeyCount] = {"BewIDN", "BewSto", "BewDtm", "BewUhr",
                                                   "BewLfn"};
constexpr char kKeyAlias[] = "Key_";

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

// Asks for the column types of the keys; the rows are not read.
constexpr char kKeyTypesQuery[] =
    "SELECT BewIDN, BewSto, BewDtm, BewUhr, BewLfn FROM KVSYSTEM.KVS321BEW LIMIT 0";

// The table's columns whose texts the latin1 connection may not carry.
constexpr char kOtherCharsetsQuery[] =
    "SELECT COLUMN_NAME, CHARACTER_SET_NAME FROM information_schema.COLUMNS WHERE TABLE_SCHEMA "
    "= 'KVSYSTEM' AND TABLE_NAME = 'KVS321BEW' AND CHARACTER_SET_NAME NOT IN ('latin1', "
    "'binary')";

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
constexpr size_t kKeyFields[kRowKeyCount] = {2, 3, 4, 5, 6};

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
  // Escaped in place, into room for the longest escaping and its NUL.
  const size_t start = statement.size();
  statement.resize(start + 1 + value.size() * 2 + 1);
  statement[start] = '\'';
  const unsigned long length =
      mysql_real_escape_string(mysql, &statement[start + 1], value.data(), value.size());
  if (length == static_cast<unsigned long>(-1)) {
    statement.resize(start);
    return false;
  }
  statement.resize(start + 1 + length);
  statement += '\'';
  return true;
}

// True for the column types whose values the ranges of the marking bound:
// DATE and DATETIME, with or without fractional seconds.
bool IsDateKeyType(enum_field_types type) {
  return type == MYSQL_TYPE_DATE || type == MYSQL_TYPE_NEWDATE || type == MYSQL_TYPE_DATETIME;
}

// True for the text columns whose comparison with a text is the same in a
// list of tuples as alone: CHAR and VARCHAR (binary or not), no ENUM or SET.
bool IsTextKeyField(const MYSQL_FIELD& field) {
  if ((field.flags & (ENUM_FLAG | SET_FLAG)) != 0) return false;
  return field.type == MYSQL_TYPE_VARCHAR || field.type == MYSQL_TYPE_VAR_STRING ||
         field.type == MYSQL_TYPE_STRING;
}

// The key of the column name (column names have no letter case), or kRowKeyCount.
int KeyOfColumn(const char* name) {
  for (int key = 0; key < kRowKeyCount; ++key) {
    const char* a = name;
    const char* b = kKeyColumns[key];
    while (*a != '\0' && *b != '\0' && (*a | 0x20) == (*b | 0x20)) ++a, ++b;
    if (*a == '\0' && *b == '\0') return key;
  }
  return kRowKeyCount;
}

// True for a name fit to follow "_" as a character set introducer.
bool IsCharsetName(const std::string& name) {
  if (name.empty()) return false;
  for (char c : name) {
    if (!((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_')) return false;
  }
  return true;
}

// Reads which of BewIDN, BewSto and BewLfn have a character set other than
// latin1 and binary; those are read as bytes. Returns 0 or the query's status.
int ReadKeyCharsets(DbConnection& db, MarkingForm& form) {
  StatementHandle query;
  query.text = kOtherCharsetsQuery;
  const int status = SQL_Execute(db, query);
  if (status != 0) return status;
  MYSQL_ROW row = nullptr;
  while (SQL_Fetch(db, query, row) == 0) {
    if (row[0] == nullptr || row[1] == nullptr) continue;
    const int key = KeyOfColumn(row[0]);
    if (key == kKeyBewDtm || key == kKeyBewUhr || key == kRowKeyCount) continue;
    if (!IsCharsetName(row[1])) continue;  // left as text; the safety net takes it
    form.keys[key].reading = kKeyAsBytes;
    form.keys[key].charset = row[1];
  }
  SQL_FreeResult(query);
  return 0;
}

// The selection's extra columns for the keys that form does not read as text.
std::string KeyReadingColumns(const MarkingForm& form) {
  std::string columns;
  for (int key = 0; key < kRowKeyCount; ++key) {
    const std::string name = kKeyColumns[key];
    if (form.keys[key].reading == kKeyAsBytes) {
      columns += ", CAST(" + name + " AS BINARY) AS " + kKeyAlias + name;
    } else if (form.keys[key].reading == kKeyAsDouble) {
      columns += ", " + name + " + 0e0 AS " + kKeyAlias + name;
    }
  }
  return columns;
}

// Takes the keys that the selection read once more, found by their names.
void FetchKeyReadings(MYSQL_RES* result, MYSQL_ROW row, const unsigned long* lengths,
                      BookingRecord& record) {
  const size_t alias = sizeof kKeyAlias - 1;
  for (size_t column = kSelectedColumns; column < mysql_num_fields(result); ++column) {
    const char* name = mysql_fetch_field_direct(result, static_cast<unsigned>(column))->name;
    if (std::strncmp(name, kKeyAlias, alias) != 0) continue;
    const int key = KeyOfColumn(name + alias);
    if (key == kRowKeyCount) continue;
    record.keys[key].is_null = row[column] == nullptr;
    record.keys[key].text.assign(row[column] != nullptr ? row[column] : "", lengths[column]);
  }
}

// Appends bytes as a literal of the character set: _utf8mb4 X'C581'.
void AppendBytesLiteral(const std::string& charset, const std::string& bytes,
                        std::string& statement) {
  static const char kHex[] = "0123456789ABCDEF";
  statement += '_';
  statement += charset;
  statement += " X'";
  for (unsigned char c : bytes) {
    statement += kHex[c >> 4];
    statement += kHex[c & 15];
  }
  statement += '\'';
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

// Appends the date of key (YYYYMMDD..., a calendar time) as YYYY-MM-DD.
void AppendDate(const std::string& key, std::string& statement) {
  const char date[] = {key[0], key[1], key[2], key[3], '-', key[4], key[5], '-', key[6], key[7]};
  statement.append(date, sizeof date);
}

// Appends the time of day of key (...HHMMSS, a calendar time) as HH:MM:SS.
void AppendClock(const std::string& key, std::string& statement) {
  const char clock[] = {key[8], key[9], ':', key[10], key[11], ':', key[12], key[13]};
  statement.append(clock, sizeof clock);
}

// Appends the closed ranges on BewDtm (the whole day) and BewUhr (the whole
// second) that the comparisons of the date keys imply. Both keys are calendar
// times, so no escaping is needed.
void AppendDateRanges(const RowKey keys[], std::string& statement) {
  const std::string& day = keys[kKeyBewDtm].text;
  const std::string& stamp = keys[kKeyBewUhr].text;
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
  form = MarkingForm();
  StatementHandle query;
  query.text = kKeyTypesQuery;
  const int executed = SQL_Execute(db, query);
  if (executed != 0) return executed;
  if (query.result != nullptr && mysql_num_fields(query.result) == kRowKeyCount) {
    enum_field_types types[kRowKeyCount];
    bool text_keys = true;
    for (int key = 0; key < kRowKeyCount; ++key) {
      const MYSQL_FIELD& field = *mysql_fetch_field_direct(query.result, key);
      types[key] = field.type;
      if (key != kKeyBewDtm && key != kKeyBewUhr && !IsTextKeyField(field)) text_keys = false;
      if (key != kKeyBewDtm && key != kKeyBewUhr &&
          (types[key] == MYSQL_TYPE_FLOAT || types[key] == MYSQL_TYPE_DOUBLE)) {
        form.keys[key].reading = kKeyAsDouble;
      }
    }
    form.date_ranges = IsDateKeyType(types[kKeyBewDtm]) && IsDateKeyType(types[kKeyBewUhr]);
    form.key_list =
        text_keys &&
        (types[kKeyBewDtm] == MYSQL_TYPE_DATE || types[kKeyBewDtm] == MYSQL_TYPE_NEWDATE) &&
        types[kKeyBewUhr] == MYSQL_TYPE_DATETIME &&
        mysql_fetch_field_direct(query.result, kKeyBewUhr)->decimals == 0;
  }
  SQL_FreeResult(query);
  const int status = ReadKeyCharsets(db, form);
  // A key read as bytes is compared as a literal of its own character set;
  // such a run marks one booking at a time.
  for (const KeyForm& key : form.keys) {
    if (key.reading != kKeyAsText) form.key_list = false;
  }
  if (status != 0) form.key_list = false;
  return status;
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

int SQL_SelectBookings(DbConnection& db, StatementHandle& selection, const MarkingForm& form) {
  selection.text =
      kSelectColumns + KeyReadingColumns(form) + kSelectFrom + kPendingCondition + kSelectOrder;
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
      record.keys[key].text = record.*kSelectedFields[kKeyFields[key]];
      record.keys[key].is_null = row[kKeyFields[key]] == nullptr;
    }
    FetchKeyReadings(selection.result, row, lengths, record);
  }
  for (Field field : kTrimmedFields) TrimRight(record.*field);
  return status;
}

int SQL_CloseBookings(StatementHandle& selection) { return SQL_FreeResult(selection); }

bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& form, const RowKey keys[],
                         std::string& statement) {
  if (mysql == nullptr) return false;
  statement = kMarkPrefix;
  for (int key = 0; key < kRowKeyCount; ++key) {
    if (key > 0) statement += "   AND  ";
    statement += kKeyExpressions[key];
    if (keys[key].is_null) {
      statement += " IS NULL";
    } else if (form.keys[key].reading == kKeyAsBytes) {
      statement += " = ";
      AppendBytesLiteral(form.keys[key].charset, keys[key].text, statement);
    } else {
      statement += " = ";
      if (!AppendQuoted(mysql, keys[key].text, statement)) return false;
    }
  }
  if (form.date_ranges && IsCalendarTime(keys[kKeyBewDtm]) && IsCalendarTime(keys[kKeyBewUhr])) {
    AppendDateRanges(keys, statement);
  }
  return true;
}

bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& form, const BookingRecord& record,
                         std::string& statement) {
  return FormatMarkStatement(mysql, form, record.keys, statement);
}

bool FormatKeyTuple(MYSQL* mysql, const MarkingForm& form, const BookingRecord& record,
                    std::string& tuple) {
  tuple.clear();
  if (mysql == nullptr) return false;
  if (!form.key_list) return true;
  for (const RowKey& key : record.keys) {
    if (key.is_null) return true;
  }
  const RowKey& day = record.keys[kKeyBewDtm];
  const RowKey& stamp = record.keys[kKeyBewUhr];
  if (!IsCalendarTime(day) || !IsCalendarTime(stamp) || day.text.compare(8, 6, "000000") != 0) {
    return true;
  }
  tuple.reserve(96);
  tuple += '(';
  for (int key : {kKeyBewIDN, kKeyBewSto}) {
    if (!AppendQuoted(mysql, record.keys[key].text, tuple)) {
      tuple.clear();
      return false;
    }
    tuple += ", ";
  }
  tuple += "DATE'";
  AppendDate(day.text, tuple);
  tuple += "', TIMESTAMP'";
  AppendDate(stamp.text, tuple);
  tuple += ' ';
  AppendClock(stamp.text, tuple);
  tuple += "', ";
  if (!AppendQuoted(mysql, record.keys[kKeyBewLfn].text, tuple)) {
    tuple.clear();
    return false;
  }
  tuple += ')';
  return true;
}

int SQL_DeleteTransferred(DbConnection& db) {
  StatementHandle purge;
  purge.text = kPurgeTransferred;
  return SQL_Execute(db, purge);
}

int SQL_ProbeMarking(DbConnection& db) {
  StatementHandle probe;
  probe.text = "UPDATE KVSYSTEM.KVS321BEW SET BewUkz = 4, BewUdt = sysdate() WHERE 1 = 0";
  return SQL_Execute(db, probe);
}

int SQL_IsBookingPending(DbConnection& db, const MarkingForm& form, const RowKey booking[],
                         int& pending) {
  BookingRecord record;
  for (int key = 0; key < kRowKeyCount; ++key) record.keys[key] = booking[key];
  std::string marking;
  if (!FormatMarkStatement(db.mysql, form, record, marking)) return -1;
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
  size_t end = text.size();
  while (end > 0 && (text[end - 1] == ' ' || text[end - 1] == '\t')) --end;
  if (end > 0) text.resize(end);
  return text;
}
