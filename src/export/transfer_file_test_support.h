// A transfer file in a temporary directory with one earlier line and a run
// begun on it, for the tests of the transfer file and of the recovery.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "export/transfer_file.h"
#include "test/temp_dir.h"

class TransferFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    file_.path = dir_.File("BEWDATA.dat");
    ASSERT_TRUE(WriteFileBytes(file_.path, "earlier\n"));
    ASSERT_EQ(BeginTransferRun(file_), 0);
  }

  // AppendTransferLines of the lines; returns its status.
  int Append(const std::vector<std::string>& lines) {
    std::vector<const std::string*> pointers;
    for (const std::string& line : lines) pointers.push_back(&line);
    size_t written = 0;
    return AppendTransferLines(file_, pointers, written);
  }

  static RowKey Key(const std::string& text) { return RowKey{text, false}; }

  ScopedTempDir dir_;
  TransferFile file_;
};
