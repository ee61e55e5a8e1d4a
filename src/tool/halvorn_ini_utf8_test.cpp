// Halvorn_Ini on a POSIX console: values typed in a UTF-8 locale are
// enciphered as Windows-1252 and shown as UTF-8 again.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/blowfish.h"
#include "test/program.h"
#include "test/temp_dir.h"
#include "tool/halvorn_ini_test_support.h"

namespace {

const std::string kMuellerUtf8 = "M\xC3\xBCller \xE2\x82\xAC";  // "Müller €"
const std::string kMuellerCp1252 = "M\xFCller \x80";

// On a UTF-8 console the value is enciphered as Windows-1252 and shown as
// UTF-8 again; in any other locale the bytes pass as they are.
TEST(SettingsToolUtf8Test, Utf8ConsoleValuesAreEncipheredAsWindows1252) {
  const std::string hex = EncryptHexValue(kMuellerCp1252, kSettingsKey);
  ProgramResult run = Tool({"verschluesseln", kMuellerUtf8}, kUtf8Locale);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, hex + "\n");
  run = Tool({"entschluesseln", hex}, kUtf8Locale);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out, kMuellerUtf8 + "\n");

  run = Tool({"verschluesseln", kMuellerCp1252}, kPlainLocale);
  EXPECT_EQ(run.out, hex + "\n");
  run = Tool({"entschluesseln", hex}, kPlainLocale);
  EXPECT_EQ(run.out, kMuellerCp1252 + "\n");

  ScopedTempDir dir;
  const std::string settings = dir.File("Veltrano.ini");
  ASSERT_TRUE(WriteFileBytes(settings, "x;DB;\n1;LOGIN;" + hex + "\nx;DB;\n2;PASS;" + hex + "\n"));
  run = Tool({"pruefen", settings, "/P"}, kUtf8Locale);
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_NE(run.out.find("Schluessel \"PASS\", Wert \"" + kMuellerUtf8 + "\"\n"), std::string::npos)
      << run.out;
}

// A character Windows-1252 lacks is refused with nothing on the console.
TEST(SettingsToolUtf8Test, CharacterWithoutAWindows1252FormFails) {
  for (const std::string& text : {std::string("\xC5\x81\xC3\xB3\x64\xC5\xBA"),  // "Łódź"
                                  std::string("Stra\xC3\x9F") + "e \xE2\x86\x92"}) {
    const ProgramResult run = Tool({"verschluesseln", text}, kUtf8Locale);
    EXPECT_EQ(run.exit_status, 1) << text;
    EXPECT_EQ(run.out, "");
  }
}

}  // namespace
