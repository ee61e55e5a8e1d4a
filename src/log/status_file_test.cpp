// Tests of the status file: its lines, the carried-over last commit, and a
// replacement that leaves the old file when the new one cannot be written.
#include "log/status_file.h"

#include <gtest/gtest.h>

#include <string>

#include "test/temp_dir.h"

namespace {

RunReport Report(const char* outcome, std::time_t ended) {
  RunReport report;
  report.started = ended - 2;
  report.ended = ended;
  report.committed = std::string(outcome) == "committed";
  report.exit_status = report.committed ? 1 : 0;
  report.outcome = outcome;
  report.selected = 14;
  report.exported = 10;
  report.marked = 13;
  report.refused = 1;
  return report;
}

TEST(StatusFileTest, OneAsciiKeyValueLinePerField) {
  RunReport report = Report("not_committed", 1796790368);  // 2026-12-09T04:26:08Z
  report.error = 1213;
  report.error_text = "Deadlock found\r\nwhen trying \xFC";
  report.last_committed = "2026-12-09T04:11:08Z";
  EXPECT_EQ(FormatStatusFile(report),
            "started=2026-12-09T04:26:06Z\nended=2026-12-09T04:26:08Z\nexit_status=0\n"
            "outcome=not_committed\nselected=14\nexported=10\nmarked=13\nrefused=1\n"
            "error=1213\nerror_text=Deadlock found  when trying ?\n"
            "last_committed=2026-12-09T04:11:08Z\n");
}

TEST(StatusFileTest, LastCommittedIsThisRunsEndOrCarriedOver) {
  ScopedTempDir dir;
  const std::string path = dir.File(kStatusFileName);
  struct Case {
    const char* outcome;
    std::time_t ended;
    const char* last_committed;
  };
  const Case cases[] = {
      {"connection_refused", 1796790000, ""},  // no earlier file: none known
      {"committed", 1796790368, "2026-12-09T04:26:08Z"},
      {"not_committed", 1796790968, "2026-12-09T04:26:08Z"},
      {"running_elsewhere", 1796791000, "2026-12-09T04:26:08Z"},
      {"committed", 1796791268, "2026-12-09T04:41:08Z"},
  };
  for (const Case& c : cases) {
    RunReport report = Report(c.outcome, c.ended);
    ASSERT_EQ(WriteStatusFile(path, report), 0) << c.outcome;
    EXPECT_EQ(ReadStatusValue(path, "last_committed"), c.last_committed) << c.outcome;
    EXPECT_EQ(ReadStatusValue(path, "outcome"), c.outcome);
    EXPECT_EQ(ReadFileBytes(path), FormatStatusFile(report));
    EXPECT_FALSE(FileExists(path + ".neu"));
  }
  EXPECT_EQ(ReadStatusValue(path, "no_such_key"), "");
}

TEST(StatusFileTest, UnwritableReplacementKeepsThePreviousFile) {
  ScopedTempDir dir;
  const std::string path = dir.File(kStatusFileName);
  RunReport first = Report("committed", 1796790368);
  ASSERT_EQ(WriteStatusFile(path, first), 0);
  // The temporary file's name taken by a directory: the new file cannot be written.
  ASSERT_EQ(mkdir((path + ".neu").c_str(), 0755), 0);
  RunReport second = Report("not_committed", 1796790968);
  EXPECT_EQ(WriteStatusFile(path, second), -1);
  EXPECT_EQ(ReadFileBytes(path), FormatStatusFile(first));
  EXPECT_EQ(WriteStatusFile(dir.File("missing/") + kStatusFileName, second), -1);
}

}  // namespace
