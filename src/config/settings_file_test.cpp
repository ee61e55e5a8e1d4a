// The settings lookup: field parsing, the pairing of lines, the three-way
// match, text-mode reading and the deciphering of the matched value.
#include "config/settings_file.h"

#include <dirent.h>
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "config/blowfish.h"
#include "test/temp_dir.h"

namespace {

// A data line "number;key;" with the enciphered value and a line feed.
std::string Data(const std::string& number_and_key, const std::string& plain) {
  return number_and_key + EncryptHexValue(plain, kSettingsKey) + "\n";
}

IniEntry Lookup(const std::string& path, const std::string& key) {
  IniEntry entry;
  entry.number = 99;
  entry.section = entry.key = entry.value = "stale";
  ReadIniValue("", key, 0, path, entry);
  return entry;
}

int OpenDescriptors() {
  int count = 0;
  DIR* dir = opendir("/proc/self/fd");
  if (dir == nullptr) return -1;
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

TEST(SettingsFileTest, FindNthChar) {
  EXPECT_EQ(FindNthChar("", ';', 1), -1);
  EXPECT_EQ(FindNthChar("abc", ';', 1), -1);
  EXPECT_EQ(FindNthChar(";a;b;", ';', 1), 0);
  EXPECT_EQ(FindNthChar(";a;b;", ';', 2), 2);
  // Fewer occurrences than asked for: the last one.
  EXPECT_EQ(FindNthChar("x;y", ';', 2), 1);
  EXPECT_EQ(FindNthChar("ab\n", '\n', 1), 2);
}

TEST(SettingsFileTest, CopySubstring) {
  std::string dst = "old";
  CopySubstring("abcdef", 1, 3, dst);
  EXPECT_EQ(dst, "bcd");
  CopySubstring("abcdef", 2, 0, dst);  // 0: to the end
  EXPECT_EQ(dst, "cdef");
  CopySubstring("abcdef", 6, 0, dst);
  EXPECT_EQ(dst, "");
  dst = "kept";
  CopySubstring("abcdef", 2, -1, dst);
  EXPECT_EQ(dst, "kept");
}

TEST(SettingsFileTest, FieldsOfEachLineShape) {
  IniEntry e;
  ParseIniPair("x;DB;y\n", "7;LOGIN;V\n", e);
  EXPECT_EQ(e.section, "DB");
  EXPECT_EQ(e.number, 7);
  EXPECT_EQ(e.key, "LOGIN");
  EXPECT_EQ(e.value, "V");

  ParseIniPair("x;;y\n", "7;;V\n", e);
  EXPECT_EQ(e.section, ";y\n");
  EXPECT_EQ(e.key, ";V\n");
  EXPECT_EQ(e.value, "V");

  ParseIniPair("x;DB\n", "7;LOGIN;\n", e);
  EXPECT_EQ(e.section, "");
  EXPECT_EQ(e.value, "\n");

  ParseIniPair("no separator\n", "7;V\n", e);
  EXPECT_EQ(e.section, "");
  EXPECT_EQ(e.number, 7);
  EXPECT_EQ(e.key, "");
  EXPECT_EQ(e.value, "V");

  ParseIniPair("x;DB;\n", ";LOGIN;A;B;C\n", e);
  EXPECT_EQ(e.number, 0);
  EXPECT_EQ(e.key, "LOGIN");
  EXPECT_EQ(e.value, "A;B;C");  // later ";" stay in the value

  ParseIniPair("x;DB;\n", "7;LOGIN;ABC", e);  // no line feed: empty value
  EXPECT_EQ(e.key, "LOGIN");
  EXPECT_EQ(e.value, "");

  // No ";" at all: the number atoi reads from the whole line, the whole line
  // as value.
  ParseIniPair("x;DB;\n", " -42abc\n", e);
  EXPECT_EQ(e.number, -42);
  EXPECT_EQ(e.key, "");
  EXPECT_EQ(e.value, " -42abc\n");

  // Numbers the way atoi reads them; beyond the range of int held at its limits.
  ParseIniPair("", "\t+12x;K;V\n", e);
  EXPECT_EQ(e.number, 12);
  ParseIniPair("", "abc;K;V\n", e);
  EXPECT_EQ(e.number, 0);
  ParseIniPair("", "123456789012345;K;V\n", e);
  EXPECT_EQ(e.number, INT_MAX);
  ParseIniPair("", "-2147483648;K;V\n", e);
  EXPECT_EQ(e.number, INT_MIN);
}

TEST(SettingsFileTest, RecordsMatchBySectionKeyOrNumber) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(
      path, "x;DB;\n" + Data("1;LOGIN;", "scott") + "x;DB;\n" + Data("2;PASS;", "tiger") +
                "x;DB;\n" + Data("3;PASS;", "second") + "x;DB;\n" + Data("4; NET8;", "host") +
                "x;DB;\n" + Data("5;login;", "lower")));
  IniEntry login = Lookup(path, "LOGIN");
  EXPECT_EQ(login.number, 1);
  EXPECT_EQ(login.section, "DB");
  EXPECT_EQ(login.key, "LOGIN");
  EXPECT_EQ(login.value, "scott");
  // The first of two equal keys wins.
  IniEntry pass = Lookup(path, "PASS");
  EXPECT_EQ(pass.number, 2);
  EXPECT_EQ(pass.value, "tiger");
  // Keys are compared exactly: " NET8" and "login" answer nothing.
  for (const char* key : {"NET8", "login "}) {
    IniEntry none = Lookup(path, key);
    EXPECT_EQ(none.number, 0) << key;
    EXPECT_EQ(none.section, "") << key;
    EXPECT_EQ(none.key, "") << key;
    EXPECT_EQ(none.value, "") << key;
  }
  // A request by section or by number.
  IniEntry by_number;
  ReadIniValue("other", "other", 4, path, by_number);
  EXPECT_EQ(by_number.key, " NET8");
  EXPECT_EQ(by_number.value, "host");
  IniEntry by_section;
  ReadIniValue("DB", "other", 99, path, by_section);
  EXPECT_EQ(by_section.key, "LOGIN");
}

