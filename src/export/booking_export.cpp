// The export of a batch: lines appended, marked, kept in step, reported.
#include "export/booking_export.h"

#include <cstdio>

const char kTransferWriteFailedText[] = "Schreiben in Zieldatei fehlgeschlagen";

namespace {

void WriteConsole(FILE* console, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), console);
  std::fflush(console);
}

// The transfer lines of bookings[0, count) that are to stay in the file:
// those of accepted bookings, and with marks, only of those marked.
std::vector<const std::string*> LinesOf(const std::vector<PreparedBooking>& bookings, size_t count,
                                        const BatchMarks* marks) {
  std::vector<const std::string*> lines;
  for (size_t i = 0; i < count; ++i) {
    if (bookings[i].line.empty()) continue;
    if (marks != nullptr && (i >= marks->statuses.size() || marks->statuses[i] != 0)) continue;
    lines.push_back(&bookings[i].line);
  }
  return lines;
}

// How many bookings come before the accepted one whose line is number
// `lines` of the batch (all of them when there are not that many).
size_t BookingsBeforeLine(const std::vector<PreparedBooking>& bookings, size_t lines) {
  for (size_t i = 0; i < bookings.size(); ++i) {
    if (bookings[i].line.empty()) continue;
    if (lines == 0) return i;
    --lines;
  }
  return bookings.size();
}

// A marking that ran without error but found no row has not marked its
// booking: it counts as failed, so that its line is taken back and the
// booking stays pending rather than go out again with every run.
void FailUnfoundMarkings(BatchMarks& marks) {
  for (size_t i = 0; i < marks.statuses.size() && i < marks.rows.size(); ++i) {
    if (marks.statuses[i] == 0 && marks.rows[i] == 0) marks.statuses[i] = kMarkFoundNoRow;
  }
}

// Reports a booking whose marking found no row, the first time in the run.
void ReportUnfound(ExportContext& context, const PreparedBooking& booking,
                   std::vector<const std::string*>& protocol_lines) {
  const auto reported = context.unfound.insert(FormatUnfoundLine(booking.unfound));
  if (!reported.second) return;
  protocol_lines.push_back(&*reported.first);
  if (context.console != nullptr) WriteConsole(context.console, *reported.first + "\n");
}

// Counts and prints what one booking leaves on the console once its marking
// is known; its protocol line is collected in protocol_lines.
void ReportBooking(ExportContext& context, const PreparedBooking& booking, int status,
                   std::vector<const std::string*>& protocol_lines) {
  if (status == kMarkFoundNoRow) {
    ReportUnfound(context, booking, protocol_lines);
  } else if (status == 0) {
    if (booking.line.empty()) return;
    ++context.exported_count;
    protocol_lines.push_back(&booking.protocol_line);
    if (context.console != nullptr) WriteConsole(context.console, booking.console_line);
  } else if (context.console != nullptr) {
    WriteConsole(context.console, "\nFehler 'SQL_MarkTranfer: " + std::to_string(status) + "\n");
  }
}

}  // namespace

int ExportBatch(ExportContext& context, std::vector<PreparedBooking>& batch) {
  TransferFile& file = *context.file;
  const long long batch_start = file.size;
  const std::vector<const std::string*> lines = LinesOf(batch, batch.size(), nullptr);
  size_t written = 0;
  const bool write_failed = AppendTransferLines(file, lines, written) != 0;
  // A booking whose line did not fit is not handled, nor is any after it.
  const size_t handled = write_failed ? BookingsBeforeLine(batch, written) : batch.size();

  BatchMarks marks;
  if (handled > 0 && context.mark != nullptr) {
    context.mark(batch, handled, marks, context.mark_context);
    FailUnfoundMarkings(marks);
  } else {
    marks.statuses.assign(handled, 0);
    marks.rows.assign(handled, 0);
  }
  bool in_step = true;
  if (!marks.transaction_lost) {
    // A booking whose marking failed keeps its line out of the file.
    const std::vector<const std::string*> kept = LinesOf(batch, handled, &marks);
    if (kept.size() != written) {
      size_t rewritten = 0;
      in_step = CutBackTransferFile(file, batch_start) == 0 &&
                AppendTransferLines(file, kept, rewritten) == 0;
    }
  }

  std::vector<const std::string*> protocol_lines;
  for (size_t i = 0; i < marks.statuses.size(); ++i) {
    ReportBooking(context, batch[i], marks.statuses[i], protocol_lines);
    if (marks.statuses[i] == 0 && marks.rows[i] > 0) {
      context.has_marked = true;
      for (int key = 0; key < kRowKeyCount; ++key) context.marked[key] = batch[i].keys[key];
    }
  }
  if (context.protocol != nullptr) WriteProtocolLines(*context.protocol, protocol_lines);
  if (marks.transaction_lost) {
    if (context.protocol != nullptr) {
      WriteProtocol(*context.protocol,
                    "Markieren fehlgeschlagen, Fehler: " + std::to_string(marks.statuses.back()) +
                        ", " + marks.lost_error);
    }
    return kTransactionLost;
  }
  if (!in_step) return kTransferOutOfStep;
  return write_failed ? kTransferWriteFailed : 0;
}
