// The operator's check of a settings file: the answering records, the masking
// of the password, and the warnings and failures it reports.
#include "tool/settings_check.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/blowfish.h"
#include "test/temp_dir.h"

namespace {

std::string Record(const std::string& header, const std::string& number_and_key,
                   const std::string& plain) {
  return header + "\n" + number_and_key + EncryptHexValue(plain, kSettingsKey) + "\n";
}

const std::string kLogin = Record("x;DB;", "1;LOGIN;", "scott");
const std::string kPass = Record("x;DB;", "2;PASS;", "tiger");
const std::string kHost(41, 'h');  // the longest NET8 value that is handed on
const std::string kGood =
    kLogin + kPass + Record("x;DB;", "3;DB_SYSTEM;", "MySQL") + Record("x;DB;", "4;NET8;", kHost);

// Checks a file of the given content: the status, and texts the report must
// contain or, marked with a leading "-", must not contain.
void ExpectCheck(const std::string& content, int status, const std::vector<std::string>& texts,
                 bool show_password = false) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(path, content));
  std::string report;
  EXPECT_EQ(CheckSettingsFile(path, show_password, report), status) << report;
  for (const std::string& text : texts) {
    const bool absent = text[0] == '-';
    EXPECT_EQ(report.find(text.substr(absent)) == std::string::npos, absent) << text << report;
  }
}

// The answers of a good file, with nothing between them and the result.
TEST(SettingsCheckTest, GoodFileShowsEachAnswerAndMasksThePassword) {
  ExpectCheck(kGood, kCheckPassed,
              {"\nLOGIN     : Zeilen 1-2, Schluessel \"LOGIN\", Wert \"scott\"\n"
               "PASS      : Zeilen 3-4, Schluessel \"PASS\", Wert verdeckt (anzeigen mit /P)\n"
               "DB_SYSTEM : Zeilen 5-6, Schluessel \"DB_SYSTEM\", Wert \"MySQL\"\n"
               "NET8      : Zeilen 7-8, Schluessel \"NET8\", Wert \"" +
                   kHost + "\"\nErgebnis: in Ordnung\n",
               "-tiger"});
  ExpectCheck(kGood, kCheckPassed, {"Wert \"tiger\""}, true);
}

// A record whose header has fewer than two ";", or whose number is 0,
// answers every later request.
TEST(SettingsCheckTest, ShadowingRecordFailsTheCheck) {
  const std::string by = "wird vom Eintrag in Zeilen 3-4 mit dem Schluessel \"DB_SYSTEM\"";
  ExpectCheck(kLogin + Record("Kopfzeile", "3;DB_SYSTEM;", "MySQL") + kPass, kCheckFailed,
              {"FEHLER: PASS " + by + " beantwortet: seine Kopfzeile hat weniger als zwei",
               "FEHLER: NET8 " + by, "-FEHLER: LOGIN", "-FEHLER: DB_SYSTEM", "fehlerhaft\n"});
  ExpectCheck(kLogin + Record("x;DB;", "0;DB_SYSTEM;", "MySQL") + kPass, kCheckFailed,
              {"FEHLER: PASS " + by + " beantwortet: seine Nummer ist 0"});
}

// LOGIN and PASS must be answered; a missing DB_SYSTEM or NET8, an empty or
// over-long NET8 and a later record with the same key only warn.
TEST(SettingsCheckTest, MissingAccountFailsOtherGapsWarn) {
  ExpectCheck(Record("x;DB;", "3;DB_SYSTEM;", "MySQL"), kCheckFailed,
              {"LOGIN     : kein Eintrag gefunden", "FEHLER: LOGIN wird von keinem Eintrag",
               "FEHLER: PASS wird von keinem Eintrag"});
  ExpectCheck(kLogin + kPass, kCheckPassed, {"WARNUNG: NET8 ist leer: das Programm verbindet"});
  const std::string long_host = Record("x;DB;", "5;NET8;", kHost + "h");
  ExpectCheck(kLogin + kPass + long_host, kCheckPassed, {"NET8 ist 42 Zeichen lang (erlaubt"});
  ExpectCheck(kGood + long_host, kCheckPassed,
              {"-WARNUNG: NET8", "HINWEIS: NET8 steht auch in Zeilen 9-10; dieser Eintrag wird"});
  std::string report;
  EXPECT_EQ(CheckSettingsFile("/nonexistent/Veltrano.ini", false, report), kCheckFileMissing);
  EXPECT_NE(report.find("kann nicht geoeffnet werden"), std::string::npos) << report;
}

