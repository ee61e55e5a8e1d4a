// Tests of the recovery after an interrupted run, on real files: every way a
// run can have died, and what the next run makes of it.
#include "export/interrupted_run.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "export/transfer_file_test_support.h"
#include "platform/platform.h"
#include "test/temp_dir.h"

namespace {

class InterruptedRunTest : public TransferFileTest {
 protected:
  // Answers the recovery's question with pending_, noting what was asked.
  static int Pending(const RunRecord& record, void* context) {
    InterruptedRunTest* test = static_cast<InterruptedRunTest*>(context);
    test->asked_about_ = record.booking[kKeyBewIDN].text;
    return test->pending_;
  }

  Resolution Resolve() {
    RunRecord found;
    return ResolveInterruptedRun(file_.path, Pending, this, found);
  }

  int pending_ = 1;
  std::string asked_about_;
};

// Every way a run can have died, and what the next run makes of it.
TEST_F(InterruptedRunTest, ResolvesWhatAnInterruptedRunLeft) {
  const RowKey booking[kRowKeyCount] = {Key("4711"), Key("S"), Key("D"), Key("U"), Key("1")};
  struct Case {
    const char* name;
    int phase;  // the phase the run died in
    bool has_booking;
    int pending;  // the database's answer
    Resolution resolution;
    const char* file_after;
  };
  const Case cases[] = {
      {"died writing", kPhaseWriting, false, 1, kInterruptedCutBack, "earlier\n"},
      {"commit did not go through", kPhaseCommitting, true, 1, kInterruptedCutBack, "earlier\n"},
      {"commit went through", kPhaseCommitting, true, 0, kInterruptedCommitted, "earlier\na\n"},
      {"database cannot tell", kPhaseCommitting, true, -1, kInterruptedUnresolved, "earlier\na\n"},
      {"nothing was marked", kPhaseCommitting, false, 0, kInterruptedCutBack, "earlier\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_TRUE(WriteFileBytes(file_.path, "earlier\n"));
    ASSERT_EQ(BeginTransferRun(file_), 0);
    ASSERT_EQ(Append({"a\n"}), 0);
    if (c.phase == kPhaseCommitting) {
      ASSERT_EQ(PrepareCommit(file_, c.has_booking ? booking : nullptr), 0);
    }
    pending_ = c.pending;
    asked_about_.clear();
    EXPECT_EQ(Resolve(), c.resolution);
    EXPECT_EQ(ReadFileBytes(file_.path), c.file_after);
    EXPECT_EQ(asked_about_, c.has_booking ? "4711" : "");
    EXPECT_EQ(FileExists(file_.record_path), c.resolution == kInterruptedUnresolved);
  }
  ASSERT_EQ(RemoveRunRecord(file_.record_path), 0);
  EXPECT_EQ(Resolve(), kNothingInterrupted);

  // The file taken away, or replaced by another: its lines were delivered.
  ASSERT_EQ(BeginTransferRun(file_), 0);
  ASSERT_EQ(Append({"b\n"}), 0);
  ASSERT_EQ(std::remove(file_.path.c_str()), 0);
  EXPECT_EQ(Resolve(), kInterruptedTakenAway);
  EXPECT_FALSE(FileExists(file_.record_path));
  ASSERT_TRUE(WriteFileBytes(file_.path, "earlier\n"));
  ASSERT_EQ(BeginTransferRun(file_), 0);
  ASSERT_EQ(Append({"c\n"}), 0);
  ASSERT_TRUE(WriteFileBytes(dir_.File("new.dat"), "someone else's\nlines\n"));
  ASSERT_EQ(ReplaceFileAtomically(dir_.File("new.dat"), file_.path), 0);
  EXPECT_EQ(Resolve(), kInterruptedTakenAway);
  EXPECT_EQ(ReadFileBytes(file_.path), "someone else's\nlines\n");

  // A record that cannot be read is left for the operator.
  ASSERT_TRUE(WriteFileBytes(file_.record_path, "garbage"));
  EXPECT_EQ(Resolve(), kInterruptedUnresolved);
  EXPECT_EQ(ReadFileBytes(file_.record_path), "garbage");
}

}  // namespace
