// The code mapping, the export filter and the lines of one booking.
#include "export/booking_lines.h"

#include <initializer_list>
#include <iterator>

#include "export/str_upper.h"

namespace {

bool IsOneOf(const std::string& value, std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    if (value == text) return true;
  }
  return false;
}

// YYYYMMDD from BewDtm; fewer characters when the text is shorter.
std::string TransferDate(const BookingRecord& record) { return record.BewDtm.substr(0, 8); }

// HHMMSS from BewUhr (characters 9 to 14); empty when the text has no ninth.
std::string TransferTime(const BookingRecord& record) {
  return record.BewUhr.size() > 8 ? record.BewUhr.substr(8, 6) : std::string();
}

// The value with every one of the given characters written as one blank, so
// that a value cannot end a line or, in the transfer line, add a field.
std::string Blanked(const std::string& value, const char* characters) {
  std::string text = value;
  for (char& c : text) {
    for (const char* bad = characters; *bad != '\0'; ++bad) {
      if (c == *bad) c = ' ';
    }
  }
  return text;
}

std::string TransferField(const std::string& value) { return Blanked(value, "\r\n,"); }
std::string LogField(const std::string& value) { return Blanked(value, "\r\n"); }

}  // namespace

void MapBookingCode(BookingRecord& record) {
  std::string source = record.BewSrc;
  StrUpper(source);
  if (source == "DTA") {
    if (IsOneOf(record.BewEra, {"200", "201", "202", "203", "206", "207", "208", "210"})) {
      record.BewEra = "204";
    } else if (IsOneOf(record.BewEra, {"430", "431", "500", "501"})) {
      record.BewEra = "426";
    }
  } else if (source == "40P") {
    record.BewEra = !record.BewKze.empty() || record.BewBer == "1" ? "100" : "204";
  } else if (source == "50P") {
    record.BewEra = "100";
  } else if (source != "62P") {
    record.BewEra = "204";
  }
}

bool IsAcceptedCode(const std::string& code) {
  return IsOneOf(code, {"100", "204", "426", "4", "5", "6", "7", "8", "9", "0", "1"});
}

std::string FormatTransferLine(const BookingRecord& record) {
  const std::string date = TransferDate(record);
  const std::string time = TransferTime(record);
  const std::string* fields[] = {&record.BewIDN, &record.BewSto, &date,          &time,
                                 &record.BewLfn, &record.BewTID, &record.BewLID, &record.BewArt,
                                 &record.BewKst, &record.BewQua, &record.BewKze, &record.BewBer,
                                 &record.BewEra, &record.BewErq, &record.BewTas, &record.BewSrc,
                                 &record.BewRes};
  std::string line = TransferField(*fields[0]);
  for (size_t i = 1; i < std::size(fields); ++i) {
    line += ',';
    line += TransferField(*fields[i]);
  }
  line += '\n';
  return line;
}

std::string FormatProtocolLine(const BookingRecord& record) {
  return LogField(record.BewIDN + ',' + TransferDate(record) + ',' + TransferTime(record) + ',' +
                  record.BewTID + ',' + record.BewLID + ',' + record.BewArt + ", " + record.BewLfn +
                  ", " + record.BewSrc);
}

std::string FormatConsoleLine(const BookingRecord& record) {
  return "ID: " + LogField(record.BewIDN) + ", Buchung vom " +
         LogField(TransferDate(record) + " " + TransferTime(record)) + "  uebergeben\n";
}

void PrepareBooking(BookingRecord& record, PreparedBooking& booking) {
  MapBookingCode(record);
  booking.line.clear();
  booking.protocol_line.clear();
  booking.console_line.clear();
  if (IsAcceptedCode(record.BewEra)) {
    booking.line = FormatTransferLine(record);
    booking.protocol_line = FormatProtocolLine(record);
    booking.console_line = FormatConsoleLine(record);
  }
  for (int key = 0; key < kRowKeyCount; ++key) booking.keys[key] = record.keys[key];
}
