// Lookup of one value in the settings file: the pairing of header and data
// lines, the three-way match, and the deciphering of the matched value.
#include "config/settings_file.h"

#include <climits>
#include <cstdio>

#include "config/blowfish.h"

namespace {

// Room for a header piece and a data piece, line feed included.
constexpr size_t kHeaderRoom = 199;
constexpr size_t kDataRoom = 399;

// The settings file read as text: a CR directly before a LF is dropped, a
// byte 0x1A ends the file.
struct TextReader {
  FILE* file = nullptr;
  bool has_pending = false;  // a byte read ahead of the caller
  int pending = 0;
  bool ended = false;
  int line = 1;  // line of the next character, from 1
};

int RawByte(TextReader& reader) {
  if (reader.has_pending) {
    reader.has_pending = false;
    return reader.pending;
  }
  return std::fgetc(reader.file);
}

int NextChar(TextReader& reader) {
  if (reader.ended) return EOF;
  int c = RawByte(reader);
  if (c == EOF || c == 0x1A) {
    reader.ended = true;
    return EOF;
  }
  if (c == '\r') {
    const int next = RawByte(reader);
    if (next == '\n') {
      c = '\n';
    } else {
      reader.has_pending = true;
      reader.pending = next;
    }
  }
  return c;
}

bool AtEnd(TextReader& reader) {
  if (reader.ended) return true;
  if (!reader.has_pending) {
    reader.pending = std::fgetc(reader.file);
    reader.has_pending = true;
  }
  return reader.pending == EOF || reader.pending == 0x1A;
}

// Reads up to room characters, stopping after a line feed. Returns false when
// nothing could be read. cut tells whether the piece ended inside a line.
bool ReadPiece(TextReader& reader, size_t room, std::string& piece, int& line, bool& cut) {
  piece.clear();
  line = reader.line;
  while (piece.size() < room) {
    const int c = NextChar(reader);
    if (c == EOF) break;
    piece.push_back(static_cast<char>(c));
    if (c == '\n') {
      ++reader.line;
      break;
    }
  }
  cut = !piece.empty() && piece.back() != '\n' && !AtEnd(reader);
  return !piece.empty();
}

// Reads the next header piece and data piece. Returns false when no data
// piece follows; whether the header piece could be read is not examined.
bool ReadPair(TextReader& reader, IniRecord& record) {
  ReadPiece(reader, kHeaderRoom, record.header, record.header_line, record.header_cut);
  return ReadPiece(reader, kDataRoom, record.data, record.data_line, record.data_cut);
}

// The number as atoi reads it: leading white space, an optional sign, digits
// up to the first other character. Values beyond the range of int are held
// at its limits.
int ParseNumber(const std::string& text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
  }
  if (negative) value = -value;
  if (value > INT_MAX) value = INT_MAX;
  return static_cast<int>(value);
}

bool Matches(const IniEntry& entry, const std::string& section, const std::string& key,
             int number) {
  return entry.section == section || entry.key == key || entry.number == number;
}

void Clear(IniEntry& entry) {
  entry.number = 0;
  entry.section.clear();
  entry.key.clear();
  entry.value.clear();
}

}  // namespace

int FindNthChar(const std::string& text, char c, int n) {
  int count = 0;
  int last = -1;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == c) {
      ++count;
      last = static_cast<int>(i);
    }
    if (count == n) return last;
  }
  return last;
}

void CopySubstring(const std::string& text, int start, int length, std::string& dst) {
  const int size = static_cast<int>(text.size());
  if (length == 0) length = size + 1 - start;
  if (length < 0) return;
  if (start < 0) start = 0;
  dst = start < size ? text.substr(static_cast<size_t>(start), static_cast<size_t>(length)) : "";
}

void ParseIniPair(const std::string& header, const std::string& data, IniEntry& entry) {
  Clear(entry);
  const int a1 = FindNthChar(header, ';', 1);
  const int a2 = FindNthChar(header, ';', 2);
  const int d1 = FindNthChar(data, ';', 1);
  const int d2 = FindNthChar(data, ';', 2);
  const int lf = FindNthChar(data, '\n', 1);
  CopySubstring(header, a1 + 1, a2 - a1 - 1, entry.section);
  std::string number_text;
  if (d1 >= 1) {
    CopySubstring(data, 0, d1, number_text);
  } else if (d1 < 0) {
    number_text = data;
  }
  entry.number = ParseNumber(number_text);
  CopySubstring(data, d1 + 1, d2 - d1 - 1, entry.key);
  CopySubstring(data, d2 + 1, d1 >= 0 ? lf - d2 - 1 : 0, entry.value);
}

int FindIniRecord(const std::string& section, const std::string& key, int number,
                  const std::string& settings_path, IniEntry& entry, IniRecord& record) {
  Clear(entry);
  record = IniRecord();
  TextReader reader;
  reader.file = std::fopen(settings_path.c_str(), "rb");
  if (reader.file == nullptr) return -1;
  int found = 0;
  while (ReadPair(reader, record)) {
    ParseIniPair(record.header, record.data, entry);
    if (Matches(entry, section, key, number)) {
      std::string plaintext;
      DecryptHexValue(entry.value, plaintext, kSettingsKey);
      entry.value = plaintext;
      found = 1;
      break;
    }
  }
  std::fclose(reader.file);
  if (found == 0) {
    Clear(entry);
    record = IniRecord();
  }
  return found;
}

void ReadIniValue(const std::string& section, const std::string& key, int number,
                  const std::string& settings_path, IniEntry& entry) {
  IniRecord record;
  FindIniRecord(section, key, number, settings_path, entry, record);
}

int ReadIniRecords(const std::string& settings_path, std::vector<IniRecord>& records) {
  records.clear();
  TextReader reader;
  reader.file = std::fopen(settings_path.c_str(), "rb");
  if (reader.file == nullptr) return -1;
  IniRecord record;
  while (ReadPair(reader, record)) records.push_back(record);
  std::fclose(reader.file);
  return 0;
}
