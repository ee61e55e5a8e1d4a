// Tests of the run record on real files: written whole, read back, and
// anything else refused.
#include "export/run_record.h"

#include <gtest/gtest.h>

#include <string>

#include "export/transfer_file_test_support.h"
#include "platform/platform.h"
#include "test/temp_dir.h"

namespace {

using RunRecordTest = TransferFileTest;

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

TEST_F(RunRecordTest, RunRecordIsWrittenWholeAndReadBack) {
  EXPECT_EQ(file_.record_path, dir_.File(kRunRecordName));

  RunRecord record;
  record.phase = kPhaseCommitting;
  record.file = {2049, 1234567890123ull};
  record.start_size = 8;
  record.has_booking = true;
  record.booking[kKeyBewIDN] = Key("M\xFCller, \"x\"\n");
  record.booking[kKeyBewSto] = Key("");
  record.booking[kKeyBewDtm] = RowKey{"", true};
  record.booking[kKeyBewUhr] = Key("20261201075813");
  record.booking[kKeyBewLfn] = Key("1 ");
  record.token = "0123456789ABCDEF0123456789ABCDEF";
  ASSERT_EQ(WriteRunRecord(file_.record_path, record), 0);
  EXPECT_FALSE(FileExists(file_.record_path + ".neu"));

  RunRecord read;
  ASSERT_EQ(ReadRunRecord(file_.record_path, read), 0);
  EXPECT_EQ(read.phase, kPhaseCommitting);
  EXPECT_EQ(read.file.volume, 2049u);
  EXPECT_EQ(read.file.index, 1234567890123ull);
  EXPECT_EQ(read.start_size, 8);
  ASSERT_TRUE(read.has_booking);
  for (int key = 0; key < kRowKeyCount; ++key) {
    EXPECT_EQ(read.booking[key].text, record.booking[key].text) << key;
    EXPECT_EQ(read.booking[key].is_null, record.booking[key].is_null) << key;
  }
  EXPECT_EQ(read.token, record.token);
  const std::string text = ReadFileBytes(file_.record_path);
  EXPECT_EQ(text,
            "Halvorn_MySQL Uebergabelauf\nphase=festschreiben\ndatei=2049:1234567890123\nstart=8\n"
            "buchung=x4DFC6C6C65722C202278220A,x,-,x3230323631323031303735383133,x3120\n"
            "marke=0123456789ABCDEF0123456789ABCDEF\nende des laufs\n");

  // A record of an earlier version also carries the file's size at the commit.
  const std::string earlier = "start=8\nende=4711\n";
  ASSERT_TRUE(WriteFileBytes(file_.record_path, text.substr(0, text.find("start=8\n")) + earlier +
                                                    text.substr(text.find("start=8\n") + 8)));
  ASSERT_EQ(ReadRunRecord(file_.record_path, read), 0);
  EXPECT_EQ(read.start_size, 8);
  EXPECT_EQ(read.booking[kKeyBewLfn].text, "1 ");

  // A record that is cut short, or anything else, is no record.
  for (const std::string& broken :
       {text.substr(0, text.size() - 3), std::string("x\n"), std::string(""),
        text + "phase=schreiben\n", Replaced(text, "marke=0", "marke=x")}) {
    ASSERT_TRUE(WriteFileBytes(file_.record_path, broken));
    EXPECT_EQ(ReadRunRecord(file_.record_path, read), -1) << broken;
  }
  ASSERT_EQ(RemoveRunRecord(file_.record_path), 0);
  EXPECT_EQ(ReadRunRecord(file_.record_path, read), 1);
  EXPECT_EQ(RemoveRunRecord(file_.record_path), 0);
}

}  // namespace
