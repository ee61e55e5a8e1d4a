// The settings lookup: field parsing, the pairing of lines, the three-way
// match, text-mode reading and the deciphering of the matched value.
#include "config/settings_file.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <string>
#include <vector>

#include "config/blowfish.h"
#include "test/temp_dir.h"

namespace {

std::string Hex(const std::string& plain) { return EncryptHexValue(plain, kSettingsKey); }

// A header line and a data line "number;key;" with the enciphered value.
std::string Rec(const std::string& number_and_key, const std::string& plain,
                const std::string& header = "x;DB;") {
  return header + "\n" + number_and_key + Hex(plain) + "\n";
}

// All fields of an entry in one text: "number|section|key|value".
std::string Show(const IniEntry& e) {
  return std::to_string(e.number) + "|" + e.section + "|" + e.key + "|" + e.value;
}

// The descriptor the next opened file would get: another if one is left open.
int NextDescriptor() {
  const int fd = dup(2);
  close(fd);
  return fd;
}

// Writes content to a file of its own (the directory is removed at exit).
std::string Write(const std::string& content) {
  static ScopedTempDir dir;
  static int files = 0;
  const std::string path = dir.File(std::to_string(++files) + ".ini");
  EXPECT_TRUE(WriteFileBytes(path, content));
  return path;
}

// ReadIniValue's answer, into an entry whose stale fields show if left as
// they were; the file must be closed again afterwards.
std::string Lookup(const std::string& path, const std::string& key, const std::string& section = "",
                   int number = 0) {
  IniEntry e;
  e.number = 99;
  e.section = e.key = e.value = "stale";
  const int before = NextDescriptor();
  EXPECT_GE(before, 0);
  ReadIniValue(section, key, number, path, e);
  EXPECT_EQ(NextDescriptor(), before) << "file left open";
  return Show(e);
}

// Where a record lies: "header_line-data_line", and which piece was cut.
std::string Where(const IniRecord& r) {
  return std::to_string(r.header_line) + "-" + std::to_string(r.data_line) +
         (r.header_cut ? " header cut" : "") + (r.data_cut ? " data cut" : "");
}

// FindIniRecord's answer: "status entry record", the record's lines stale
// beforehand.
std::string Find(const std::string& path, const std::string& key) {
  IniEntry e;
  IniRecord r;
  r.header_line = 99;
  const int status = FindIniRecord("", key, 0, path, e, r);
  return std::to_string(status) + " " + Show(e) + " " + Where(r);
}

// Fields of a pair of lines as read, in the form "number|section|key|value".
TEST(SettingsFileTest, FieldsOfEachLineShape) {
  const std::string kCases[][3] = {
      // header, data, expected
      {"x;DB;y\n", "7;LOGIN;V\n", "7|DB|LOGIN|V"},
      {"x;;y\n", "7;;V\n", "7|;y\n|;V\n|V"},  // an empty field reads to the end
      {"x;DB\n", "7;LOGIN;\n", "7||LOGIN|\n"},
      {"no separator\n", "7;V\n", "7|||V"},
      {"x;DB;\n", ";LOGIN;A;B;C\n", "0|DB|LOGIN|A;B;C"},  // later ";" stay in the value
      {"x;DB;\n", "7;LOGIN;ABC", "7|DB|LOGIN|"},          // no line feed: empty value
      // No ";": the number atoi reads from the whole line, which is the value.
      {"x;DB;\n", " -42abc\n", "-42|DB|| -42abc\n"},
      // Numbers as atoi reads them, held at the limits of int.
      {"", "\t+12x;K;V\n", "12||K|V"},
      {"", "abc;K;V\n", "0||K|V"},
      {"", "123456789012345;K;V\n", std::to_string(INT_MAX) + "||K|V"},
      {"", "-2147483648;K;V\n", std::to_string(INT_MIN) + "||K|V"},
      {"", "-99999999999999999999;K;V\n", std::to_string(INT_MIN) + "||K|V"},
  };
  IniEntry e;  // one for all, so that a field left from the case before shows
  for (const auto& c : kCases) {
    ParseIniPair(c[0], c[1], e);
    EXPECT_EQ(Show(e), c[2]) << c[0] << c[1];
  }
}

TEST(SettingsFileTest, Lookups) {
  const std::string long_key(250, 'K');
  const std::string file =
      Write(Rec("1;LOGIN;", "scott") + Rec("2;PASS;", "tiger") + Rec("3;PASS;", "second") +
            Rec("4; NET8;", "host") + Rec("5;login;", "lower") + Rec("6;" + long_key + ";", "k"));
  // A header with one ";" (empty section) or a data line without a number
  // (number 0) makes a record that answers every request after it.
  const std::string one_separator =
      Write(Rec("1;LOGIN;", "scott") + Rec("2;DB_SYSTEM;", "MySQL", "Kopf;") + Rec("3;PASS;", "t"));
  const std::string eof = Write(Rec("1;LOGIN;", "scott") + "\x1A" + Rec("2;PASS;", "tiger"));
  const std::string kCases[][3] = {
      // path, key, expected
      {file, "LOGIN", "1|DB|LOGIN|scott"},
      {file, "PASS", "2|DB|PASS|tiger"},  // the first of two equal keys
      {file, "NET8", "0|||"},             // keys are compared exactly
      {file, "login ", "0|||"},
      {file, long_key, "6|DB|" + long_key + "|k"},
      {one_separator, "PASS", "2||DB_SYSTEM|MySQL"},
      {one_separator, "NET8", "2||DB_SYSTEM|MySQL"},
      {one_separator, "LOGIN", "1|DB|LOGIN|scott"},
      {Write(Rec("LOGIN;", "first") + Rec("2;PASS;", "tiger")), "PASS", "0|DB||first"},
      // Text mode: a CR before a LF is dropped, a lone CR kept; 0x1A ends the file.
      {Write("x;D\rB;\r\n1;LOGIN;" + Hex("scott") + "\r\n"), "LOGIN", "1|D\rB|LOGIN|scott"},
      {eof, "LOGIN", "1|DB|LOGIN|scott"},
      {eof, "PASS", "0|||"},
      // The last line without a line feed: its record matches, its value is empty.
      {Write(Rec("1;LOGIN;", "scott") + "x;DB;\n2;PASS;" + Hex("tiger")), "PASS", "2|DB|PASS|"},
      // An odd number of lines: the last line is a header and never examined.
      {Write(Rec("1;LOGIN;", "scott") + "2;PASS;" + Hex("x") + "\n"), "PASS", "0|||"},
      // An empty value field arrives as one line feed and deciphers to nothing.
      {Write("x;DB;\n5;PASS;\n"), "PASS", "5|DB|PASS|"},
      {Write(""), "LOGIN", "0|||"},
      {Write("x;DB;\n"), "LOGIN", "0|||"},
      {"/nonexistent/missing.ini", "LOGIN", "0|||"},
  };
  for (const auto& c : kCases) EXPECT_EQ(Lookup(c[0], c[1]), c[2]) << c[0] << " " << c[1];
  // A request by number or by section.
  EXPECT_EQ(Lookup(file, "other", "other", 4), "4|DB| NET8|host");
  EXPECT_EQ(Lookup(file, "other", "DB", 99), "1|DB|LOGIN|scott");
  EXPECT_EQ(Find("/nonexistent/missing.ini", "LOGIN"), "-1 0||| 0-0");
}

// A header piece holds 198 characters and the line feed (a dropped CR does
// not count), a data piece 398. The rest of a longer line is the next piece,
// and every later pair is shifted by one line.
TEST(SettingsFileTest, OverLongLinesShiftThePairing) {
  const std::string header = "x;DB;" + std::string(193, 'a');
  const std::string tail = Rec("2;PASS;", "tiger");
  const std::string fits = Write(header + "\r\n1;LOGIN;" + Hex("scott") + "\r\n" + tail);
  EXPECT_EQ(Find(fits, "LOGIN"), "1 1|DB|LOGIN|scott 1-2");

  // The header's line feed becomes the data line: number 0 answers any request.
  const std::string shifted = Write(header + "a\n1;LOGIN;" + Hex("scott") + "\n" + tail);
  EXPECT_EQ(Find(shifted, "PASS"), "1 0|DB|| 1-1 header cut");
  std::vector<IniRecord> records;
  ASSERT_EQ(ReadIniRecords(shifted, records), 0);
  ASSERT_EQ(records.size(), 2u);  // the last line is left without a partner
  EXPECT_EQ(records[1].header + records[1].data, "1;LOGIN;" + Hex("scott") + "\nx;DB;\n");
  EXPECT_EQ(Where(records[1]), "2-3");

  const std::string plain(190, 'p');  // 384 hex digits: 14 + 384 fill a data line
  const std::string full = Write("x;DB;\n1234567;LOGIN;" + Hex(plain) + "\n" + tail);
  EXPECT_EQ(Lookup(full, "LOGIN"), "1234567|DB|LOGIN|" + plain);
  // One more: the value reads empty, and the pair ("\n", "x;DB;\n") answers.
  const std::string over = Write("x;DB;\n12345678;LOGIN;" + Hex(plain) + "\n" + tail);
  EXPECT_EQ(Find(over, "LOGIN"), "1 12345678|DB|LOGIN| 1-2 data cut");
  EXPECT_EQ(Find(over, "PASS"), "1 0||DB| 2-3");
}

}  // namespace
