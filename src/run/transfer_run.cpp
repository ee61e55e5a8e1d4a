// The run sequence, step by step as the protocol records it.
#include "run/transfer_run.h"

#include <cstdarg>

#include "config/account.h"
#include "db/batch_marking.h"
#include "db/booking_statements.h"
#include "db/causal_reads.h"
#include "db/run_token.h"
#include "platform/platform.h"
#include "run/commit_outcome.h"

namespace {

const char kRunStarted[] =
    "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:";
const char kRunEnded[] = ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n";
const char kSettingsMissing[] = "Veltrano.Ini-Datei nicht gefunden";
const char kConnectFailed[] = "Verbinden mit Datenbank fehlgeschlagen";
const char kTransferFileNotCreatable[] = "Zieldatei auf Server kann nicht erzeugt werden\n";
const char kDatabase[] = "KVSYSTEM";
const char kRunning[] =
    "\xDC"
    "bergabe l\xE4uft bereits";
const char kRunningConsole[] = "Uebergabe laeuft bereits\n";
const char kIsolationKept[] =
    "Server protokolliert Anweisungen (binlog_format=STATEMENT): \xDC"
    "bergabe mit der "
    "Isolationsstufe des Servers";
const char kTakenBack[] =
    "\xDC"
    "bergabedatei auf den Stand vor der \xDC"
    "bergabe zur\xFC"
    "ckgesetzt";
const char kTakenAway[] =
    "\xDC"
    "bergabedatei inzwischen abgeholt, ihre Zeilen gelten als \xFC"
    "bergeben";
const char kCannotTakeBack[] =
    "\xDC"
    "bergabedatei kann nicht zur\xFC"
    "ckgesetzt werden, die n\xE4"
    "chste "
    "\xDC"
    "bergabe holt es nach";
const char kCommitUnknown[] =
    "Ob festgeschrieben wurde, ist nicht festzustellen; die n\xE4"
    "chste \xDC"
    "bergabe "
    "kl\xE4rt es";
const char kCommitWentThrough[] = "Festschreiben doch erfolgt";
const char kInterruptedCutBackText[] =
    "Abgebrochene \xDC"
    "bergabe: \xDC"
    "bergabedatei auf den Stand vor ihr zur\xFC"
    "ckgesetzt";
const char kInterruptedCommittedText[] =
    "Abgebrochene \xDC"
    "bergabe war festgeschrieben: \xDC"
    "bergabedatei bleibt";
const char kInterruptedTakenAwayText[] =
    "Abgebrochene \xDC"
    "bergabe: \xDC"
    "bergabedatei inzwischen abgeholt, ihre Zeilen gelten "
    "als \xFC"
    "bergeben";
const char kInterruptedUnresolvedText[] =
    "Abgebrochene \xDC"
    "bergabe: \xDC"
    "bergabedatei kann nicht in Ordnung gebracht werden";
const char kInterruptedUnresolvedConsoleText[] =
    "Abgebrochene Uebergabe: Uebergabedatei kann nicht in Ordnung gebracht werden\n";

// Bookings handled per batch: their lines go out in one write, their
// markings in few round trips.
constexpr size_t kBatchSize = 256;

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

void ReportTransferWriteFailed(RunState& state) {
  WriteProtocol(state.protocol, kTransferWriteFailedText);
  if (state.command_line.console) std::fprintf(state.out, "%s\n", kTransferWriteFailedText);
}

// Releases the guard and closes the connection; whatever was not committed
// is discarded by the server.
void Disconnect(RunState& state) {
  ReleaseRunGuard(state.db, state.guard);
  SQL_Close(state.db);
}

// Ends a run that got past the connection: disconnects and writes the
// closing line.
int EndRun(RunState& state, int exit_status) {
  Disconnect(state);
  WriteProtocol(state.protocol, kRunEnded);
  return exit_status;
}

// The marking of a batch, through the run's connection.
void MarkBatch(const std::vector<PreparedBooking>& bookings, size_t count, BatchMarks& marks,
               void* context) {
  RunState& state = *static_cast<RunState*>(context);
  std::vector<std::string> statements(count);
  for (size_t i = 0; i < count; ++i) statements[i] = bookings[i].mark_statement;
  MarkOutcome outcome;
  SQL_MarkBatch(state.db, statements, outcome);
  marks.statuses = std::move(outcome.statuses);
  marks.rows = std::move(outcome.rows);
  marks.transaction_lost = outcome.transaction_lost;
  marks.lost_error = std::move(outcome.lost_error);
}

// Whether the commit of a run that died went through, for its run record.
int IsPendingInDatabase(const RunRecord& record, void* context) {
  const int committed = RunCommitted(*static_cast<DbConnection*>(context), record);
  return committed < 0 ? -1 : 1 - committed;
}

// Runs the transaction at READ COMMITTED where the server allows it.
void UseReadCommitted(RunState& state) {
  if (SQL_UseReadCommitted(state.db) == 1) WriteProtocol(state.protocol, kIsolationKept);
}

// Puts the transfer file right after a run that died, as its run record
// tells. Returns false when it cannot be put right.
bool PutRightInterruptedRun(RunState& state) {
  RunRecord record;
  switch (ResolveInterruptedRun(state.transfer.path, IsPendingInDatabase, &state.db, record)) {
    case kNothingInterrupted:
      return true;
    case kInterruptedCutBack:
      WriteProtocol(state.protocol, kInterruptedCutBackText);
      return true;
    case kInterruptedCommitted:
      WriteProtocol(state.protocol, kInterruptedCommittedText);
      return true;
    case kInterruptedTakenAway:
      WriteProtocol(state.protocol, kInterruptedTakenAwayText);
      return true;
    case kInterruptedUnresolved:
      break;
  }
  WriteProtocol(state.protocol, kInterruptedUnresolvedText);
  if (state.command_line.console) std::fputs(kInterruptedUnresolvedConsoleText, state.out);
  return false;
}

// Fetches every pending booking and exports it, a batch at a time. Returns
// ExportBatch's status of the batch that ended the loop, or 0.
int ExportPendingBookings(RunState& state) {
  std::vector<PreparedBooking> batch;
  batch.reserve(kBatchSize);
  for (;;) {
    state.status = SQL_FetchBooking(state.db, state.selection, state.record);
    if (state.status == 0) {
      batch.emplace_back();
      PreparedBooking& booking = batch.back();
      PrepareBooking(state.record, booking);
      if (!FormatMarkStatement(state.db.mysql, state.marking_form, state.record,
                               booking.mark_statement)) {
        booking.mark_statement.clear();
      }
    }
    if (state.status != 0 || batch.size() == kBatchSize) {
      const int exported = batch.empty() ? 0 : ExportBatch(state.export_context, batch);
      batch.clear();
      if (exported != 0 || state.status != 0) return exported;
    }
  }
}

// Deletes old transferred bookings. Returns false when that cost the run its
// transaction; a purge that fails alone does not stop the run.
bool PurgeTransferred(RunState& state) {
  state.status = SQL_DeleteTransferred(state.db);
  if (state.status == 0) return true;
  const std::string error = state.db.last_error;
  if (SQL_TransactionIntact(state.db, state.status) == 1) return true;
  WriteProtocol(state.protocol,
                Format("L\xF6schen fehlgeschlagen, Fehler: %d, %s", state.status, error.c_str()));
  return false;
}

// Ends a run that commits nothing: takes its lines back out of the transfer
// file while the guard is still held, then ends the run.
int TakeBackRun(RunState& state, int exit_status) {
  const int cut = CutBackTransferFile(state.transfer, state.transfer.record.start_size);
  if (cut < 0) {
    // The run record stays; the next run cuts the file back.
    WriteProtocol(state.protocol, kCannotTakeBack);
  } else {
    RemoveRunRecord(state.transfer.record_path);
    WriteProtocol(state.protocol, cut == 0 ? kTakenBack : kTakenAway);
  }
  return EndRun(state, exit_status);
}

// After a COMMIT lost with the connection: did it go through all the same?
// The connection may have broken after the server took it. Returns 1
// committed, 0 not, -1 when it cannot be told now.
int CommitWentThrough(RunState& state) {
  const ExportContext& exporting = state.export_context;
  // Without a booking that was changed, committing or not leaves the table
  // the same: the run counts as not committed.
  if (!exporting.has_marked) return 0;
  // Ask over a new connection, once the guard is ours again: the old
  // connection holds it until the server has finished with its COMMIT. The
  // directory's lock file stays held meanwhile.
  const unsigned long previous = mysql_thread_id(state.db.mysql);
  ReleaseNamedLock(state.db, state.guard);
  SQL_Close(state.db);
  const Account& account = state.account;
  if (SQL_Connect(state.db, account.login, account.password, account.host, kDatabase) != 0 ||
      TakeRunGuard(state.db, state.transfer.path, state.guard, previous) != 0) {
    return -1;
  }
  return RunCommitted(state.db, state.transfer.record);
}

// Writes the run's token into its transaction, when it marked bookings, and
// puts it into the run record. Returns false when that cost the run its
// transaction; where no token can be written (no table for it) the run goes
// on without one.
bool WriteRunToken(RunState& state) {
  if (!state.export_context.has_marked) return true;
  const std::string token = NewRunToken();
  bool written = false;
  state.status = SQL_WriteRunToken(state.db, token, written);
  if (written) state.transfer.record.token = token;
  if (state.status == 0) return true;
  const std::string error = state.db.last_error;
  if (SQL_TransactionIntact(state.db, state.status) == 1) return true;
  WriteProtocol(state.protocol, Format("Festschreiben fehlgeschlagen, Fehler: %d, %s", state.status,
                                       error.c_str()));
  return false;
}

// Commits the run. Returns exit_status when the commit went through,
// otherwise 0 after taking the lines back (or leaving that to the next run
// when the outcome cannot be told).
int CommitRun(RunState& state, int exit_status) {
  if (SQL_Commit(state.db) == 1) {
    RemoveRunRecord(state.transfer.record_path);
    return EndRun(state, exit_status);
  }
  WriteProtocol(state.protocol, Format("Festschreiben fehlgeschlagen, Fehler: %d, %s",
                                       state.db.last_errno, state.db.last_error.c_str()));
  if (CommitRefusedByLiveServer(state.db)) return TakeBackRun(state, 0);
  switch (CommitWentThrough(state)) {
    case 1:
      RemoveRunRecord(state.transfer.record_path);
      WriteProtocol(state.protocol, kCommitWentThrough);
      return EndRun(state, exit_status);
    case 0:
      return TakeBackRun(state, 0);
    default:
      WriteProtocol(state.protocol, kCommitUnknown);
      return EndRun(state, 0);
  }
}

// Hands the export what it needs of the run.
void PrepareExport(RunState& state) {
  ExportContext& exporting = state.export_context;
  exporting.file = &state.transfer;
  exporting.protocol = &state.protocol;
  exporting.console = state.command_line.console ? state.out : nullptr;
  exporting.mark = MarkBatch;
  exporting.mark_context = &state;
  exporting.exported_count = 0;
}

// The count of exported bookings, in the protocol and with "/D" on the console.
void WriteCount(RunState& state) {
  const int count = state.export_context.exported_count;
  WriteProtocol(state.protocol, Format("\nAnzahl \xFC"
                                       "bergebener Buchungen : %d",
                                       count));
  if (state.command_line.console) {
    std::fprintf(state.out, "\nAnzahl uebergebener Buchungen : %d", count);
  }
}

}  // namespace

