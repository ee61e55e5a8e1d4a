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
  WriteProtocolLines(log, {&text});
}

namespace {

// Appends the text as it goes to disk: every line feed as CR LF, then CR LF.
void AppendLineBytes(const std::string& text, std::string& bytes) {
  // Binary mode with our own CR LF keeps the file byte-identical wherever the
  // program runs; readers of the log expect Windows line ends.
  size_t start = 0;
  for (size_t lf = text.find('\n'); lf != std::string::npos; lf = text.find('\n', start)) {
    bytes.append(text, start, lf - start);
    bytes += "\r\n";
    start = lf + 1;
  }
  bytes.append(text, start, std::string::npos);
  bytes += "\r\n";
}

// Appends lines [first, end) of texts in one write. Returns the index of the
// first line not written: end, or the line after which the file grew past the
// rotation size and was rotated; texts.size() + 1 when nothing can be written.
size_t AppendUntilRotation(const ProtocolLog& log, const std::vector<const std::string*>& texts,
                           size_t first) {
  FILE* file = std::fopen(log.path.c_str(), "ab");
  if (file == nullptr) {
    ReportLostLine(log);
    return texts.size() + 1;
  }
  // After an append the end of the file is its size, also when another run
  // has written to it in the meantime.
  long size = -1;
  if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::string bytes;
  size_t next = first;
  bool rotate = false;
  while (next < texts.size() && !rotate) {
    AppendLineBytes(*texts[next++], bytes);
    rotate = size >= 0 && size + static_cast<long long>(bytes.size()) > kProtocolRotateSize;
  }
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) ReportLostLine(log);
  if (rotate) {
    std::remove(log.backup_path.c_str());
    std::rename(log.path.c_str(), log.backup_path.c_str());
  }
  return next;
}

}  // namespace

void WriteProtocolLines(const ProtocolLog& log, const std::vector<const std::string*>& texts) {
  size_t next = 0;
  while (next < texts.size()) next = AppendUntilRotation(log, texts, next);
}
