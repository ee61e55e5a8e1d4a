// The heart of the run: a booking's code mapped by its source, the export
// filter, the transfer line in BEWDATA.dat, the protocol and console lines,
// and the marking of the booking as transferred.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "export/booking_record.h"
#include "export/transfer_file.h"
#include "log/protocol_log.h"

// One booking ready for the transfer file, the protocol, the console and
// the marking.
struct PreparedBooking {
  std::string line;            // the transfer line; empty when the code is not accepted
  std::string protocol_line;   // accepted bookings only, without line end
  std::string console_line;    // accepted bookings only, with its line end
  std::string mark_statement;  // how the run marks it; empty when it cannot
  RowKey keys[kRowKeyCount];   // the row keys as fetched
  std::string unfound_line;    // the protocol line for a marking that finds no row
};

// What became of the markings of a batch, one entry per booking whose marking ran.
struct BatchMarks {
  std::vector<int> statuses;             // 0, or the status the marking failed with
  std::vector<unsigned long long> rows;  // rows each marking changed
  bool transaction_lost = false;         // the last marking lost the run's transaction
  std::string lost_error;                // the server's text for it
};

// Marks bookings[0, count) in order, several per round trip, and fills marks;
// after a marking that lost the transaction it marks no more. The run passes
// the real marking; tests pass their own.
using MarkBatchFn = void (*)(const std::vector<PreparedBooking>& bookings, size_t count,
                             BatchMarks& marks, void* context);

// What ExportBatch needs of the run, and what it keeps across batches.
struct ExportContext {
  TransferFile* file = nullptr;
  const ProtocolLog* protocol = nullptr;
  FILE* console = nullptr;  // where "/D" output goes; null without "/D"
  MarkBatchFn mark = nullptr;
  void* mark_context = nullptr;
  int exported_count = 0;  // transfer lines written and marked in this run
  // The last booking whose marking changed a row, to recognise the run by.
  bool has_marked = false;
  RowKey marked[kRowKeyCount];
  // The bookings whose markings found no row, reported once per run.
  std::set<std::string> unfound;
};

// ExportBatch's status when a transfer line could not be written; it is also
// the exit status the run then ends with.
constexpr int kTransferWriteFailed = 90;
// The protocol line of a transfer line that could not be written.
extern const char kTransferWriteFailedText[];  // "Schreiben in Zieldatei fehlgeschlagen"

// ExportBatch's status when a marking lost the run's transaction, or the file
// could not be kept in step with the markings: nothing may be committed.
constexpr int kTransactionLost = 2;

// The status of a marking that ran but found no row: its booking is not
// marked, and is handled like a booking whose marking failed.
constexpr int kMarkFoundNoRow = -2;

// Rewrites record.BewEra by the upper-cased BewSrc (and BewKze, BewBer for
// source "40P").
void MapBookingCode(BookingRecord& record);

// True when code is one of the codes the receiving system accepts.
bool IsAcceptedCode(const std::string& code);

// The seventeen comma-separated fields of the transfer line, ended by "\n".
// A CR, LF or comma inside a value is written as one blank.
std::string FormatTransferLine(const BookingRecord& record);

// The booking's protocol line, without line end; a CR or LF inside a value
// is written as a blank.
std::string FormatProtocolLine(const BookingRecord& record);

// The booking's console line ("/D"), with its line end; a CR or LF inside a
// value is written as a blank.
std::string FormatConsoleLine(const BookingRecord& record);

// The protocol line of a booking whose marking found no row: "Buchung nicht
// wiederzufinden: BewIDN %s, BewSto %s, %s %s, BewLfn %s" with the date and
// time of the transfer line; a CR or LF inside a value is written as a blank.
std::string FormatUnfoundLine(const BookingRecord& record);

// Maps the record's code, filters it, and formats its lines into booking.
void PrepareBooking(BookingRecord& record, PreparedBooking& booking);

// Exports a batch of prepared bookings as if one at a time: appends their
// transfer lines, has them marked, takes back the line of a booking whose
// marking failed or found no row, then counts, logs and prints each booking
// in order ("/D": "\nFehler 'SQL_MarkTranfer: %d\n" for a failed marking; a
// marking that found no row is logged and printed with its unfound_line, once
// per run and booking). Returns 0;
// kTransferWriteFailed when a line could not be written (the bookings from it
// on are not handled); kTransactionLost when a marking lost the transaction
// (logged with the server's number and text; the bookings after it are not
// handled, and the lines stay for the run to take back).
int ExportBatch(ExportContext& context, std::vector<PreparedBooking>& batch);
