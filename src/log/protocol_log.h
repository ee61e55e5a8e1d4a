// The protocol log: one line appended per call, rotated to one backup
// generation when the file has grown past 10 MiB.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

// Where the run's protocol goes, relative to the working directory.
extern const char kProtocolPath[];        // "../../Veltrano_php/log/Durnwell#Log.txt"
extern const char kProtocolBackupPath[];  // "../../Veltrano_php/log/Durnwell#Log_bak.txt"

// A file larger than this after a write is rotated; one of exactly this size is not.
constexpr long long kProtocolRotateSize = 10485760;

struct ProtocolLog {
  std::string path = kProtocolPath;
  std::string backup_path = kProtocolBackupPath;
  // The console of a run with "/D"; null otherwise. When set, the first line
  // that cannot be written is reported there.
  FILE* console = nullptr;
  mutable bool failure_reported = false;  // the report is printed once per run
};

// Appends text and one line feed to the protocol file, every line feed written
// as CR LF, the bytes otherwise as given (Windows-1252). Opens and closes the
// file for each call; rotates it to the backup path when it is then larger than
// kProtocolRotateSize. A log that cannot be opened, written, deleted or renamed
// loses the line and nothing else happens, except that the first line lost
// is reported on log.console, when set:
// "Protokolldatei kann nicht geschrieben werden: <path>\n".
void WriteProtocol(const ProtocolLog& log, const std::string& text);

// Writes texts as WriteProtocol would, one after the other, leaving the same
// bytes (a rotation falls after the same line), but opens the file once for
// all of them rather than once per line.
void WriteProtocolLines(const ProtocolLog& log, const std::vector<const std::string*>& texts);
