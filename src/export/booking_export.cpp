// Code mapping, export filter, transfer/protocol/console lines and marking of
// one booking.
#include "export/booking_export.h"

#include <cstdio>
#include <filesystem>
#include <initializer_list>
#include <iterator>
#include <system_error>

#include "export/str_upper.h"
#include "platform/platform.h"

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

void WriteConsole(FILE* console, const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), console);
  std::fflush(console);
}

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
  std::string line = *fields[0];
  for (size_t i = 1; i < std::size(fields); ++i) {
    line += ',';
    line += *fields[i];
  }
  line += '\n';
  return line;
}

std::string FormatProtocolLine(const BookingRecord& record) {
  return record.BewIDN + ',' + TransferDate(record) + ',' + TransferTime(record) + ',' +
         record.BewTID + ',' + record.BewLID + ',' + record.BewArt + ", " + record.BewLfn + ", " +
         record.BewSrc;
}

std::string FormatConsoleLine(const BookingRecord& record) {
  return "ID: " + record.BewIDN + ", Buchung vom " + TransferDate(record) + " " +
         TransferTime(record) + "  uebergeben\n";
}

int AppendTransferLine(const std::string& path, const std::string& text) {
  FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return -1;
  std::error_code error;
  const auto size_before = std::filesystem::file_size(path, error);
  if (error) {
    std::fclose(file);
    return -1;
  }
  const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
  const bool closed = std::fclose(file) == 0;
  if (written && closed) return 0;
  // The receiving system reads whole lines; a torn one must not stay behind.
  TruncateFile(path, static_cast<long long>(size_before));
  return -1;
}

int ExportBooking(ExportContext& context, BookingRecord& record) {
  MapBookingCode(record);
  if (IsAcceptedCode(record.BewEra)) {
    if (AppendTransferLine(context.transfer_path, FormatTransferLine(record)) != 0) {
      return kTransferWriteFailed;
    }
    ++context.exported_count;
    if (context.protocol != nullptr) WriteProtocol(*context.protocol, FormatProtocolLine(record));
    if (context.console != nullptr) {
      WriteConsole(context.console, FormatConsoleLine(record));
    }
  }
  const int status = context.mark != nullptr ? context.mark(record, context.mark_context) : 0;
  if (status != 0 && context.console != nullptr) {
    WriteConsole(context.console, "\nFehler 'SQL_MarkTranfer: " + std::to_string(status) + "\n");
  }
  return status;
}
