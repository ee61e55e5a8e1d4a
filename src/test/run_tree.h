// The tree a run of Halvorn_MySQL (HALVORN_PROGRAM) expects, for the
// end-to-end tests, against the test server: in a temporary directory,
// app/bin is the working directory, app/Veltrano.ini the settings file with
// the test account, and Veltrano_php/log holds the protocol log.
#pragma once

#include <sys/stat.h>

#include <string>
#include <utility>
#include <vector>

#include "test/program.h"
#include "test/run_texts.h"
#include "test/settings_writer.h"
#include "test/temp_dir.h"
#include "test/test_database.h"

class RunTreeTest : public DatabaseTest {
 protected:
  void SetUp() override {
    DatabaseTest::SetUp();
    if (HasFatalFailure()) return;
    for (const char* dir : {"Veltrano_php", "Veltrano_php/log", "app", "app/bin"}) {
      ASSERT_EQ(mkdir(dir_.File(dir).c_str(), 0755), 0) << dir;
    }
    WriteSettings(TestDbPassword(), "localhost");
  }

  // The settings file of the test account with this password and NET8 host.
  void WriteSettings(const std::string& password, const std::string& host) {
    ASSERT_TRUE(WriteFileBytes(settings_, AccountSettings(TestDbUser(), password, host)));
  }

  // The program started in the working directory with args.
  ProgramSpec Spec(std::vector<std::string> args) const {
    ProgramSpec spec;
    spec.path = HALVORN_PROGRAM;
    spec.args = std::move(args);
    spec.cwd = cwd_;
    return spec;
  }
  ProgramResult Run(std::vector<std::string> args) { return RunProgram(Spec(std::move(args))); }

  std::string Log() const { return MaskServerTime(ReadFileBytes(log_)); }
  void ExpectLogEndsWith(const std::string& tail) const {
    const std::string log = Log();
    ASSERT_GE(log.size(), tail.size()) << log;
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
  }
  std::string Transfer() const { return ReadFileBytes(transfer_); }

  ScopedTempDir dir_;
  const std::string cwd_ = dir_.File("app/bin");
  const std::string settings_ = dir_.File("app/Veltrano.ini");
  const std::string log_ = dir_.File("Veltrano_php/log/Durnwell#Log.txt");
  const std::string transfer_ = dir_.File("app/bin/BEWDATA.dat");
  const std::string record_ = dir_.File("app/bin/Halvorn_MySQL.lauf");
};