// The rest of the over-long header line 9 is read as its data line, so the
// record of lines 10-11 keeps its place. The over-long data line 13 leaves
// its line feed as the next header, so line 16 ends a data line.
TEST(SettingsCheckTest, WarnsOfLongLinesAndMalformedValues) {
  ExpectCheck(kGood + "x;DB;" + std::string(200, 'a') + "\nx;DB;\n5;EXTRA;0123456789abcdef\n" +
                  "x;DB;\n6;LONG;" + std::string(392, 'A') + "\nx;DB;\nx;DB;\n7;LAST;" +
                  EncryptHexValue("v", kSettingsKey),
              kCheckPassed,
              {"Zeile 9 ist als Kopfzeile laenger als 198", "Wert in Zeile 9 ist keine Hex-Form",
               "Wert in Zeile 11 ist keine Hex-Form", "Zeile 13 ist als Datenzeile laenger als 398",
               "Zeile 16 endet ohne Zeilenvorschub", "-Zeile 16 ist keine"});
}

// LOGIN, PASS and NET8 would be deciphered into garbage from anything but
// hex in whole blocks, and an empty LOGIN is refused by the program: each
// fails the check. DB_SYSTEM is not used, so it only warns.
TEST(SettingsCheckTest, MalformedAccountValueOrEmptyLoginFails) {
  const std::string bad_pass = "x;DB;\n2;PASS;" + EncryptHexValue("tiger", kSettingsKey) + "0\n";
  ExpectCheck(kLogin + bad_pass, kCheckFailed,
              {"FEHLER: der Wert von PASS in Zeile 4 ist keine Hex-Form in ganzen Bloecken",
               "-WARNUNG: der Wert in Zeile 4", "Ergebnis: fehlerhaft\n"});
  ExpectCheck(kGood + "x;DB;\n5;NET8;0123456789abcdef\n", kCheckPassed,
              {"WARNUNG: der Wert in Zeile 10 ist keine Hex-Form"});
  ExpectCheck("x;DB;\n1;LOGIN;0123456789abcdef\n" + kPass, kCheckFailed,
              {"FEHLER: der Wert von LOGIN in Zeile 2"});
  ExpectCheck(kLogin + kPass + "x;DB;\n4;NET8;localhost\n", kCheckFailed,
              {"FEHLER: der Wert von NET8 in Zeile 6"});
  ExpectCheck(kLogin + kPass + "x;DB;\n3;DB_SYSTEM;MySQL\n", kCheckPassed,
              {"WARNUNG: der Wert in Zeile 6 ist keine Hex-Form", "-FEHLER"});
  ExpectCheck("x;DB;\n1;LOGIN;\n" + kPass, kCheckFailed,
              {"FEHLER: LOGIN ist leer", "Ergebnis: fehlerhaft\n"});
}

// Values are shown through the console's conversion; a value it cannot
// convert keeps its high bytes as \xNN.
TEST(SettingsCheckTest, ValuesAreShownThroughTheConsolesConversion) {
  // Stands in for the console: high bytes become "<U>", 0x81 cannot be shown.
  const auto mark_high_bytes = [](const std::string& value, std::string& shown) {
    if (value.find('\x81') != std::string::npos) return -1;
    shown.clear();
    for (unsigned char c : value) shown += c >= 0x80 ? std::string("<U>") : std::string(1, c);
    return 0;
  };
  for (const auto& [login, shown] :
       {std::pair<std::string, std::string>{"M\xFCller", "\"M<U>ller\""},
        {"a\x81\xFC", "\"a\\x81\\xFC\""}}) {
    ScopedTempDir dir;
    const std::string path = dir.File("Veltrano.ini");
    ASSERT_TRUE(WriteFileBytes(path, Record("x;DB;", "1;LOGIN;", login) + kPass));
    std::string report;
    EXPECT_EQ(CheckSettingsFile(path, false, report, mark_high_bytes), kCheckPassed);
    EXPECT_NE(report.find("Schluessel \"LOGIN\", Wert " + shown + "\n"), std::string::npos)
        << report;
  }
}

TEST(SettingsCheckTest, HexForm) {
  for (const char* good : {"", "0123456789ABCDEF"}) EXPECT_TRUE(IsHexValue(good)) << good;
  for (const char* bad : {"0123456789abcdef", "0123456789ABCDE", "0123456789ABCDEG", "\n"}) {
    EXPECT_FALSE(IsHexValue(bad)) << bad;
  }
}

}  // namespace
