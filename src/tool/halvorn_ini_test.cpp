// Halvorn_Ini as the operator starts it: the exit statuses for malformed
// values, and "verbinden".
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "test/program.h"
#include "test/settings_writer.h"
#include "test/temp_dir.h"
#include "test/test_database.h"
#include "tool/halvorn_ini_test_support.h"

namespace {

// A value a run would decipher into garbage is an error with a non-zero exit
// status and nothing on the console.
TEST(SettingsToolTest, MalformedHexFails) {
  for (const std::string& hex : {std::string("8684ACE5E9595F8"), std::string("8684ace5e9595f87"),
                                 std::string("8684ACE5E9595F87X")}) {
    const ProgramResult run = Tool({"entschluesseln", hex}, kPlainLocale);
    EXPECT_EQ(run.exit_status, 1) << hex;
    EXPECT_EQ(run.out, "");
  }
  const ProgramResult good = Tool({"entschluesseln", "8684ACE5E9595F87"}, kPlainLocale);
  EXPECT_EQ(good.exit_status, 0);
  EXPECT_EQ(good.out, "scott\n");
}

class SettingsToolDatabaseTest : public DatabaseTest {};

// "verbinden" reaches the server the way a run does, through the client
// library's environment, and says by its exit status whether a run would work.
TEST_F(SettingsToolDatabaseTest, ConnectReportsByExitStatus) {
  ScopedTempDir dir;
  const std::string settings = dir.File("Veltrano.ini");
  ASSERT_TRUE(
      WriteFileBytes(settings, AccountSettings(TestDbUser(), TestDbPassword(), "localhost")));
  ProgramResult run = Tool({"verbinden", settings}, kUtf8Locale);
  EXPECT_EQ(run.exit_status, 0) << run.out;
  EXPECT_NE(run.out.find("Ergebnis: in Ordnung\n"), std::string::npos) << run.out;

  ASSERT_TRUE(WriteFileBytes(settings, AccountSettings(TestDbUser(), "falsch", "localhost")));
  run = Tool({"VERBINDEN", settings}, kUtf8Locale);
  EXPECT_EQ(run.exit_status, 1);
  EXPECT_NE(run.out.find("Fehler: 1045, Access denied"), std::string::npos) << run.out;

  run = Tool({"verbinden"}, kUtf8Locale);
  EXPECT_EQ(run.exit_status, 2);
  EXPECT_NE(run.out.find("Halvorn_Ini verbinden <Veltrano.ini>"), std::string::npos) << run.out;
}

}  // namespace
