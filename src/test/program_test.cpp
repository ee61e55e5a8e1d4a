// Tests of the child processes that the end-to-end tests start.
#include "test/program.h"

#include <gtest/gtest.h>

#include <chrono>

#include "test/temp_dir.h"

namespace {

ProgramSpec Child(const std::vector<std::string>& args) {
  ProgramSpec spec;
  spec.path = HALVORN_TEST_CHILD;
  spec.args = args;
  return spec;
}

TEST(ProgramTest, ArgumentsEnvironmentAndWorkingDirectoryReachTheChild) {
  ScopedTempDir dir;
  ProgramSpec spec = Child({"0", "plain", "two words", "", "quote \"inside\"", "back\\slash",
                            "trailing\\", "C:\\a b\\", "\\\"x"});
  spec.cwd = dir.path();
  spec.env = {"HALVORN_CHILD_VALUE=a=b c"};
  const ProgramResult run = RunProgram(spec);
  EXPECT_EQ(run.exit_status, 0);
  EXPECT_EQ(run.out,
            "[plain]\n[two words]\n[]\n[quote \"inside\"]\n[back\\slash]\n[trailing\\]\n"
            "[C:\\a b\\]\n[\\\"x]\nenv=a=b c");
  EXPECT_TRUE(FileExists(dir.File("child.txt")));
}

TEST(ProgramTest, EnvironmentIsInheritedUnlessReplaced) {
  ProgramSpec spec = Child({"0"});
  EXPECT_EQ(RunProgram(spec).out, "env=<unset>");
  spec.env = {"HALVORN_CHILD_VALUE=first", "HALVORN_OTHER=x"};
  EXPECT_EQ(RunProgram(spec).out, "env=first");
}

TEST(ProgramTest, ExitStatusKeepsWhatThePlatformKeeps) {
  EXPECT_EQ(RunProgram(Child({"0"})).exit_status, 0);
  EXPECT_EQ(RunProgram(Child({"98"})).exit_status, 98);
#ifdef _WIN32
  EXPECT_EQ(RunProgram(Child({"2049"})).exit_status, 2049);
#else
  EXPECT_EQ(RunProgram(Child({"2049"})).exit_status, 1);
#endif
}

TEST(ProgramTest, ConsoleLinesEndAsThePlatformWritesThem) {
  const ProgramResult run = RunProgram(Child({"0", "a"}));
  EXPECT_EQ(run.out, "[a]\nenv=<unset>");
#ifdef _WIN32
  EXPECT_EQ(run.raw_out, "[a]\r\nenv=<unset>");
  EXPECT_EQ(PosixConsoleText("x\ny\r\n"), std::string("x") + kBareLineFeed + "\ny\n");
#else
  EXPECT_EQ(run.raw_out, run.out);
#endif
}

TEST(ProgramTest, KillEndsAWaitingProgram) {
  const auto start = std::chrono::steady_clock::now();
  RunningProgram program = StartProgram(Child({"wait"}));
  ASSERT_GE(program.pid, 0);
  KillProgram(program);
  const ProgramResult run = FinishProgram(program);
  EXPECT_EQ(run.exit_status, -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
}

}  // namespace
