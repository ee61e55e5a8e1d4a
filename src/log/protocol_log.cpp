// The protocol log: CR LF lines appended in binary mode, rotated at 10 MiB.
#include "log/protocol_log.h"

#include <cstdio>

const char kProtocolPath[] = "../../Veltrano_php/log/Durnwell#Log.txt";
const char kProtocolBackupPath[] = "../../Veltrano_php/log/Durnwell#Log_bak.txt";

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
  if (file == nullptr) return;
  std::fwrite(bytes.data(), 1, bytes.size(), file);
  // After an append the end of the file is its size, also when another run
  // has written to it in the meantime.
  long size = -1;
  if (std::fflush(file) == 0 && std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
  std::fclose(file);
  if (size > kProtocolRotateSize) {
    std::remove(log.backup_path.c_str());
    std::rename(log.path.c_str(), log.backup_path.c_str());
  }
}
