// The transfer file BEWDATA.dat as a run writes it, kept in step with the
// database: lines are appended whole, a run that does not commit takes its
// lines back, and the run record beside the file is written before the first
// line and replaced before the commit.
#pragma once

#include <string>
#include <vector>

#include "export/booking_record.h"
#include "export/run_record.h"

struct TransferFile {
  std::string path;         // e.g. "D:\EXPORT/BEWDATA.dat"
  std::string record_path;  // the run record beside it
  RunRecord record;         // as last written
  long long size = 0;       // the file's size after the run's last line
};

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
