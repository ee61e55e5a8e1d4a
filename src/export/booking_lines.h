// The lines of a booking: its code mapped by its source, the export filter,
// the transfer line in BEWDATA.dat, and its protocol and console lines.
#pragma once

#include <string>

#include "export/booking_record.h"

// What the protocol line of a marking that finds no row names, kept from the
// record: the line itself is formatted only for such a booking.
struct UnfoundBooking {
  std::string BewIDN, BewSto, BewDtm, BewUhr, BewLfn;
};

// One booking ready for the transfer file, the protocol, the console and
// the marking.
struct PreparedBooking {
  std::string line;            // the transfer line; empty when the code is not accepted
  std::string protocol_line;   // accepted bookings only, without line end
  std::string console_line;    // accepted bookings only, with its line end; "/D" only
  std::string mark_statement;  // its own marking when not listed; empty when it has none
  std::string key_tuple;       // its keys in the batch's list; empty when not listed
  RowKey keys[kRowKeyCount];   // the row keys as fetched
  UnfoundBooking unfound;      // for the protocol line of a marking that finds no row
};

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
std::string FormatUnfoundLine(const UnfoundBooking& booking);

// Maps the record's code, filters it, and formats its lines into booking; the
// console line only with_console ("/D").
void PrepareBooking(BookingRecord& record, PreparedBooking& booking, bool with_console);
