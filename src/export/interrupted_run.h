// Recovery after a run that died: the run record it left tells how to put the
// transfer file right before the next run exports anything.
#pragma once

#include <string>

#include "export/booking_record.h"
#include "export/run_record.h"

// What an interrupted run left, and what was done about it.
enum Resolution {
  kNothingInterrupted,    // no run record
  kInterruptedCutBack,    // its lines were taken back
  kInterruptedCommitted,  // it had committed: its lines stay
  kInterruptedTakenAway,  // the file was taken away or replaced: its lines were delivered
  kInterruptedUnresolved  // the file could not be put right; the record stays
};

// Asks the database whether the commit of the run that left record went
// through, from its token or else its booking: 1 not (the booking still
// pending), 0 it did (marked or gone), -1 when it cannot tell.
using PendingCheckFn = int (*)(const RunRecord& record, void* context);

// Puts the transfer file right after a run that died, from its run record:
// died before COMMIT, its lines are cut away; died after sending COMMIT, the
// database decides through is_pending. The record is removed once resolved.
// Returns the resolution; record receives the record that was found.
Resolution ResolveInterruptedRun(const std::string& transfer_path, PendingCheckFn is_pending,
                                 void* context, RunRecord& record);
