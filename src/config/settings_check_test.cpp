// The operator's check of a settings file: the answering records, the masking
// of the password, and the warnings and failures it reports.
#include "config/settings_check.h"

#include <gtest/gtest.h>

#include <string>

#include "config/blowfish.h"
#include "test/temp_dir.h"

namespace {

std::string Record(const std::string& header, const std::string& number_and_key,
                   const std::string& plain) {
  return header + "\n" + number_and_key + EncryptHexValue(plain, kSettingsKey) + "\n";
}

std::string GoodFile() {
  return Record("x;DB;", "1;LOGIN;", "scott") + Record("x;DB;", "2;PASS;", "tiger") +
         Record("x;DB;", "3;DB_SYSTEM;", "MySQL") + Record("x;DB;", "4;NET8;", "dbhost");
}

bool Contains(const std::string& report, const std::string& text) {
  return report.find(text) != std::string::npos;
}

TEST(SettingsCheckTest, GoodFileShowsEachAnswerAndMasksThePassword) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(path, GoodFile()));
  std::string report;
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckPassed);
  EXPECT_TRUE(Contains(report, "LOGIN     : Zeilen 1-2, Schluessel \"LOGIN\", Wert \"scott\"\n"))
      << report;
  EXPECT_TRUE(Contains(report, "PASS      : Zeilen 3-4, Schluessel \"PASS\", Wert verdeckt"));
  EXPECT_FALSE(Contains(report, "tiger"));
  EXPECT_TRUE(Contains(report, "NET8      : Zeilen 7-8, Schluessel \"NET8\", Wert \"dbhost\"\n"));
  EXPECT_FALSE(Contains(report, "WARNUNG"));
  EXPECT_FALSE(Contains(report, "FEHLER"));
  EXPECT_TRUE(Contains(report, "Ergebnis: in Ordnung\n"));

  EXPECT_EQ(CheckSettingsFile(path, true, report), kCheckPassed);
  EXPECT_TRUE(Contains(report, "Wert \"tiger\""));
}

TEST(SettingsCheckTest, ShadowingRecordFailsTheCheck) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(
      path, Record("x;DB;", "1;LOGIN;", "scott") + Record("Kopfzeile", "3;DB_SYSTEM;", "MySQL") +
                Record("x;DB;", "2;PASS;", "tiger") + Record("x;DB;", "4;NET8;", "dbhost")));
  std::string report;
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckFailed);
  EXPECT_TRUE(Contains(report, "LOGIN     : Zeilen 1-2, Schluessel \"LOGIN\"")) << report;
  EXPECT_TRUE(Contains(report,
                       "FEHLER: PASS wird vom Eintrag in Zeilen 3-4 mit dem Schluessel "
                       "\"DB_SYSTEM\" beantwortet: seine Kopfzeile hat weniger als zwei \";\""));
  EXPECT_TRUE(Contains(report, "FEHLER: NET8 wird vom Eintrag in Zeilen 3-4"));
  EXPECT_FALSE(Contains(report, "FEHLER: DB_SYSTEM"));
  EXPECT_TRUE(Contains(report, "Ergebnis: fehlerhaft\n"));

  // A record with number 0 shadows as well.
  ASSERT_TRUE(WriteFileBytes(path, Record("x;DB;", "1;LOGIN;", "scott") +
                                       Record("x;DB;", "0;DB_SYSTEM;", "MySQL") +
                                       Record("x;DB;", "2;PASS;", "tiger")));
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckFailed);
  EXPECT_TRUE(Contains(report,
                       "FEHLER: PASS wird vom Eintrag in Zeilen 3-4 mit dem Schluessel "
                       "\"DB_SYSTEM\" beantwortet: seine Nummer ist 0"))
      << report;
}