TEST(SettingsFileTest, ShadowingRecordsAnswerEveryRequest) {
  ScopedTempDir dir;
  const std::string one_separator = dir.File("header.ini");
  ASSERT_TRUE(WriteFileBytes(one_separator, "x;DB;\n" + Data("1;LOGIN;", "scott") + "Kopf;\n" +
                                                Data("2;DB_SYSTEM;", "MySQL") + "x;DB;\n" +
                                                Data("3;PASS;", "tiger")));
  for (const char* key : {"PASS", "NET8"}) {
    const IniEntry e = Lookup(one_separator, key);
    EXPECT_EQ(e.key, "DB_SYSTEM") << key;
    EXPECT_EQ(e.value, "MySQL") << key;
  }
  EXPECT_EQ(Lookup(one_separator, "LOGIN").value, "scott");

  const std::string number_zero = dir.File("number.ini");
  ASSERT_TRUE(WriteFileBytes(
      number_zero, "x;DB;\n" + Data("LOGIN;", "first") + "x;DB;\n" + Data("2;PASS;", "tiger")));
  const IniEntry e = Lookup(number_zero, "PASS");
  EXPECT_EQ(e.number, 0);
  EXPECT_EQ(e.key, "");
  EXPECT_EQ(e.value, "first");
}

TEST(SettingsFileTest, TextModeReading) {
  ScopedTempDir dir;
  // CR LF line ends: the CR is not part of the value; a lone CR is a character.
  const std::string crlf = dir.File("crlf.ini");
  ASSERT_TRUE(WriteFileBytes(
      crlf, "x;D\rB;\r\n1;LOGIN;" + EncryptHexValue("scott", kSettingsKey) + "\r\n"));
  const IniEntry e = Lookup(crlf, "LOGIN");
  EXPECT_EQ(e.section, "D\rB");
  EXPECT_EQ(e.value, "scott");
  // The dropped CR does not count against the room of a line either.
  ASSERT_TRUE(WriteFileBytes(crlf, "x;DB;" + std::string(193, 'a') + "\r\n1;LOGIN;" +
                                       EncryptHexValue("scott", kSettingsKey) + "\r\n"));
  IniEntry entry;
  IniRecord record;
  ASSERT_EQ(FindIniRecord("", "LOGIN", 0, crlf, entry, record), 1);
  EXPECT_EQ(record.header, "x;DB;" + std::string(193, 'a') + "\n");
  EXPECT_EQ(record.data, "1;LOGIN;" + EncryptHexValue("scott", kSettingsKey) + "\n");
  EXPECT_EQ(entry.value, "scott");

  // A byte 0x1A ends the file.
  const std::string eof = dir.File("eof.ini");
  ASSERT_TRUE(WriteFileBytes(
      eof, "x;DB;\n" + Data("1;LOGIN;", "scott") + "\x1A" + "x;DB;\n" + Data("2;PASS;", "tiger")));
  EXPECT_EQ(Lookup(eof, "LOGIN").value, "scott");
  EXPECT_EQ(Lookup(eof, "PASS").key, "");

  // The wanted record is the last pair and its line has no line feed: it
  // matches by its key, its value is empty.
  const std::string no_lf = dir.File("nolf.ini");
  ASSERT_TRUE(WriteFileBytes(no_lf, "x;DB;\n" + Data("1;LOGIN;", "scott") + "x;DB;\n2;PASS;" +
                                        EncryptHexValue("tiger", kSettingsKey)));
  const IniEntry last = Lookup(no_lf, "PASS");
  EXPECT_EQ(last.number, 2);
  EXPECT_EQ(last.key, "PASS");
  EXPECT_EQ(last.value, "");

  // An odd number of lines: the last line is a header and never examined.
  const std::string odd = dir.File("odd.ini");
  ASSERT_TRUE(WriteFileBytes(odd, "x;DB;\n" + Data("1;LOGIN;", "scott") + Data("2;PASS;", "x")));
  EXPECT_EQ(Lookup(odd, "PASS").key, "");

  // An empty value field arrives as one line feed and deciphers to nothing.
  const std::string empty = dir.File("empty.ini");
  ASSERT_TRUE(WriteFileBytes(empty, "x;DB;\n5;PASS;\n"));
  const IniEntry blank = Lookup(empty, "PASS");
  EXPECT_EQ(blank.number, 5);
  EXPECT_EQ(blank.value, "");

  // Empty file, one line only, a file that cannot be opened: no record.
  ASSERT_TRUE(WriteFileBytes(dir.File("zero.ini"), ""));
  ASSERT_TRUE(WriteFileBytes(dir.File("one.ini"), "x;DB;\n"));
  for (const char* name : {"zero.ini", "one.ini", "missing.ini"}) {
    const IniEntry none = Lookup(dir.File(name), "LOGIN");
    EXPECT_EQ(none.number, 0) << name;
    EXPECT_EQ(none.section + none.key + none.value, "") << name;
  }
}

