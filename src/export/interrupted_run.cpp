// Recovery after a run that died, from the run record it left.
#include "export/interrupted_run.h"

#include "export/transfer_file.h"
#include "platform/platform.h"

Resolution ResolveInterruptedRun(const std::string& transfer_path, PendingCheckFn is_pending,
                                 void* context, RunRecord& record) {
  TransferFile file;
  file.path = transfer_path;
  file.record_path = SiblingPath(transfer_path, kRunRecordName);
  const int found = ReadRunRecord(file.record_path, record);
  if (found == 1) return kNothingInterrupted;
  if (found != 0) return kInterruptedUnresolved;
  file.record = record;

  Resolution resolution = kInterruptedCutBack;
  if (record.phase == kPhaseCommitting) {
    // COMMIT was sent: only the database knows whether it went through. A run
    // that changed no row left the table the same either way; its lines go.
    const int pending = record.has_booking ? is_pending(record, context) : 1;
    if (pending < 0) return kInterruptedUnresolved;
    if (pending == 0) resolution = kInterruptedCommitted;
  }
  if (resolution == kInterruptedCutBack) {
    const int cut = CutBackTransferFile(file, record.start_size);
    if (cut < 0) return kInterruptedUnresolved;
    if (cut == 1) resolution = kInterruptedTakenAway;
  }
  return RemoveRunRecord(file.record_path) == 0 ? resolution : kInterruptedUnresolved;
}
