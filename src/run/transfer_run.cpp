// The run sequence: one call per step, each writing its own protocol lines,
// and one way to end a run that got past the connection.
#include "run/transfer_run.h"

#include <cstdarg>
#include <ctime>

#include "db/batch_marking.h"
#include "db/booking_statements.h"
#include "db/causal_reads.h"
#include "db/run_token.h"
#include "db/session_setup.h"
#include "export/interrupted_run.h"
#include "platform/platform.h"
#include "run/commit_outcome.h"

namespace {

// Bookings handled per batch: their lines go out in one write, their
// markings in few round trips.
constexpr size_t kBatchSize = 256;

// What the end of a run does with the lines it wrote.
enum RunLines {
  kNoLines,        // the run has no run record: nothing to keep or take back
  kKeepLines,      // committed: the lines stay and the record goes
  kTakeBackLines,  // not committed: the lines are cut away, then the record goes
  kLeaveRecord,    // whether it committed is unknown: the record stays for the next run
};

// How a run that got past the connection ends.
struct RunEnd {
  int exit_status;
  RunLines lines = kNoLines;
  // Only a transfer file that cannot be created ends the run without its
  // closing line: its protocol text ends with a blank line instead.
  bool closing_line = true;
};

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

// Keeps the run's first error for the status file.
void NoteError(RunState& state, int number, const std::string& text) {
  RunReport& report = state.report;
  if (report.error != 0 || !report.error_text.empty()) return;
  report.error = number;
  report.error_text = text;
}

void ReportTransferWriteFailed(RunState& state) {
  NoteError(state, 0, kTransferWriteFailedText);
  WriteProtocol(state.protocol, kTransferWriteFailedText);
  if (state.command_line.console) std::fprintf(state.out, "%s\n", kTransferWriteFailedText);
}

// Releases the guard and closes the connection; whatever was not committed
// is discarded by the server.
void Disconnect(RunState& state) {
  ReleaseRunGuard(state.db, state.guard);
  SQL_Close(state.db);
}

// The protocol's first line; with "/D" the protocol reports there when it
// cannot be written.
void StartProtocol(RunState& state) {
  if (state.command_line.console) state.protocol.console = state.out;
  WriteProtocol(state.protocol,
                "\n>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Protokollierung gestartet:");
}

// Sets up the session the statements are written for; a connection that
// cannot be set up is closed and refused like a refused connection.
int SetUpSession(RunState& state) {
  const int status = SQL_SetUpSession(state.db);
  if (status != 0) SQL_Close(state.db);
  return status;
}

}  // namespace

int ReadSettingsAndConnect(RunState& state) {
  const std::string& settings = state.command_line.settings_path;
  if (!CanReadFile(settings)) {
    const char missing[] = "Veltrano.Ini-Datei nicht gefunden";
    WriteProtocol(state.protocol, missing);
    std::fputs(missing, state.out);
    NoteError(state, 0, missing);
    return kExitSettingsMissing;
  }
  ReadAccount(settings, state.account);
  std::string problem;
  if (!state.account.login.empty() &&
      ReadConnectionSettings(settings, state.account.connection, problem) != 0) {
    // Like a missing file: nothing is connected.
    const std::string line = "Einstellungsdatei unbrauchbar: " + problem;
    WriteProtocol(state.protocol, line);
    std::fprintf(state.out, "%s\n", line.c_str());
    NoteError(state, 0, line);
    return kExitSettingsMissing;
  }
  // A run never waits longer for the server in one statement than for the
  // guard of a run that died.
  state.db.options.longest_wait = kEndingRunWait;
  int status = SQL_ConnectAccount(state.db, state.account);
  if (status == 0) status = SetUpSession(state);
  if (status != 0) {
    std::fprintf(state.out, "Datenbankverbindung fehlgeschlagen, Fehler: %d\n", status);
    WriteProtocol(state.protocol, Format("Datenbankverbindung fehlgeschlagen, Fehler: %d, %s",
                                         status, state.db.last_error.c_str()));
    NoteError(state, status, state.db.last_error);
  }
  return status;
}

