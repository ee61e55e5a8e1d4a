// The heart of the run: a booking's code mapped by its source, the export
// filter, the transfer line in BEWDATA.dat, the protocol and console lines,
// and the marking of the booking as transferred.
#pragma once

#include <cstdio>
#include <string>

#include "export/booking_record.h"
#include "log/protocol_log.h"

// Marks the booking in record as transferred. Returns 0 or the database
// status. The run passes the real marking; tests pass their own.
using MarkBookingFn = int (*)(BookingRecord& record, void* context);

// What ExportBooking needs of the run, and the count it keeps.
struct ExportContext {
  std::string transfer_path;  // the transfer file, e.g. "D:\EXPORT/BEWDATA.dat"
  const ProtocolLog* protocol = nullptr;
  FILE* console = nullptr;  // where "/D" output goes; null without "/D"
  MarkBookingFn mark = nullptr;
  void* mark_context = nullptr;
  int exported_count = 0;  // transfer lines written in this run
};

// ExportBooking's status for a transfer line that could not be written; it is
// also the exit status the run then ends with.
constexpr int kTransferWriteFailed = 90;

// Rewrites record.BewEra by the upper-cased BewSrc (and BewKze, BewBer for
// source "40P").
void MapBookingCode(BookingRecord& record);

// True when code is one of the codes the receiving system accepts.
bool IsAcceptedCode(const std::string& code);

// The seventeen comma-separated fields of the transfer line, ended by "\n".
std::string FormatTransferLine(const BookingRecord& record);

// The booking's protocol line, without line end.
std::string FormatProtocolLine(const BookingRecord& record);

// The booking's console line ("/D"), with its line end.
std::string FormatConsoleLine(const BookingRecord& record);

// Appends text to the file at path in binary mode. Returns 0, or -1 when the
// file cannot be opened, written completely or closed; the file is then cut
// back to the size it had before the call, so no partial line stays.
int AppendTransferLine(const std::string& path, const std::string& text);

// Maps, filters and writes one booking, then has it marked. Returns the
// marking's status (0 or the database status), or kTransferWriteFailed when
// the transfer line could not be written: the booking is then neither
// counted nor marked, and nothing is logged or printed for it.
int ExportBooking(ExportContext& context, BookingRecord& record);
