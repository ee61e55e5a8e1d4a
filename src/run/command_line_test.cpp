// The command line: settings path, transfer path and the "/D" switch.
#include "run/command_line.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

CommandLine Parse(const std::vector<std::string>& args) {
  CommandLine line;
  EXPECT_TRUE(ParseCommandLine(args, line));
  return line;
}

TEST(CommandLineTest, NoArgumentAsksForTheUsageText) {
  CommandLine line;
  EXPECT_FALSE(ParseCommandLine({}, line));
}

TEST(CommandLineTest, TransferPathAndConsoleSwitch) {
  CommandLine one = Parse({"C:\\Veltrano\\Veltrano.ini"});
  EXPECT_EQ(one.settings_path, "C:\\Veltrano\\Veltrano.ini");
  EXPECT_EQ(one.transfer_path, "BEWDATA");
  EXPECT_EQ(one.console, 0);

  CommandLine lower_switch = Parse({"v.ini", "/d"});
  EXPECT_EQ(lower_switch.transfer_path, "BEWDATA");
  EXPECT_EQ(lower_switch.console, 1);

  // The directory is used as typed: on a case-sensitive file system an
  // upper-cased name would be another directory.
  CommandLine directory = Parse({"v.ini", "c:\\export"});
  EXPECT_EQ(directory.transfer_path, "c:\\export/BEWDATA");
  EXPECT_EQ(directory.console, 0);

  CommandLine third = Parse({"v.ini", "/srv/Export", "/D"});
  EXPECT_EQ(third.transfer_path, "/srv/Export/BEWDATA");
  EXPECT_EQ(third.console, 1);

  // "/D" counts in any position, also as the first argument.
  CommandLine first = Parse({"/d"});
  EXPECT_EQ(first.settings_path, "/d");
  EXPECT_EQ(first.transfer_path, "BEWDATA");
  EXPECT_EQ(first.console, 1);

  EXPECT_EQ(Parse({"v.ini", "/DD"}).transfer_path, "/DD/BEWDATA");
  EXPECT_EQ(Parse({"v.ini", "x"}).console, 0);

  // After the directory only the switch may follow, as often as it likes.
  CommandLine repeated = Parse({"v.ini", "/d", "/D", "/d"});
  EXPECT_EQ(repeated.transfer_path, "BEWDATA");
  EXPECT_EQ(repeated.console, 1);
}

// An empty directory would mean the root directory, and a directory after
// "/D" would be ignored: both ask for the usage text instead.
TEST(CommandLineTest, EmptyDirectoryOrExtraArgumentAsksForTheUsageText) {
  const std::vector<std::vector<std::string>> refused = {
      {"v.ini", ""},           {"v.ini", "", "/D"},       {"v.ini", "/D", "D:\\EXPORT"},
      {"v.ini", "/d", ""},     {"v.ini", "x", "D", "-d"}, {"v.ini", "dir", "/D", "dir2"},
      {"v.ini", "dir", "/DD"}, {"/D", "v.ini", "dir"}};
  for (const auto& args : refused) {
    CommandLine line;
    std::string joined;
    for (const std::string& arg : args) joined += "[" + arg + "]";
    EXPECT_FALSE(ParseCommandLine(args, line)) << joined;
  }
  // The empty settings path is the operator's own; it fails as a missing file.
  EXPECT_EQ(Parse({"", "dir"}).transfer_path, "dir/BEWDATA");
}

TEST(CommandLineTest, UsageTextByteForByte) {
  FILE* out = std::tmpfile();
  ASSERT_NE(out, nullptr);
  PrintUsage(out);
  std::rewind(out);
  std::string text;
  for (int c = std::fgetc(out); c != EOF; c = std::fgetc(out)) text += static_cast<char>(c);
  std::fclose(out);
  EXPECT_EQ(text,
            "Befehlsformat: \n"
            "Halvorn_<DB>.EXE <Veltrano.ini> <ZielPfad>\n"
            "\n"
            "DB           : Datenbanksystem, zB. Oracle\n"
            "Veltrano.ini: Name und Pfad der Veltrano.ini-Datei\n"
            "Zielpfad     : Pfad der Uebergabedatei\n"
            "\n");
}

}  // namespace