namespace {

// Takes the run guard. Returns false when another run is at work, which is
// said always, like a refused connection.
bool TakeGuard(RunState& state) {
  if (TakeRunGuard(state.db, state.transfer.path, state.guard) == 0) return true;
  WriteProtocol(state.protocol, "\334bergabe l\344uft bereits");
  std::fputs("Uebergabe laeuft bereits\n", state.out);
  return false;
}

// Runs the transaction at READ COMMITTED where the server allows it.
void UseReadCommitted(RunState& state) {
  if (SQL_UseReadCommitted(state.db) == 1) {
    WriteProtocol(state.protocol,
                  "Server protokolliert Anweisungen (binlog_format=STATEMENT): \334bergabe mit der "
                  "Isolationsstufe des Servers");
  }
}

// The server's time, in the protocol and with "/D" on the console; empty when
// the query fails, and the run goes on.
void WriteServerTime(RunState& state) {
  state.status = SQL_GetServerTime(state.db, state.server_time);
  WriteProtocol(state.protocol, "\334bergabe vom " + state.server_time + "\n");
  if (state.command_line.console) {
    std::fprintf(state.out, "Uebergabe am %s gestartet\n\n", state.server_time.c_str());
  }
}

// Creates the transfer file when it does not exist. Returns false, having
// said so, when it cannot be opened for appending.
bool ProbeTransferFile(RunState& state) {
  FILE* file = std::fopen(state.transfer.path.c_str(), "ab");
  if (file != nullptr) {
    std::fclose(file);
    return true;
  }
  const char not_creatable[] = "Zieldatei auf Server kann nicht erzeugt werden\n";
  WriteProtocol(state.protocol, not_creatable);
  if (state.command_line.console) std::fputs(not_creatable, state.out);
  NoteError(state, 0, "Zieldatei auf Server kann nicht erzeugt werden");
  return false;
}

// Whether the commit of a run that died went through, for its run record.
int IsPendingInDatabase(const RunRecord& record, void* context) {
  RunState& state = *static_cast<RunState*>(context);
  const int committed = RunCommitted(state.db, state.marking_form, record);
  return committed < 0 ? -1 : 1 - committed;
}

// Puts the transfer file right after a run that died, as its run record
// tells. Returns false when it cannot be put right.
bool PutRightInterruptedRun(RunState& state) {
  RunRecord record;
  switch (ResolveInterruptedRun(state.transfer.path, IsPendingInDatabase, &state, record)) {
    case kNothingInterrupted:
      return true;
    case kInterruptedCutBack:
      WriteProtocol(
          state.protocol,
          "Abgebrochene \334bergabe: \334bergabedatei auf den Stand vor ihr zur\374ckgesetzt");
      return true;
    case kInterruptedCommitted:
      WriteProtocol(state.protocol,
                    "Abgebrochene \334bergabe war festgeschrieben: \334bergabedatei bleibt");
      return true;
    case kInterruptedTakenAway:
      WriteProtocol(state.protocol,
                    "Abgebrochene \334bergabe: \334bergabedatei inzwischen abgeholt, ihre Zeilen "
                    "gelten als \374bergeben");
      return true;
    case kInterruptedUnresolved:
      break;
  }
  WriteProtocol(state.protocol,
                "Abgebrochene \334bergabe: \334bergabedatei kann nicht in Ordnung gebracht werden");
  if (state.command_line.console) {
    std::fputs("Abgebrochene Uebergabe: Uebergabedatei kann nicht in Ordnung gebracht werden\n",
               state.out);
  }
  return false;
}

// Writes the run record before the run's first line, once the directory that
// will hold it has been flushed (a file system that cannot flush directories
// is said once). Returns false, having said so, when either fails.
bool BeginTransfer(RunState& state) {
  const int directory = SyncDirectoryOf(state.transfer.path);
  if (directory == kDirectoryNotSyncable) {
    WriteProtocol(state.protocol,
                  "Verzeichnis der \334bergabedatei kann nicht auf den Datentr\344ger geschrieben "
                  "werden (vom Dateisystem nicht unterst\374tzt)");
  }
  if (directory >= 0 && BeginTransferRun(state.transfer) == 0) return true;
  ReportTransferWriteFailed(state);
  return false;
}

// The bookings of a batch being marked, for their own statements.
struct BatchBeingMarked {
  const RunState* state;
  const std::vector<PreparedBooking>* bookings;
};

// A booking's own marking statement: formatted when it was fetched, or, for
// a booking in the batch's list of keys, now that the list did not stand.
void OwnStatement(size_t index, std::string& statement, void* context) {
  const BatchBeingMarked& batch = *static_cast<BatchBeingMarked*>(context);
  const PreparedBooking& booking = (*batch.bookings)[index];
  if (booking.key_tuple.empty()) {
    statement = booking.mark_statement;
  } else if (!FormatMarkStatement(batch.state->db.mysql, batch.state->marking_form, booking.keys,
                                  statement)) {
    statement.clear();
  }
}

// The marking of a batch, through the run's connection.
void MarkBatch(const std::vector<PreparedBooking>& bookings, size_t count, BatchMarks& marks,
               void* context) {
  RunState& state = *static_cast<RunState*>(context);
  std::vector<const std::string*> key_tuples(count);
  for (size_t i = 0; i < count; ++i) key_tuples[i] = &bookings[i].key_tuple;
  BatchBeingMarked batch{&state, &bookings};
  SQL_MarkBatchByKeys(state.db, key_tuples, OwnStatement, &batch, marks);
  // A marking that found no row has not marked its booking either.
  for (size_t i = 0; i < marks.statuses.size(); ++i) {
    const int status = marks.statuses[i];
    if (status == 0 && marks.rows[i] > 0) {
      ++state.report.marked;
      continue;
    }
    ++state.report.refused;
    if (status != 0) {
      NoteError(state, status, status == state.db.last_errno ? state.db.last_error : "");
    }
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

// Selects the pending bookings. Returns false, having said so, when the
// server refuses the selection: then there is nothing to export.
bool SelectBookings(RunState& state) {
  state.status = SQL_SelectBookings(state.db, state.selection, state.marking_form);
  if (state.status == 0) return true;
  WriteProtocol(state.protocol, Format("Auswahl fehlgeschlagen, Fehler: %d, %s", state.status,
                                       state.db.last_error.c_str()));
  NoteError(state, state.status, state.db.last_error);
  return false;
}

// Fetches every pending booking and exports it, a batch at a time. Returns
// ExportBatch's status of the batch that ended the loop, or 0; a file that
// could not be written or kept in step is reported.
int ExportPendingBookings(RunState& state) {
  std::vector<PreparedBooking> batch;
  batch.reserve(kBatchSize);
  int exported = 0;
  for (;;) {
    state.status = SQL_FetchBooking(state.db, state.selection, state.record);
    if (state.status == 0) {
      ++state.report.selected;
      batch.emplace_back();
      PreparedBooking& booking = batch.back();
      PrepareBooking(state.record, booking, state.command_line.console);
      // A listed booking's own statement is formatted only when it is sent.
      if (!FormatKeyTuple(state.db.mysql, state.marking_form, state.record, booking.key_tuple)) {
        booking.key_tuple.clear();
      }
      if (booking.key_tuple.empty() &&
          !FormatMarkStatement(state.db.mysql, state.marking_form, state.record,
                               booking.mark_statement)) {
        booking.mark_statement.clear();
      }
    }
    if (state.status != 0 || batch.size() == kBatchSize) {
      exported = batch.empty() ? 0 : ExportBatch(state.export_context, batch);
      batch.clear();
      if (exported != 0 || state.status != 0) break;
    }
  }
  if (exported == kTransferWriteFailed || exported == kTransferOutOfStep) {
    ReportTransferWriteFailed(state);
  }
  return exported;
}

void CloseSelection(RunState& state) { state.status = SQL_CloseBookings(state.selection); }

// The count of exported bookings, in the protocol and with "/D" on the console.
void WriteCount(RunState& state) {
  const int count = state.export_context.exported_count;
  WriteProtocol(state.protocol, Format("\nAnzahl \374bergebener Buchungen : %d", count));
  if (state.command_line.console) {
    std::fprintf(state.out, "\nAnzahl uebergebener Buchungen : %d", count);
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
                Format("L\366schen fehlgeschlagen, Fehler: %d, %s", state.status, error.c_str()));
  NoteError(state, state.status, error);
  return false;
}

// No marking may be committed whose line could still be lost: flushes the
// transfer file and records that COMMIT is about to be sent. Returns false,
// having said so, when either fails.
bool FlushBeforeCommit(RunState& state) {
  const ExportContext& exporting = state.export_context;
  if (PrepareCommit(state.transfer, exporting.has_marked ? exporting.marked : nullptr) == 0) {
    return true;
  }
  ReportTransferWriteFailed(state);
  return false;
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
  if (SQL_ConnectAccount(state.db, state.account) != 0 || SQL_SetUpSession(state.db) != 0 ||
      TakeRunGuard(state.db, state.transfer.path, state.guard, previous) != 0) {
    return -1;
  }
  return RunCommitted(state.db, state.marking_form, state.transfer.record);
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

// Commits the run; after a failed COMMIT, finds out whether it went through.
// The run ends with exit_status when it did, otherwise with 0.
RunEnd CommitRun(RunState& state, int exit_status) {
  if (SQL_Commit(state.db) == 1) return {exit_status, kKeepLines};
  WriteProtocol(state.protocol, Format("Festschreiben fehlgeschlagen, Fehler: %d, %s",
                                       state.db.last_errno, state.db.last_error.c_str()));
  NoteError(state, state.db.last_errno, state.db.last_error);
  if (CommitRefusedByLiveServer(state.db)) return {0, kTakeBackLines};
  switch (CommitWentThrough(state)) {
    case 1:
      WriteProtocol(state.protocol, "Festschreiben doch erfolgt");
      return {exit_status, kKeepLines};
    case 0:
      return {0, kTakeBackLines};
    default:
      WriteProtocol(state.protocol,
                    "Ob festgeschrieben wurde, ist nicht festzustellen; die n\344chste \334bergabe "
                    "kl\344rt es");
      return {0, kLeaveRecord};
  }
}

// The steps of a run that got past the connection, each one call, up to the
// first that ends it. Returns how the run ends.
RunEnd TransferPending(RunState& state) {
  if (!TakeGuard(state)) return {kExitRunning};
  UseReadCommitted(state);
  SQL_UseCausalReads(state.db);
  WriteServerTime(state);
  if (!ProbeTransferFile(state)) return {kExitTransferFile, kNoLines, false};
  // How the markings find their rows; the keys of a run record are compared so too.
  SQL_ReadMarkingForm(state.db, state.marking_form);
  if (!PutRightInterruptedRun(state)) return {kExitTransferFile};
  if (!BeginTransfer(state)) return {kExitTransferFile};

  PrepareExport(state);
  if (!SelectBookings(state)) {
    WriteCount(state);
    return {0, kTakeBackLines};
  }
  const int exported = ExportPendingBookings(state);
  CloseSelection(state);
  WriteCount(state);

  if (exported == kTransferOutOfStep) return {kExitTransferFile, kTakeBackLines};
  if (exported == kTransactionLost || !PurgeTransferred(state) || !WriteRunToken(state)) {
    return {0, kTakeBackLines};
  }
  if (!FlushBeforeCommit(state)) return {kExitTransferFile, kTakeBackLines};
  return CommitRun(state, exported == kTransferWriteFailed ? kExitTransferFile : 1);
}

// Takes the run's lines back out of the transfer file. When they cannot be,
// the run record stays and the next run cuts the file back.
void TakeBackLines(RunState& state) {
  const int cut = CutBackTransferFile(state.transfer, state.transfer.record.start_size);
  if (cut < 0) {
    WriteProtocol(state.protocol,
                  "\334bergabedatei kann nicht zur\374ckgesetzt werden, die n\344chste \334bergabe "
                  "holt es nach");
    return;
  }
  RemoveRunRecord(state.transfer.record_path);
  WriteProtocol(state.protocol,
                cut == 0
                    ? "\334bergabedatei auf den Stand vor der \334bergabe zur\374ckgesetzt"
                    : "\334bergabedatei inzwischen abgeholt, ihre Zeilen gelten als \374bergeben");
}

// The run's one-word outcome for the status file.
const char* Outcome(const RunEnd& end) {
  if (end.lines == kLeaveRecord) return "commit_unknown";
  switch (end.exit_status) {
    case 1:
      return "committed";
    case 0:
      return "not_committed";
    case kExitRunning:
      return "running_elsewhere";
    case kExitSettingsMissing:
      return "settings_missing";
    case kExitTransferFile:
      return "transfer_file";
    default:
      return "connection_refused";
  }
}

// Leaves the run's report in the status file beside BEWDATA.dat. What a run
// that did not commit exported and marked is undone: it reports none.
void WriteStatus(RunState& state, const RunEnd& end) {
  RunReport& report = state.report;
  report.ended = std::time(nullptr);
  report.exit_status = end.exit_status;
  report.outcome = Outcome(end);
  report.committed = end.lines == kKeepLines;
  report.exported = report.committed ? state.export_context.exported_count : 0;
  if (!report.committed) report.marked = 0;
  WriteStatusFile(SiblingPath(state.transfer.path, kStatusFileName), report);
}

// The one way a run that got past the connection ends: its lines kept or
// taken back while the guard is still held, the guard released, the
// connection closed, the closing line written, the status file replaced.
// Returns the exit status.
int EndRun(RunState& state, const RunEnd& end) {
  if (end.lines == kKeepLines) RemoveRunRecord(state.transfer.record_path);
  if (end.lines == kTakeBackLines) TakeBackLines(state);
  Disconnect(state);
  if (end.closing_line) {
    WriteProtocol(state.protocol,
                  ">>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>>Programm beendet\n\n\n");
  }
  WriteStatus(state, end);
  return end.exit_status;
}

}  // namespace

int RunTransfer(RunState& state, const std::vector<std::string>& args) {
  if (!ParseCommandLine(args, state.command_line)) {
    PrintUsage(state.out);
    return kExitUsage;
  }
  state.report.started = std::time(nullptr);
  state.transfer.path = state.command_line.transfer_path + ".dat";
  StartProtocol(state);
  state.status = ReadSettingsAndConnect(state);
  if (state.status != 0) {
    // A run without a connection has taken no guard and touched no file:
    // there is nothing to end, and its protocol closes with this line.
    WriteProtocol(state.protocol, "Verbinden mit Datenbank fehlgeschlagen");
    const RunEnd refused = {state.status == kExitSettingsMissing
                                ? state.status
                                : ConnectFailureExitStatus(state.status)};
    WriteStatus(state, refused);
    return refused.exit_status;
  }
  return EndRun(state, TransferPending(state));
}