TEST(SettingsCheckTest, MissingAccountFailsOtherGapsWarn) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(path, Record("x;DB;", "2;PASS;", "tiger")));
  std::string report;
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckFailed);
  EXPECT_TRUE(Contains(report, "LOGIN     : kein Eintrag gefunden")) << report;
  EXPECT_TRUE(Contains(report, "FEHLER: LOGIN wird von keinem Eintrag beantwortet"));
  EXPECT_FALSE(Contains(report, "FEHLER: PASS"));

  // DB_SYSTEM and NET8 may be missing; an empty or over-long NET8 is a warning.
  ASSERT_TRUE(WriteFileBytes(
      path, Record("x;DB;", "1;LOGIN;", "scott") + Record("x;DB;", "2;PASS;", "tiger")));
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckPassed);
  EXPECT_TRUE(Contains(report,
                       "WARNUNG: NET8 ist leer: das Programm verbindet mit dem "
                       "Standard-Host der Client-Bibliothek"))
      << report;
  ASSERT_TRUE(WriteFileBytes(path, GoodFile() + Record("x;DB;", "5;NET8;", std::string(42, 'h'))));
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckPassed);
  EXPECT_FALSE(Contains(report, "WARNUNG: NET8"));
  EXPECT_TRUE(Contains(report, "HINWEIS: NET8 steht auch in Zeilen 9-10")) << report;
  ASSERT_TRUE(WriteFileBytes(path, Record("x;DB;", "1;LOGIN;", "scott") +
                                       Record("x;DB;", "2;PASS;", "tiger") +
                                       Record("x;DB;", "5;NET8;", std::string(42, 'h'))));
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckPassed);
  EXPECT_TRUE(Contains(report, "WARNUNG: NET8 ist 42 Zeichen lang (erlaubt sind 1 bis 41)"));

  EXPECT_EQ(CheckSettingsFile(dir.File("missing.ini"), false, report), kCheckFileMissing);
  EXPECT_TRUE(Contains(report, "kann nicht geoeffnet werden"));
}

TEST(SettingsCheckTest, WarnsOfLongLinesAndMalformedValues) {
  ScopedTempDir dir;
  const std::string path = dir.File("Veltrano.ini");
  // The rest of the over-long header line 9 is read as its data line, so the
  // record of lines 10-11 keeps its place.
  ASSERT_TRUE(WriteFileBytes(path, GoodFile() + "x;DB;" + std::string(200, 'a') + "\n" +
                                       "x;DB;\n5;EXTRA;0123456789abcdef\n" + "x;DB;\n7;LAST;" +
                                       EncryptHexValue("v", kSettingsKey)));
  std::string report;
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckPassed);
  EXPECT_TRUE(Contains(report, "WARNUNG: Zeile 9 ist als Kopfzeile laenger als 198 Zeichen"))
      << report;
  EXPECT_TRUE(Contains(report, "WARNUNG: der Wert in Zeile 9 ist keine Hex-Form"));
  EXPECT_TRUE(Contains(report, "WARNUNG: der Wert in Zeile 11 ist keine Hex-Form"));
  EXPECT_TRUE(Contains(report, "WARNUNG: Zeile 13 endet ohne Zeilenvorschub"));
  EXPECT_FALSE(Contains(report, "Zeile 13 ist keine Hex-Form"));

  ASSERT_TRUE(WriteFileBytes(path, GoodFile() + "x;DB;\n5;EXTRA;0123456789abcdef\n"));
  EXPECT_EQ(CheckSettingsFile(path, false, report), kCheckPassed);
  EXPECT_TRUE(Contains(report, "WARNUNG: der Wert in Zeile 10 ist keine Hex-Form")) << report;
  EXPECT_FALSE(Contains(report, "Kopfzeile laenger"));
}

TEST(SettingsCheckTest, HexForm) {
  EXPECT_TRUE(IsHexValue(""));
  EXPECT_TRUE(IsHexValue("0123456789ABCDEF"));
  EXPECT_FALSE(IsHexValue("0123456789abcdef"));
  EXPECT_FALSE(IsHexValue("0123456789ABCDE"));
  EXPECT_FALSE(IsHexValue("0123456789ABCDEG"));
  EXPECT_FALSE(IsHexValue("\n"));
}

}  // namespace
