// The transfer file in step with the database: whole-line appends, the
// cut-back of a run that does not commit, and the flush before the commit.
#include "export/transfer_file.h"

#include <cstdio>

#include "platform/platform.h"

namespace {

bool SameFile(const FileId& a, const FileId& b) {
  return a.volume == b.volume && a.index == b.index;
}

}  // namespace

int BeginTransferRun(TransferFile& file) {
  file.record_path = SiblingPath(file.path, kRunRecordName);
  file.record = RunRecord();
  if (ReadFileId(file.path, file.record.file, file.record.start_size) != 0) return -1;
  file.size = file.record.start_size;
  return WriteRunRecord(file.record_path, file.record);
}

int AppendTransferLines(TransferFile& file, const std::vector<const std::string*>& lines,
                        size_t& written) {
  written = 0;
  std::string text;
  for (const std::string* line : lines) text += *line;
  if (text.empty()) return 0;

  FILE* out = std::fopen(file.path.c_str(), "ab");
  if (out == nullptr) return -1;
  FileId id;
  long long size_before = 0;
  if (ReadFileId(file.path, id, size_before) != 0) {
    std::fclose(out);
    return -1;
  }
  // A file of another identity, or one shorter than the run left it (a new
  // file that got the old one's number), is not the run's file any more.
  if (!SameFile(id, file.record.file) || size_before < file.size) {
    // Taken away during the run: the lines before went with the old file.
    // From here the run's lines start in this one.
    RunRecord moved = file.record;
    moved.file = id;
    moved.start_size = size_before;
    if (WriteRunRecord(file.record_path, moved) != 0) {
      std::fclose(out);
      return -1;
    }
    file.record = moved;
  }
  const bool complete = std::fwrite(text.data(), 1, text.size(), out) == text.size();
  const bool closed = std::fclose(out) == 0;
  if (complete && closed) {
    file.size = size_before + static_cast<long long>(text.size());
    written = lines.size();
    return 0;
  }
  // Keep the lines that reached the file whole; cut away a torn one.
  long long size_now = size_before;
  if (ReadFileId(file.path, id, size_now) != 0) size_now = size_before;
  long long whole = size_before;
  for (const std::string* line : lines) {
    if (whole + static_cast<long long>(line->size()) > size_now) break;
    whole += static_cast<long long>(line->size());
    ++written;
  }
  TruncateFile(file.path, whole);
  file.size = whole;
  return -1;
}

int CutBackTransferFile(TransferFile& file, long long size) {
  FileId id;
  long long size_now = 0;
  const int found = ReadFileId(file.path, id, size_now);
  if (found == 1) return 1;
  if (found != 0) return -1;
  if (!SameFile(id, file.record.file) || size_now < size) return 1;
  if (size_now > size && TruncateFile(file.path, size) != 0) return -1;
  if (SyncFile(file.path) != 0) return -1;
  file.size = size;
  return 0;
}

int PrepareCommit(TransferFile& file, const RowKey* booking) {
  FileId id;
  long long size = 0;
  const int found = ReadFileId(file.path, id, size);
  // A file taken away after the run's last line took those lines with it to
  // the receiving system: they are delivered, there is nothing here to flush.
  const bool taken_away = found == 1 || (found == 0 && !SameFile(id, file.record.file));
  if (!taken_away && SyncFile(file.path) != 0) return -1;
  RunRecord committing = file.record;
  committing.phase = kPhaseCommitting;
  committing.has_booking = booking != nullptr;
  if (booking != nullptr) {
    for (int key = 0; key < kRowKeyCount; ++key) committing.booking[key] = booking[key];
  }
  if (WriteRunRecord(file.record_path, committing) != 0) return -1;
  file.record = committing;
  return 0;
}
