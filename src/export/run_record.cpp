// The run record: its text, read and written whole.
#include "export/run_record.h"

#include <cstdio>
#include <cstdlib>

const char kRunRecordName[] = "Halvorn_MySQL.lauf";

namespace {

const char kRecordTitle[] = "Halvorn_MySQL Uebergabelauf";
const char kHexDigits[] = "0123456789ABCDEF";

// A key as "-" for NULL, otherwise "x" and its bytes in hex.
std::string EncodeKey(const RowKey& key) {
  if (key.is_null) return "-";
  std::string text = "x";
  for (unsigned char c : key.text) {
    text += kHexDigits[c >> 4];
    text += kHexDigits[c & 15];
  }
  return text;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool DecodeKey(const std::string& text, RowKey& key) {
  key = RowKey();
  if (text == "-") {
    key.is_null = true;
    return true;
  }
  if (text.empty() || text[0] != 'x' || text.size() % 2 != 1) return false;
  for (size_t i = 1; i < text.size(); i += 2) {
    const int high = HexValue(text[i]);
    const int low = HexValue(text[i + 1]);
    if (high < 0 || low < 0) return false;
    key.text += static_cast<char>(high * 16 + low);
  }
  return true;
}

bool ParseNumber(const std::string& text, long long& number) {
  if (text.empty()) return false;
  char* end = nullptr;
  number = std::strtoll(text.c_str(), &end, 10);
  return *end == '\0';
}

bool ParseUnsigned(const std::string& text, unsigned long long& number) {
  if (text.empty()) return false;
  char* end = nullptr;
  number = std::strtoull(text.c_str(), &end, 10);
  return *end == '\0';
}

// The run's token: hex digits only, so that it goes into a statement as it is.
bool IsToken(const std::string& text) {
  if (text.empty()) return false;
  for (char c : text) {
    if (HexValue(c) < 0) return false;
  }
  return true;
}

std::string FormatRecord(const RunRecord& record) {
  std::string text = std::string(kRecordTitle) + "\n";
  text +=
      std::string("phase=") + (record.phase == kPhaseCommitting ? "festschreiben" : "schreiben");
  text += "\ndatei=" + std::to_string(record.file.volume) + ":" + std::to_string(record.file.index);
  text += "\nstart=" + std::to_string(record.start_size);
  if (record.has_booking) {
    text += "\nbuchung=";
    for (int key = 0; key < kRowKeyCount; ++key) {
      if (key > 0) text += ',';
      text += EncodeKey(record.booking[key]);
    }
  }
  if (!record.token.empty()) text += "\nmarke=" + record.token;
  return text + "\nende des laufs\n";
}

// Reads one "name=value" line of the record; false at a line of another form.
bool ParseField(const std::string& line, RunRecord& record) {
  const size_t equals = line.find('=');
  if (equals == std::string::npos) return false;
  const std::string name = line.substr(0, equals);
  const std::string value = line.substr(equals + 1);
  if (name == "phase") {
    if (value != "schreiben" && value != "festschreiben") return false;
    record.phase = value == "festschreiben" ? kPhaseCommitting : kPhaseWriting;
    return true;
  }
  if (name == "datei") {
    const size_t colon = value.find(':');
    return colon != std::string::npos &&
           ParseUnsigned(value.substr(0, colon), record.file.volume) &&
           ParseUnsigned(value.substr(colon + 1), record.file.index);
  }
  if (name == "start") return ParseNumber(value, record.start_size);
  if (name == "ende") {
    // The file's size at the commit, in records of earlier versions; not needed.
    long long size = 0;
    return ParseNumber(value, size);
  }
  if (name == "buchung") {
    size_t begin = 0;
    for (int key = 0; key < kRowKeyCount; ++key) {
      const size_t comma = key + 1 < kRowKeyCount ? value.find(',', begin) : value.size();
      if (comma == std::string::npos) return false;
      if (!DecodeKey(value.substr(begin, comma - begin), record.booking[key])) return false;
      begin = comma + 1;
    }
    record.has_booking = begin == value.size() + 1;
    return record.has_booking;
  }
  if (name == "marke") {
    record.token = value;
    return IsToken(value);
  }
  return false;
}

// Writes bytes to a new file at path and flushes it to stable storage.
int WriteDurably(const std::string& path, const std::string& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return -1;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed || SyncFile(path) < 0) {
    std::remove(path.c_str());
    return -1;
  }
  return 0;
}

}  // namespace

int ReadRunRecord(const std::string& path, RunRecord& record) {
  record = RunRecord();
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) {
    FileId id;
    long long size = 0;
    return ReadFileId(path, id, size) == 1 ? 1 : -1;
  }
  std::string text;
  char buffer[512];
  size_t got;
  while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0 && text.size() < 65536) {
    text.append(buffer, got);
  }
  const bool read = !std::ferror(file);
  std::fclose(file);
  if (!read) return -1;

  // The title first, the closing line last: a record is whole or not one.
  const std::string title = std::string(kRecordTitle) + "\n";
  const std::string closing = "ende des laufs\n";
  if (text.compare(0, title.size(), title) != 0 || text.size() < title.size() + closing.size() ||
      text.compare(text.size() - closing.size(), closing.size(), closing) != 0) {
    return -1;
  }
  size_t begin = title.size();
  const size_t end = text.size() - closing.size();
  bool has_phase = false, has_file = false, has_start = false;
  while (begin < end) {
    const size_t newline = text.find('\n', begin);
    const std::string line = text.substr(begin, newline - begin);
    if (!ParseField(line, record)) return -1;
    has_phase |= line.compare(0, 6, "phase=") == 0;
    has_file |= line.compare(0, 6, "datei=") == 0;
    has_start |= line.compare(0, 6, "start=") == 0;
    begin = newline + 1;
  }
  return has_phase && has_file && has_start ? 0 : -1;
}

int WriteRunRecord(const std::string& path, const RunRecord& record) {
  const std::string temporary = path + ".neu";
  if (WriteDurably(temporary, FormatRecord(record)) != 0) return -1;
  if (ReplaceFileAtomically(temporary, path) != 0) {
    std::remove(temporary.c_str());
    return -1;
  }
  return SyncDirectoryOf(path) < 0 ? -1 : 0;
}

int RemoveRunRecord(const std::string& path) {
  if (std::remove(path.c_str()) != 0) {
    FileId id;
    long long size = 0;
    if (ReadFileId(path, id, size) != 1) return -1;
  }
  return SyncDirectoryOf(path) < 0 ? -1 : 0;
}
