// The transfer file BEWDATA.dat as a run writes it, kept in step with the
// database: lines are appended whole; a run that does not commit takes its
// lines back; and a run record beside the file, written before the first line
// and replaced before the commit, lets the next run put the file right after
// a run that died.
#pragma once

#include <string>
#include <vector>

#include "export/booking_record.h"
#include "platform/platform.h"

// The run record's file name, in the transfer file's directory.
extern const char kRunRecordName[];  // "Halvorn_MySQL.lauf"

enum RunPhase {
  kPhaseWriting = 1,     // lines are being appended; no COMMIT sent
  kPhaseCommitting = 2,  // the lines are on disk and COMMIT is being sent
};

// What the next run needs to know of this one.
struct RunRecord {
  int phase = kPhaseWriting;
  FileId file;               // the file the run's lines go to
  long long start_size = 0;  // its size before the run's first line
  long long end_size = 0;    // its size when COMMIT was sent
  // A booking the run marked, to ask the database after a crash whether the
  // commit went through; only while committing, and only when one was marked.
  bool has_booking = false;
  RowKey booking[kRowKeyCount];
};

struct TransferFile {
  std::string path;         // e.g. "D:\EXPORT/BEWDATA.dat"
  std::string record_path;  // the run record beside it
  RunRecord record;         // as last written
  long long size = 0;       // the file's size after the run's last line
};

// The run record's path for the transfer file at transfer_path.
std::string RunRecordPath(const std::string& transfer_path);

// Reads the run record at path. Returns 0, 1 when there is none, -1 when it
// cannot be read or is not a run record.
int ReadRunRecord(const std::string& path, RunRecord& record);

// Writes the run record whole: a temporary file, flushed, then put in place of
// the old one, and the directory flushed. Returns 0 or -1.
int WriteRunRecord(const std::string& path, const RunRecord& record);

// Removes the run record and flushes its directory. Returns 0 or -1.
int RemoveRunRecord(const std::string& path);

// Starts the run's part of the transfer file, which must exist: remembers its
// identity and size and writes the run record before any line. Returns 0 or -1.
int BeginTransferRun(TransferFile& file);

// Appends lines at the end of the transfer file in one write. When the file
// is no longer the one the run began with (taken away meanwhile), the run
// record moves to the new file first. Returns 0; -1 when not every line could
// be written: the whole lines written stay, a torn one is cut away, and
// written tells how many stay. size follows the file.
int AppendTransferLines(TransferFile& file, const std::vector<const std::string*>& lines,
                        size_t& written);

// Cuts the transfer file back to size bytes and flushes it, provided it is
// still the run's file and at least that long. Returns 0 when the file now
// holds size bytes, 1 when it is no longer the run's (taken away or replaced:
// nothing to cut), -1 when it cannot be cut.
int CutBackTransferFile(TransferFile& file, long long size);

// Flushes the transfer file to stable storage (unless it was taken away after
// the run's last line: those lines are delivered), then records that COMMIT
// is about to be sent, with a booking the run marked (booking may be null).
// Returns 0, or -1 when either cannot be made durable.
int PrepareCommit(TransferFile& file, const RowKey* booking);

// What an interrupted run left, and what was done about it.
enum Resolution {
  kNothingInterrupted,    // no run record
  kInterruptedCutBack,    // its lines were taken back
  kInterruptedCommitted,  // it had committed: its lines stay
  kInterruptedTakenAway,  // the file was taken away or replaced: its lines were delivered
  kInterruptedUnresolved  // the file could not be put right; the record stays
};

// Asks the database whether booking is still pending: 1 pending, 0 marked or
// gone, -1 when it cannot tell.
using PendingCheckFn = int (*)(const RowKey booking[], void* context);

// Puts the transfer file right after a run that died, from its run record:
// died before COMMIT, its lines are cut away; died after sending COMMIT, the
// database decides through is_pending. The record is removed once resolved.
// Returns the resolution; record receives the record that was found.
Resolution ResolveInterruptedRun(const std::string& transfer_path, PendingCheckFn is_pending,
                                 void* context, RunRecord& record);
