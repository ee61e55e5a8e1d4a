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

// Selects every booking not yet transferred, in the order of BewIDN, BewDtm,
// BewUhr, BewLfn, and stores it whole in selection. Returns SQL_Execute's status.
int SQL_SelectBookings(DbConnection& db, StatementHandle& selection);

// Fetches the next booking of selection into record: every field set, a NULL
// column as the empty text, trailing blanks and tabs removed from all fields
// but BewDtm and BewUhr; record.keys get the row keys as sent. Returns 0,
// 1032 after the last booking, or -1.
int SQL_FetchBooking(DbConnection& db, StatementHandle& selection, BookingRecord& record);

// Releases the selection. Returns 0, or -1 when it holds no result.
int SQL_CloseBookings(StatementHandle& selection);

// How the run's markings find their rows; read once per run.
struct MarkingForm {
  // The key comparisons are joined by closed ranges on BewDtm and BewUhr that
  // they imply, so that the row-key index answers the marking.
  bool date_ranges = false;
};

// Asks the server whether BewDtm and BewUhr are both DATE, DATETIME or
// TIMESTAMP columns (from the column types of a query that reads no row) and
// sets form.date_ranges accordingly. Returns 0, or SQL_Execute's status with
// form.date_ranges false. Like every statement on the table it begins the
// transaction, so set the transaction's isolation level before calling it.
int SQL_ReadMarkingForm(DbConnection& db, MarkingForm& form);

// Formats the marking of the row of record.keys (BewUkz = 4, BewUdt = now)
// into statement, each key escaped for the connection. With form.date_ranges,
// and when both date keys are real calendar times, the comparisons are joined
// by BewDtm BETWEEN that day's first and last microsecond and BewUhr BETWEEN
// that second's first and last microsecond. Returns false when
// there is no connection or the client library cannot escape a key.
bool FormatMarkStatement(MYSQL* mysql, const MarkingForm& form, const BookingRecord& record,
                         std::string& statement);

// Deletes transferred bookings whose BewDat lies more than three months back.
// Returns SQL_Execute's status.
int SQL_DeleteTransferred(DbConnection& db);

// Asks whether the booking with the row keys booking (as they were marked)
// is still pending: pending becomes 1 when a row with those keys is not
// marked transferred, 0 when every such row is marked or none is left.
// Returns 0, or the status of the failed query.
int SQL_IsBookingPending(DbConnection& db, const RowKey booking[], int& pending);

// Counts the pending bookings into count, a consistent read that neither
// takes nor waits for row locks. Returns SQL_QueryValue's status.
int SQL_CountPending(DbConnection& db, std::string& count);

// Removes trailing blanks and tabs; a text of nothing else stays as it is.
std::string& TrimRight(std::string& text);