TEST(SettingsFileTest, OverLongLinesShiftThePairing) {
  ScopedTempDir dir;
  const std::string tail = Data("2;PASS;", "tiger");
  // 198 characters before the line feed still fit a header line.
  const std::string fits = dir.File("fits.ini");
  ASSERT_TRUE(WriteFileBytes(
      fits, "x;DB;" + std::string(193, 'a') + "\n" + Data("1;LOGIN;", "scott") + "x;DB;\n" + tail));
  EXPECT_EQ(Lookup(fits, "LOGIN").value, "scott");
  EXPECT_EQ(Lookup(fits, "PASS").value, "tiger");

  // With 199 the header's line feed becomes the data line: number 0, so it
  // answers every request, and every later pair is shifted.
  const std::string shifted = dir.File("shifted.ini");
  ASSERT_TRUE(WriteFileBytes(shifted, "x;DB;" + std::string(194, 'a') + "\n" +
                                          Data("1;LOGIN;", "scott") + "x;DB;\n" + tail));
  IniEntry entry;
  IniRecord record;
  ASSERT_EQ(FindIniRecord("", "PASS", 0, shifted, entry, record), 1);
  EXPECT_EQ(entry.number, 0);
  EXPECT_EQ(entry.key, "");
  EXPECT_EQ(entry.value, "");
  EXPECT_EQ(record.header_line, 1);
  EXPECT_EQ(record.data_line, 1);
  EXPECT_TRUE(record.header_cut);

  std::vector<IniRecord> records;
  ASSERT_EQ(ReadIniRecords(shifted, records), 0);
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[1].header, Data("1;LOGIN;", "scott"));
  EXPECT_EQ(records[1].header_line, 2);
  EXPECT_EQ(records[1].data, "x;DB;\n");
  EXPECT_EQ(records[1].data_line, 3);  // the last line is left without a partner

  // A data line holds 398 characters before its line feed; one more and its
  // value is empty, its rest the next header.
  const std::string plain(190, 'p');
  const std::string value = EncryptHexValue(plain, kSettingsKey);  // 384 digits
  const std::string long_data = dir.File("data.ini");
  ASSERT_TRUE(WriteFileBytes(long_data, "x;DB;\n1234567;LOGIN;" + value + "\nx;DB;\n" + tail));
  EXPECT_EQ(Lookup(long_data, "PASS").value, "tiger");
  ASSERT_TRUE(WriteFileBytes(long_data, "x;DB;\n12345678;LOGIN;" + value + "\nx;DB;\n" + tail));
  ASSERT_EQ(FindIniRecord("", "LOGIN", 0, long_data, entry, record), 1);
  EXPECT_EQ(entry.value, "");
  EXPECT_TRUE(record.data_cut);
  // The pair ("\n", "x;DB;\n") answers: its header has no ";".
  ASSERT_EQ(FindIniRecord("", "PASS", 0, long_data, entry, record), 1);
  EXPECT_EQ(entry.key, "DB");
  EXPECT_EQ(record.header_line, 2);
  EXPECT_EQ(record.data_line, 3);
}

