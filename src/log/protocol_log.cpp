// The protocol log: CR LF lines appended in binary mode, rotated at 10 MiB.
#include "log/protocol_log.h"

#include <cstdio>

const char kProtocolPath[] = "../../Veltrano_php/log/Durnwell#Log.txt";
const char kProtocolBackupPath[] = "../../Veltrano_php/log/Durnwell#Log_bak.txt";

namespace {

// Tells the operator of a "/D" run, once, why the protocol stays empty.
void ReportLostLine(const ProtocolLog& log) {
  if (log.console == nullptr || log.failure_reported) return;
  log.failure_reported = true;
  std::fprintf(log.console, "Protokolldatei kann nicht geschrieben werden: %s\n", log.path.c_str());
  std::fflush(log.console);
}

}  // namespace

void WriteProtocol(const ProtocolLog& log, const std::string& text) {
  // Binary mode with our own CR LF keeps the file byte-identical wherever the
  // program runs; readers of the log expect Windows line ends.
  std::string bytes;
  bytes.reserve(text.size() + 16);
  for (char c : text) {
    if (c == '\n') bytes += '\r';
    bytes += c;
  }
  bytes += "\r\n";

  FILE* file = std::fopen(log.path.c_str(), "ab");
  if (file == nullptr) {
    ReportLostLine(log);
    return;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  // After an append the end of the file is its size, also when another run
  // has written to it in the meantime.
  long size = -1;
  const bool flushed = std::fflush(file) == 0;
  if (flushed && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  const bool closed = std::fclose(file) == 0;
  if (!written || !flushed || !closed) ReportLostLine(log);
  if (size > kProtocolRotateSize) {
    std::remove(log.backup_path.c_str());
    std::rename(log.path.c_str(), log.backup_path.c_str());
  }
}