int ReadSettingsAndConnect(RunState& state) {
  const std::string& settings = state.command_line.settings_path;
  if (!CanRead(settings)) {
    WriteProtocol(state.protocol, kSettingsMissing);
    std::fputs(kSettingsMissing, state.out);
    return kExitSettingsMissing;
  }
  Account& account = state.account;
  // An empty user name would let the client library log in as the
  // operating-system user; it is refused like a refused account.
  int status = ReadAccount(settings, account);
  if (status == kAccountNoUser) {
    state.db.last_errno = status;
    state.db.last_error = kAccountNoUserText;
  } else {
    status = SQL_Connect(state.db, account.login, account.password, account.host, kDatabase);
  }
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
  if (state.command_line.console) state.protocol.console = state.out;
  const bool console = state.command_line.console != 0;
  WriteProtocol(state.protocol, kRunStarted);

  state.status = ReadSettingsAndConnect(state);
  if (state.status != 0) {
    WriteProtocol(state.protocol, kConnectFailed);
    return state.status == kExitSettingsMissing ? state.status
                                                : ConnectFailureExitStatus(state.status);
  }
  state.transfer.path = state.command_line.transfer_path + ".dat";
  if (TakeRunGuard(state.db, state.transfer.path, state.guard) != 0) {
    WriteProtocol(state.protocol, kRunning);
    std::fputs(kRunningConsole, state.out);
    return EndRun(state, kExitRunning);
  }
  UseReadCommitted(state);
  SQL_UseCausalReads(state.db);

  state.status = SQL_GetServerTime(state.db, state.server_time);
  WriteProtocol(state.protocol,
                "\xDC"
                "bergabe vom " +
                    state.server_time + "\n");
  if (console) std::fprintf(state.out, "Uebergabe am %s gestartet\n\n", state.server_time.c_str());

  if (!ProbeTransferFile(state.transfer.path)) {
    WriteProtocol(state.protocol, kTransferFileNotCreatable);
    if (console) std::fputs(kTransferFileNotCreatable, state.out);
    Disconnect(state);
    return kExitTransferFile;
  }
  if (!PutRightInterruptedRun(state)) return EndRun(state, kExitTransferFile);
  if (BeginTransferRun(state.transfer) != 0) {
    ReportTransferWriteFailed(state);
    return EndRun(state, kExitTransferFile);
  }

  PrepareExport(state);
  SQL_ReadMarkingForm(state.db, state.marking_form);
  state.status = SQL_SelectBookings(state.db, state.selection);
  const int exported = ExportPendingBookings(state);
  if (exported == kTransferWriteFailed) ReportTransferWriteFailed(state);
  state.status = SQL_CloseBookings(state.selection);
  WriteCount(state);

  if (exported == kTransactionLost || !PurgeTransferred(state) || !WriteRunToken(state)) {
    return TakeBackRun(state, 0);
  }
  // No marking may be committed whose line could still be lost.
  const ExportContext& exporting = state.export_context;
  if (PrepareCommit(state.transfer, exporting.has_marked ? exporting.marked : nullptr) != 0) {
    ReportTransferWriteFailed(state);
    return TakeBackRun(state, kExitTransferFile);
  }
  return CommitRun(state, exported == kTransferWriteFailed ? kExitTransferFile : 1);
}
