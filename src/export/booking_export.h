// The export of a batch of bookings: their transfer lines appended, their
// markings had, the line of a booking whose marking failed taken back, and
// each booking counted, logged and printed.
#pragma once

#include <cstdio>
#include <set>
#include <string>
#include <vector>

#include "export/batch_marks.h"
#include "export/booking_lines.h"
#include "export/booking_record.h"
#include "export/transfer_file.h"
#include "log/protocol_log.h"

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

// ExportBatch's status when a marking lost the run's transaction: nothing may
// be committed.
constexpr int kTransactionLost = 2;

// ExportBatch's status when the line of a booking whose marking failed could
// not be taken back out of the file: the file is out of step with the
// markings, so nothing may be committed, and the run ends as for a line that
// could not be written.
constexpr int kTransferOutOfStep = 3;

// The status of a marking that ran but found no row: its booking is not
// marked, and is handled like a booking whose marking failed.
constexpr int kMarkFoundNoRow = -2;

// Exports a batch of prepared bookings as if one at a time: appends their
// transfer lines, has them marked, takes back the line of a booking whose
// marking failed or found no row, then counts, logs and prints each booking
// in order ("/D": "\nFehler 'SQL_MarkTranfer: %d\n" for a failed marking; a
// marking that found no row is logged and printed with FormatUnfoundLine, once
// per run and booking). Returns 0;
// kTransferWriteFailed when a line could not be written (the bookings from it
// on are not handled); kTransactionLost when a marking lost the transaction
// (logged with the server's number and text; the bookings after it are not
// handled, and the lines stay for the run to take back); kTransferOutOfStep
// (the lines stay for the run to take back).
int ExportBatch(ExportContext& context, std::vector<PreparedBooking>& batch);
