// Tests of the transfer file's whole-line appends, cut-backs and the flush
// before the commit, on real files.
#include "export/transfer_file.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "export/transfer_file_test_support.h"
#include "test/temp_dir.h"

namespace {

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

TEST_F(TransferFileTest, PrepareCommitRecordsThePhaseAndABooking) {
  ASSERT_EQ(Append({"a\n"}), 0);
  const RowKey booking[kRowKeyCount] = {Key("4711"), Key("S"), Key("20261201000000"),
                                        Key("20261201075813"), Key("1")};
  ASSERT_EQ(PrepareCommit(file_, booking), 0);
  RunRecord record;
  ASSERT_EQ(ReadRunRecord(file_.record_path, record), 0);
  EXPECT_EQ(record.phase, kPhaseCommitting);
  EXPECT_EQ(record.start_size, 8);
  EXPECT_TRUE(record.has_booking);
  EXPECT_EQ(record.booking[kKeyBewUhr].text, "20261201075813");

  // Taken away after the last line: nothing to flush, the commit may go on.
  ASSERT_EQ(std::rename(file_.path.c_str(), dir_.File("taken.dat").c_str()), 0);
  EXPECT_EQ(PrepareCommit(file_, nullptr), 0);
}

}  // namespace
