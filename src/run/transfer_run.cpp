// The run sequence, step by step as the protocol records it.
#include "run/transfer_run.h"

#include <cstdarg>

#include "config/settings_file.h"
#include "db/booking_statements.h"
#include "platform/platform.h"

namespace {

const char kRunStarted[] =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:";
const char kRunEnded[] = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n";
const char kSettingsMissing[] = "Veltrano.Ini-Datei nicht gefunden";
const char kConnectFailed[] = "Verbinden mit Datenbank fehlgeschlagen";
const char kTransferFileNotCreatable[] = "Zieldatei auf Server kann nicht erzeugt werden\n";
const char kTransferWriteFailedText[] = "Schreiben in Zieldatei fehlgeschlagen";
const char kDatabase[] = "KVSYSTEM";

// printf into a std::string of whatever length the values need.
std::string Format(const char* format, ...) {
  va_list args;
  va_start(args, format);
  va_list measure;
  va_copy(measure, args);
  const int length = std::vsnprintf(nullptr, 0, format, measure);
  va_end(measure);
  std::string text(length > 0 ? static_cast<size_t>(length) : 0, '\0');
  if (length > 0) std::vsnprintf(text.data(), text.size() + 1, format, args);
  va_end(args);
  return text;
}

// True when the file at path can be opened and read.
bool CanRead(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fgetc(file);  // a directory opens on some systems but cannot be read
  const bool readable = !std::ferror(file);
  std::fclose(file);
  return readable;
}

// Creates the transfer file when it does not exist. Returns false when it
// cannot be opened for appending.
bool ProbeTransferFile(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "ab");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

int MarkBooking(BookingRecord& record, void* context) {
  return SQL_MarkTranfer(*static_cast<DbConnection*>(context), MarkingForm(), record);
}

void ReportTransferWriteFailed(RunState& state) {
  WriteProtocol(state.protocol, kTransferWriteFailedText);
  if (state.command_line.console) std::fprintf(state.out, "%s\n", kTransferWriteFailedText);
}

// Ends a run that reached the transfer file: closes the connection (whatever
// was not committed is discarded by the server), writes the closing line.
int EndRun(RunState& state, int exit_status) {
  SQL_Close(state.db);
  WriteProtocol(state.protocol, kRunEnded);
  return exit_status;
}

}  // namespace

int ReadSettingsAndConnect(RunState& state) {
  const std::string& settings = state.command_line.settings_path;
  if (!CanRead(settings)) {
    WriteProtocol(state.protocol, kSettingsMissing);
    std::fputs(kSettingsMissing, state.out);
    return kExitSettingsMissing;
  }
  IniEntry entry;
  ReadIniValue("", "LOGIN", 0, settings, entry);
  const std::string login = entry.value;
  ReadIniValue("", "PASS", 0, settings, entry);
  const std::string password = entry.value;
  ReadIniValue("", "DB_SYSTEM", 0, settings, entry);
  const std::string db_system = entry.value;  // kept; the run does not need it
  ReadIniValue("", "NET8", 0, settings, entry);
  // Anything but 1 to 41 characters leaves the host to the client library.
  const std::string host =
      !entry.value.empty() && entry.value.size() <= 41 ? entry.value : std::string();

  const int status = SQL_Connect(state.db, login, password, host, kDatabase);
  if (status != 0) {
    std::fprintf(state.out, "Datenbankverbindung fehlgeschlagen, Fehler: %d\n", status);
    WriteProtocol(state.protocol, Format("Datenbankverbindung fehlgeschlagen, Fehler: %d, %s",
                                         status, state.db.last_error.c_str()));
  }
  return status;
}

int RunTransfer(RunState& state, const std::vector<std::string>& args) {
  if (!ParseCommandLine(args, state.command_line)) {
    PrintUsage(state.out);
    return kExitUsage;
  }
  const bool console = state.command_line.console != 0;
  WriteProtocol(state.protocol, kRunStarted);

  state.status = ReadSettingsAndConnect(state);
  if (state.status != 0) {
    WriteProtocol(state.protocol, kConnectFailed);
    return state.status == kExitSettingsMissing ? state.status
                                                : ConnectFailureExitStatus(state.status);
  }

  state.status = SQL_GetServerTime(state.db, state.server_time);
  WriteProtocol(state.protocol,
                "\xDC"
                "bergabe vom " +
                    state.server_time + "\n");
  if (console) std::fprintf(state.out, "Uebergabe am %s gestartet\n\n", state.server_time.c_str());

  ExportContext& exporting = state.export_context;
  exporting.transfer_path = state.command_line.transfer_path + ".dat";
  exporting.protocol = &state.protocol;
  exporting.console = console ? state.out : nullptr;
  exporting.mark = MarkBooking;
  exporting.mark_context = &state.db;
  if (!ProbeTransferFile(exporting.transfer_path)) {
    WriteProtocol(state.protocol, kTransferFileNotCreatable);
    if (console) std::fputs(kTransferFileNotCreatable, state.out);
    SQL_Close(state.db);
    return kExitTransferFile;
  }

  exporting.exported_count = 0;
  state.status = SQL_SelectBookings(state.db, state.selection);
  bool write_failed = false;
  while ((state.status = SQL_FetchBooking(state.db, state.selection, state.record)) == 0) {
    const int exported = ExportBooking(exporting, state.record);
    if (exported == kTransferWriteFailed) {
      // The bookings from here on stay pending for the next run.
      ReportTransferWriteFailed(state);
      write_failed = true;
      break;
    }
    state.status = exported;
  }
  state.status = SQL_CloseBookings(state.selection);

  WriteProtocol(state.protocol, Format("\nAnzahl \xFC"
                                       "bergebener Buchungen : %d",
                                       exporting.exported_count));
  if (console)
    std::fprintf(state.out, "\nAnzahl uebergebener Buchungen : %d", exporting.exported_count);

  state.status = SQL_DeleteTransferred(state.db);

  // No marking may be committed whose line could still be lost.
  if (SyncFile(exporting.transfer_path) != 0) {
    ReportTransferWriteFailed(state);
    return EndRun(state, kExitTransferFile);
  }
  state.status = SQL_Commit(state.db);
  return EndRun(state, write_failed ? kExitTransferFile : state.status);
}
