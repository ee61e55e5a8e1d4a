// The statements on the booking table KVSYSTEM.KVS321BEW: server time,
// selection of pending bookings, fetching into the record, marking, purge.
#pragma once

#include <string>

#include "db/db_connection.h"
#include "export/booking_record.h"

// What makes a booking pending, not yet transferred: the WHERE condition of
// the selection, the check of a booking after a crash and the tool's count.
extern const char kPendingCondition[];  // "(BewUkz != 4  OR  BewUkz IS NULL)"

// Reads the server's time as DD.MM.YYYY HH:MM:SS into server_time. Returns the
// status of the fetch (0, 1032, -1) or the error number of the query; on
// failure server_time is unchanged.
int SQL_GetServerTime(DbConnection& db, std::string& server_time);

// How the selection reads a row key for the marking, beside the text that
// the latin1 connection delivers for the lines.
enum KeyReading {
  kKeyAsText,    // that text itself
  kKeyAsBytes,   // the column's own bytes: its character set is not latin1,
                 // so the text may hold "?" for what Windows-1252 lacks
  kKeyAsDouble,  // all the digits of a FLOAT or DOUBLE: the text rounds a FLOAT
};

struct KeyForm {
  KeyReading reading = kKeyAsText;
  std::string charset;  // kKeyAsBytes: the column's character set, e.g. "utf8mb4"
};

// How the run's markings find their rows; read once per run.
struct MarkingForm {
  // The key comparisons are joined by closed ranges on BewDtm and BewUhr that
  // they imply, so that the row-key index answers the marking.
  bool date_ranges = false;
  // The bookings of a batch may be marked by one statement with a list of
  // their keys: BewDtm is a DATE, BewUhr a DATETIME without fractions of a
  // second and BewIDN, BewSto, BewLfn are texts read as text, so that equality
  // with typed values finds the rows that the comparisons of the texts find.
  bool key_list = false;
  KeyForm keys[kRowKeyCount];  // BewIDN, BewSto, BewLfn; the dates are always text
};

// Selects every booking not yet transferred, in the order of BewIDN, BewDtm,
// BewUhr, BewLfn, and stores it whole in selection; a key that form does not
// read as text comes once more after the seventeen columns, in its reading.
// Returns SQL_Execute's status.
int SQL_SelectBookings(DbConnection& db, StatementHandle& selection,
                       const MarkingForm& form = MarkingForm());

// Fetches the next booking of selection into record: every field set, a NULL
// column as the empty text, trailing blanks and tabs removed from all fields
// but BewDtm and BewUhr; record.keys get the row keys as sent, in the reading
// the selection asked for. Returns 0, 1032 after the last booking, or -1.
int SQL_FetchBooking(DbConnection& db, StatementHandle& selection, BookingRecord& record);

// Releases the selection. Returns 0, or -1 when it holds no result.
int SQL_CloseBookings(StatementHandle& selection);

// Asks the server for the key columns' types (from a query that reads no row)
// and character sets (information_schema): form.date_ranges when BewDtm and
// BewUhr are both DATE or DATETIME columns (not TIMESTAMP: in the autumn an
// hour of local time comes twice, so a range of it names one instant of two);
// BewIDN, BewSto and BewLfn read as bytes when their character set is neither
// latin1 nor binary, as doubles when they are FLOAT or DOUBLE. Returns 0, or
// the failed query's status with the rest left as text without ranges. Like
// every statement on the table it begins the transaction, so set the
// transaction's isolation level before calling it.
int SQL_ReadMarkingForm(DbConnection& db, MarkingForm& form);

// Formats the marking of the row of record.keys (BewUkz = 4, BewUdt = now)
// into statement, each key escaped for the connection; a key read as bytes is
// compared as a literal in its column's character set (_utf8mb4 X'...'), so
// under the column's own collation. With form.date_ranges,
// and when both date keys are real calendar times, the comparisons are joined
// by BewDtm BETWEEN that day's first and last microsecond and BewUhr BETWEEN
// that second's first and last microsecond. Returns false when
// there is no connection or the client library cannot escape a key.
bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& form, const BookingRecord& record,
                         std::string& statement);
// The same for the row keys keys[kRowKeyCount].
bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& form, const RowKey keys[],
                         std::string& statement);

// The start of the marking of a batch by its keys, followed by
// "(BewIDN, BewSto, BewDtm, BewUhr, BewLfn) IN (" and the key tuples.
extern const char kMarkByKeysPrefix[];

// Formats the keys of record as a tuple of that list into tuple: the texts
// escaped for the connection, the dates as typed values,
// ('A', 'S', DATE'2024-01-05', TIMESTAMP'2024-01-05 08:00:00', '1'). With
// form.key_list and when no key is NULL and both date keys are real calendar
// times; else tuple is left empty and the booking is marked by its own
// statement. Returns false when there is no connection or the client library
// cannot escape a key.
bool FormatKeyTuple(MYSQL* mysql, const MarkingForm& form, const BookingRecord& record,
                    std::string& tuple);

// Deletes transferred bookings whose BewDat lies more than three months back.
// Returns SQL_Execute's status.
int SQL_DeleteTransferred(DbConnection& db);

// Runs a marking that matches no row, to tell a refusal of one booking (a
// trigger, a lock wait) from one of every marking: the server checks the
// privileges, the table and its read-only state before it looks at a row.
// Returns 0 when such a marking is accepted, otherwise SQL_Execute's status
// (1142 or 1143 without the privilege, 1146 without the table, 1290 or 1836
// on a read-only server, ...).
int SQL_ProbeMarking(DbConnection& db);

// Asks whether the booking with the row keys booking (as they were read and
// marked in form) is still pending: pending becomes 1 when a row with those
// keys is not marked transferred, 0 when every such row is marked or none is
// left. Returns 0, or the status of the failed query.
int SQL_IsBookingPending(DbConnection& db, const MarkingForm& form, const RowKey booking[],
                         int& pending);

// Counts the pending bookings into count, a consistent read that neither
// takes nor waits for row locks. Returns SQL_QueryValue's status.
int SQL_CountPending(DbConnection& db, std::string& count);

// Removes trailing blanks and tabs; a text of nothing else stays as it is.
std::string& TrimRight(std::string& text);