// Texts beyond 200 characters are carried whole: a 250-character key, a
// 384-digit value (its record fills a data line to the last character).
TEST(SettingsFileTest, LongTextsAreCarriedWhole) {
  ScopedTempDir dir;
  const std::string path = dir.File("long.ini");
  const std::string key(250, 'K');
  const std::string plain(190, 'v');
  ASSERT_TRUE(WriteFileBytes(path, "x;DB;\n" + Data("1;" + key + ";", "scott") + "x;DB;\n" +
                                       Data("1234567;LOGIN;", plain)));
  const IniEntry long_key = Lookup(path, key);
  EXPECT_EQ(long_key.key, key);
  EXPECT_EQ(long_key.value, "scott");
  EXPECT_EQ(Lookup(path, "LOGIN").value, plain);
}

TEST(SettingsFileTest, FileIsClosedAfterEveryLookup) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(path, "x;DB;\n" + Data("1;LOGIN;", "scott")));
  const int before = OpenDescriptors();
  ASSERT_GT(before, 0);
  EXPECT_EQ(Lookup(path, "LOGIN").value, "scott");
  EXPECT_EQ(OpenDescriptors(), before);
  EXPECT_EQ(Lookup(path, "PASS").key, "");
  EXPECT_EQ(OpenDescriptors(), before);
}

}  // namespace
