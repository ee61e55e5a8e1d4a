// The run record Halvorn_MySQL.lauf beside the transfer file: what the next
// run needs to know of this one, should this one die. It is replaced whole (a
// temporary file, flushed, renamed over it), so a reader finds the old record
// or the new one, never a part of either.
#pragma once

#include <string>

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
  // A booking the run marked, to ask the database after a crash whether the
  // commit went through; only while committing, and only when one was marked.
  bool has_booking = false;
  RowKey booking[kRowKeyCount];
  // The token the run wrote in its transaction (upper-case hex), which tells
  // that this run's commit went through; empty where none could be written.
  std::string token;
};

// Reads the run record at path. Returns 0, 1 when there is none, -1 when it
// cannot be read or is not a run record.
int ReadRunRecord(const std::string& path, RunRecord& record);

// Writes the run record whole: a temporary file, flushed, then put in place of
// the old one, and the directory flushed. Returns 0 or -1.
int WriteRunRecord(const std::string& path, const RunRecord& record);

// Removes the run record and flushes its directory. Returns 0 or -1.
int RemoveRunRecord(const std::string& path);
