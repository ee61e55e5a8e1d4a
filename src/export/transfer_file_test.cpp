// Tests of the transfer file's run record, whole-line appends, cut-backs and
// the recovery after an interrupted run, on real files.
#include "export/transfer_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "test/temp_dir.h"

namespace {

RowKey Key(const std::string& text) { return RowKey{text, false}; }

class TransferFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_.path = dir_.File("BEWDATA.dat");
    ASSERT_TRUE(WriteFileBytes(file_.path, "earlier\n"));
    ASSERT_EQ(BeginTransferRun(file_), 0);
  }

  int Append(const std::vector<std::string>& lines) {
    std::vector<const std::string*> pointers;
    for (const std::string& line : lines) pointers.push_back(&line);
    size_t written = 0;
    return AppendTransferLines(file_, pointers, written);
  }

  // Answers the recovery's question with pending_, counting the questions.
  static int Pending(const RowKey booking[], void* context) {
    TransferFileTest* test = static_cast<TransferFileTest*>(context);
    test->asked_about_ = booking[kKeyBewIDN].text;
    return test->pending_;
  }

  Resolution Resolve() {
    RunRecord found;
    return ResolveInterruptedRun(file_.path, Pending, this, found);
  }

  ScopedTempDir dir_;
  TransferFile file_;
  int pending_ = 1;
  std::string asked_about_;
};

TEST_F(TransferFileTest, RunRecordIsWrittenWholeAndReadBack) {
  EXPECT_EQ(file_.record_path, dir_.File(kRunRecordName));
  EXPECT_EQ(RunRecordPath("BEWDATA.dat"), kRunRecordName);
  EXPECT_EQ(RunRecordPath("D:\\EXPORT/BEWDATA.dat"), std::string("D:\\EXPORT/") + kRunRecordName);

  RunRecord record;
  record.phase = kPhaseCommitting;
  record.file = {2049, 1234567890123ull};
  record.start_size = 8;
  record.end_size = 4711;
  record.has_booking = true;
  record.booking[kKeyBewIDN] = Key("M\xFCller, \"x\"\n");
  record.booking[kKeyBewSto] = Key("");
  record.booking[kKeyBewDtm] = RowKey{"", true};
  record.booking[kKeyBewUhr] = Key("20261201075813");
  record.booking[kKeyBewLfn] = Key("1 ");
  ASSERT_EQ(WriteRunRecord(file_.record_path, record), 0);
  EXPECT_FALSE(FileExists(file_.record_path + ".neu"));

  RunRecord read;
  ASSERT_EQ(ReadRunRecord(file_.record_path, read), 0);
  EXPECT_EQ(read.phase, kPhaseCommitting);
  EXPECT_EQ(read.file.volume, 2049u);
  EXPECT_EQ(read.file.index, 1234567890123ull);
  EXPECT_EQ(read.start_size, 8);
  EXPECT_EQ(read.end_size, 4711);
  ASSERT_TRUE(read.has_booking);
  for (int key = 0; key < kRowKeyCount; ++key) {
    EXPECT_EQ(read.booking[key].text, record.booking[key].text) << key;
    EXPECT_EQ(read.booking[key].is_null, record.booking[key].is_null) << key;
  }

  // A record that is cut short, or anything else, is no record.
  const std::string text = ReadFileBytes(file_.record_path);
  for (const std::string& broken : {text.substr(0, text.size() - 3), std::string("x\n"),
                                    std::string(""), text + "phase=schreiben\n"}) {
    ASSERT_TRUE(WriteFileBytes(file_.record_path, broken));
    EXPECT_EQ(ReadRunRecord(file_.record_path, read), -1) << broken;
  }
  ASSERT_EQ(RemoveRunRecord(file_.record_path), 0);
  EXPECT_EQ(ReadRunRecord(file_.record_path, read), 1);
  EXPECT_EQ(RemoveRunRecord(file_.record_path), 0);
}

// The run's lines leave the file as it was before the run, and a file taken
// away meanwhile is never touched: the run record follows the new file.
TEST_F(TransferFileTest, CutBackTouchesOnlyTheRunsOwnFile) {
  ASSERT_EQ(Append({"a\n", "b\n"}), 0);
  EXPECT_EQ(file_.size, 12);
  EXPECT_EQ(CutBackTransferFile(file_, file_.record.start_size), 0);
  EXPECT_EQ(ReadFileBytes(file_.path), "earlier\n");

  ASSERT_EQ(Append({"c\n"}), 0);
  ASSERT_EQ(std::rename(file_.path.c_str(), dir_.File("taken.dat").c_str()), 0);
  EXPECT_EQ(CutBackTransferFile(file_, file_.record.start_size), 1);
  ASSERT_EQ(Append({"d\n", "e\n"}), 0);
  RunRecord record;
  ASSERT_EQ(ReadRunRecord(file_.record_path, record), 0);
  EXPECT_EQ(record.start_size, 0);
  EXPECT_EQ(CutBackTransferFile(file_, file_.record.start_size), 0);
  EXPECT_EQ(ReadFileBytes(file_.path), "");
  EXPECT_EQ(ReadFileBytes(dir_.File("taken.dat")), "earlier\nc\n");

  // A shorter file is never lengthened.
  ASSERT_TRUE(WriteFileBytes(file_.path, ""));
  EXPECT_EQ(CutBackTransferFile(file_, 5), 1);
  EXPECT_EQ(ReadFileBytes(file_.path), "");
}

TEST_F(TransferFileTest, PrepareCommitRecordsTheEndAndABooking) {
  ASSERT_EQ(Append({"a\n"}), 0);
  const RowKey booking[kRowKeyCount] = {Key("4711"), Key("S"), Key("20261201000000"),
                                        Key("20261201075813"), Key("1")};
  ASSERT_EQ(PrepareCommit(file_, booking), 0);
  RunRecord record;
  ASSERT_EQ(ReadRunRecord(file_.record_path, record), 0);
  EXPECT_EQ(record.phase, kPhaseCommitting);
  EXPECT_EQ(record.start_size, 8);
  EXPECT_EQ(record.end_size, 10);
  EXPECT_TRUE(record.has_booking);
  EXPECT_EQ(record.booking[kKeyBewUhr].text, "20261201075813");

  // Taken away after the last line: nothing to flush, the commit may go on.
  ASSERT_EQ(std::rename(file_.path.c_str(), dir_.File("taken.dat").c_str()), 0);
  EXPECT_EQ(PrepareCommit(file_, nullptr), 0);
}

// Every way a run can have died, and what the next run makes of it.
TEST_F(TransferFileTest, ResolvesWhatAnInterruptedRunLeft) {
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
