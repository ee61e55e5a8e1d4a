// The statements on the booking table KVSYSTEM.KVS321BEW: server time,
// selection of pending bookings, fetching into the record, marking, purge.
#include "db/booking_statements.h"

#include <cstddef>

namespace {

constexpr char kServerTimeQuery[] = "SELECT date_format(sysdate(),'%d.%m.%Y %H:%i:%s')";

constexpr char kSelectPending[] =
    "SELECT  BewTID, BewLID, BewIDN, BewSto,   date_format(BewDtm, '%Y%m%d000000'),   "
    "date_format(BewUhr, '%Y%m%d%H%i%s'),   BewLfn, BewArt, BewTas, BewEra,   BewKze, BewBer, "
    "BewErq, BewKst,   BewQua, BewSrc, BewRes   FROM  KVSYSTEM.KVS321BEW  WHERE  (BewUkz != 4  OR  "
    "BewUkz IS NULL) ORDER  BY BewIdn, BewDtm, BewUhr, BewLfn";

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

constexpr char kPurgeTransferred[] =
    "DELETE  FROM KVSYSTEM.KVS321BEW  WHERE  BewDat < date_add(sysdate(), interval -3 month)  AND  "
    "BewUkz = 4";

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

}  // namespace

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
  selection.text = kSelectPending;
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

bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& /*form*/, const BookingRecord& record,
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
  return true;
}

int SQL_MarkTranfer(DbConnection& db, const MarkingForm& form, BookingRecord& record) {
  StatementHandle update;
  if (!FormatMarkStatement(db.mysql, form, record, update.text)) return -1;
  return SQL_Execute(db, update);
}

int SQL_DeleteTransferred(DbConnection& db) {
  StatementHandle purge;
  purge.text = kPurgeTransferred;
  return SQL_Execute(db, purge);
}

std::string& TrimRight(std::string& text) {
  const size_t last = text.find_last_not_of(" \t");
  if (last != std::string::npos) text.erase(last + 1);
  return text;
}
