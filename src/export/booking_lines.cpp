// The code mapping, the export filter and the lines of one booking.
#include "export/booking_lines.h"

#include <algorithm>
#include <initializer_list>

#include "export/str_upper.h"

namespace {

bool IsOneOf(const std::string& value, std::initializer_list<const char*> texts) {
  for (const char* text : texts) {
    if (value == text) return true;
  }
  return false;
}

// Appends value with every CR and LF (and with commas, every comma) written
// as one blank, so that a value cannot end a line or, in the transfer line,
// add a field.
void AppendBlanked(std::string& out, const char* value, size_t size, bool commas) {
  const size_t start = out.size();
  out.append(value, size);
  for (size_t i = start; i < out.size(); ++i) {
    const char c = out[i];
    if (c == '\r' || c == '\n' || (commas && c == ',')) out[i] = ' ';
  }
}
void AppendBlanked(std::string& out, const std::string& value, bool commas) {
  AppendBlanked(out, value.data(), value.size(), commas);
}

// YYYYMMDD from BewDtm (fewer characters when the text is shorter), the
// separator, and HHMMSS from BewUhr (characters 9 to 14; nothing when the
// text has no ninth).
void AppendTransferDateTime(std::string& out, const std::string& day, char separator,
                            const std::string& stamp, bool commas) {
  AppendBlanked(out, day.data(), std::min<size_t>(day.size(), 8), commas);
  out += separator;
  if (stamp.size() > 8) {
    AppendBlanked(out, stamp.data() + 8, std::min<size_t>(stamp.size() - 8, 6), commas);
  }
}

constexpr bool kTransfer = true;  // commas blanked too
constexpr bool kLog = false;

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
  const std::string* after_time[] = {&record.BewLfn, &record.BewTID, &record.BewLID, &record.BewArt,
                                     &record.BewKst, &record.BewQua, &record.BewKze, &record.BewBer,
                                     &record.BewEra, &record.BewErq, &record.BewTas, &record.BewSrc,
                                     &record.BewRes};
  std::string line;
  line.reserve(160);
  AppendBlanked(line, record.BewIDN, kTransfer);
  line += ',';
  AppendBlanked(line, record.BewSto, kTransfer);
  line += ',';
  AppendTransferDateTime(line, record.BewDtm, ',', record.BewUhr, kTransfer);
  for (const std::string* field : after_time) {
    line += ',';
    AppendBlanked(line, *field, kTransfer);
  }
  line += '\n';
  return line;
}

std::string FormatProtocolLine(const BookingRecord& record) {
  std::string line;
  line.reserve(96);
  AppendBlanked(line, record.BewIDN, kLog);
  line += ',';
  AppendTransferDateTime(line, record.BewDtm, ',', record.BewUhr, kLog);
  for (const std::string* field : {&record.BewTID, &record.BewLID, &record.BewArt}) {
    line += ',';
    AppendBlanked(line, *field, kLog);
  }
  line += ", ";
  AppendBlanked(line, record.BewLfn, kLog);
  line += ", ";
  AppendBlanked(line, record.BewSrc, kLog);
  return line;
}

std::string FormatConsoleLine(const BookingRecord& record) {
  std::string line = "ID: ";
  AppendBlanked(line, record.BewIDN, kLog);
  line += ", Buchung vom ";
  AppendTransferDateTime(line, record.BewDtm, ' ', record.BewUhr, kLog);
  line += "  uebergeben\n";
  return line;
}

std::string FormatUnfoundLine(const UnfoundBooking& booking) {
  std::string line = "Buchung nicht wiederzufinden: BewIDN ";
  AppendBlanked(line, booking.BewIDN, kLog);
  line += ", BewSto ";
  AppendBlanked(line, booking.BewSto, kLog);
  line += ", ";
  AppendTransferDateTime(line, booking.BewDtm, ' ', booking.BewUhr, kLog);
  line += ", BewLfn ";
  AppendBlanked(line, booking.BewLfn, kLog);
  return line;
}

void PrepareBooking(BookingRecord& record, PreparedBooking& booking, bool with_console) {
  MapBookingCode(record);
  booking.line.clear();
  booking.protocol_line.clear();
  booking.console_line.clear();
  if (IsAcceptedCode(record.BewEra)) {
    booking.line = FormatTransferLine(record);
    booking.protocol_line = FormatProtocolLine(record);
    if (with_console) booking.console_line = FormatConsoleLine(record);
  }
  for (int key = 0; key < kRowKeyCount; ++key) booking.keys[key] = record.keys[key];
  booking.unfound = {record.BewIDN, record.BewSto, record.BewDtm, record.BewUhr, record.BewLfn};
}
