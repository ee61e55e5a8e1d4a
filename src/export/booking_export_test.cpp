// Tests of the code mapping, the export filter, the transfer and protocol
// lines, and ExportBooking on real files.
#include "export/booking_export.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "export/str_upper.h"
#include "test/temp_dir.h"

namespace {

TEST(StrUpperTest, ChangesOnlyAsciiLetters) {
  std::string text = "dTa/d az{`@\xE4\xFC";
  EXPECT_EQ(&StrUpper(text), &text);
  EXPECT_EQ(text, "DTA/D AZ{`@\xE4\xFC");
}

// The booking of the worked example, with the given id, source and code.
BookingRecord Booking(const std::string& id, const std::string& source, const std::string& code) {
  // clang-format off
  //       TID  LID  IDN Sto  Dtm               Uhr               Lfn  Art  Tas
  return {"T", "L", id, "S", "20240301000000", "20240301063015", "2", "A", "X",
  //      Era   Kze Ber  Erq Kst  Qua Res Src
          code, "", "1", "", "K", "", "", source, {}};
  // clang-format on
}

// BewEra after mapping a booking of the given source, code and 40P markers.
std::string Mapped(const char* source, const char* code, const char* kze = "",
                   const char* ber = "") {
  BookingRecord record = Booking("I", source, code);
  record.BewKze = kze;
  record.BewBer = ber;
  MapBookingCode(record);
  return record.BewEra;
}

TEST(MapBookingCodeTest, EverySource) {
  // DTA, in any case, rewrites its listed codes and keeps every other one.
  for (const char* source : {"DTA", "dta", "Dta", "dTA"}) {
    for (const char* code : {"200", "201", "202", "203", "206", "207", "208", "210"})
      EXPECT_EQ(Mapped(source, code), "204") << source << " " << code;
    for (const char* code : {"430", "431", "500", "501"})
      EXPECT_EQ(Mapped(source, code), "426") << source << " " << code;
    for (const char* code : {"205", "209", "204", "426", "4", "2", "3", "999", "", "20", "2010"})
      EXPECT_EQ(Mapped(source, code), code) << source << " " << code;
  }
  // 40P gives 100 for any marker (one blank counts) or authorisation "1", else 204.
  EXPECT_EQ(Mapped("40P", "201", " "), "100");
  EXPECT_EQ(Mapped("40p", "999", "K", "2"), "100");
  EXPECT_EQ(Mapped("40P", "", "", "1"), "100");
  EXPECT_EQ(Mapped("40P", "100", "", "11"), "204");
  EXPECT_EQ(Mapped("40P", "100"), "204");
  EXPECT_EQ(Mapped("50p", "999"), "100");
  EXPECT_EQ(Mapped("62p", "2"), "2");
  EXPECT_EQ(Mapped("62P", ""), "");
  for (const char* source : {"", "XYZ", "DTA1", " DTA", "60P", "\xE4"})
    EXPECT_EQ(Mapped(source, "430"), "204") << source;
}

TEST(IsAcceptedCodeTest, AcceptsTheListedCodesOnly) {
  for (const char* code : {"100", "204", "426", "4", "5", "6", "7", "8", "9", "0", "1"})
    EXPECT_TRUE(IsAcceptedCode(code)) << code;
  for (const char* code : {"2", "3", "200", "205", "999", "", "04", "10", "1000", "204 "})
    EXPECT_FALSE(IsAcceptedCode(code)) << code;
}

TEST(ExportLinesTest, FieldsStandAsTheyAre) {
  // Every field in its place, written as it stands.
  BookingRecord record = Booking("I", "62P", "7");
  record.BewQua = "Q";
  record.BewKze = "Z";
  record.BewErq = "E";
  record.BewRes = "r,\n";
  EXPECT_EQ(FormatTransferLine(record), "I,S,20240301,063015,2,T,L,A,K,Q,Z,1,7,E,X,62P,r,\n\n");

  BookingRecord empty;
  EXPECT_EQ(FormatTransferLine(empty), std::string(16, ',') + "\n");
  EXPECT_EQ(FormatProtocolLine(empty), ",,,,,, , ");
  // Short stamps give what they have; a long one gives six time characters.
  empty.BewDtm = "2024";
  empty.BewUhr = "202403010";
  EXPECT_EQ(FormatProtocolLine(empty), ",2024,0,,,, , ");
  empty.BewUhr = "2024030106301599";
  EXPECT_EQ(FormatProtocolLine(empty), ",2024,063015,,,, , ");
}

class ExportBookingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    console_ = std::fopen(dir_.File("console.txt").c_str(), "wb");
    ASSERT_NE(console_, nullptr);
    context_ = ExportContext{dir_.File("BEWDATA.dat"), &log_, console_, Mark, this, 0};
    WriteFileBytes(context_.transfer_path, "earlier run\n");
  }
  void TearDown() override {
    if (console_ != nullptr) std::fclose(console_);
  }

  // The marking: records the code of every booking handed to it.
  static int Mark(BookingRecord& record, void* context) {
    ExportBookingTest* test = static_cast<ExportBookingTest*>(context);
    test->marked_codes_.push_back(record.BewEra);
    return test->mark_status_;
  }

  std::string Console() { return ReadFileBytes(dir_.File("console.txt")); }

  ScopedTempDir dir_;
  ProtocolLog log_{dir_.File("log.txt"), dir_.File("log_bak.txt")};
  FILE* console_ = nullptr;
  int mark_status_ = 0;
  std::vector<std::string> marked_codes_;
  ExportContext context_;
};

// Accepted codes are written, logged and printed; every booking is marked,
// and a failed marking is returned and printed whether written or not.
TEST_F(ExportBookingTest, WritesAcceptedAndMarksEveryBooking) {
  BookingRecord first = Booking("I", "40P", "200");
  EXPECT_EQ(ExportBooking(context_, first), 0);
  for (const char* code : {"205", "2", "3"}) {
    BookingRecord skipped = Booking("S", "DTA", code);
    EXPECT_EQ(ExportBooking(context_, skipped), 0);
  }
  mark_status_ = 1205;
  BookingRecord unknown = Booking("S", "62P", "999");
  EXPECT_EQ(ExportBooking(context_, unknown), 1205);
  BookingRecord second = Booking("I2", "dta", "201");
  second.BewTID = std::string(255, 'T');
  EXPECT_EQ(ExportBooking(context_, second), 1205);

  EXPECT_EQ(ReadFileBytes(context_.transfer_path),
            "earlier run\nI,S,20240301,063015,2,T,L,A,K,,,1,100,,X,40P,\n"
            "I2,S,20240301,063015,2," +
                std::string(255, 'T') + ",L,A,K,,,1,204,,X,dta,\n");
  EXPECT_EQ(context_.exported_count, 2);
  EXPECT_EQ(ReadFileBytes(log_.path), "I,20240301,063015,T,L,A, 2, 40P\r\nI2,20240301,063015," +
                                          std::string(255, 'T') + ",L,A, 2, dta\r\n");
  EXPECT_EQ(Console(),
            "ID: I, Buchung vom 20240301 063015  uebergeben\n"
            "\nFehler 'SQL_MarkTranfer: 1205\n"
            "ID: I2, Buchung vom 20240301 063015  uebergeben\n"
            "\nFehler 'SQL_MarkTranfer: 1205\n");
  EXPECT_EQ(marked_codes_, (std::vector<std::string>{"100", "205", "2", "3", "999", "204"}));
}

// A line that cannot be written, by a file size limit (SIGXFSZ ignored) that
// leaves room for part of it or by a removed directory, leaves the file as it
// was and the booking neither counted, logged, printed nor marked.
TEST_F(ExportBookingTest, FailedAppendLeavesNoTraceOfTheBooking) {
  const std::string before = ReadFileBytes(context_.transfer_path);
  BookingRecord record = Booking("I", "50P", "");
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  const rlimit limited{before.size() + 5, saved.rlim_max};
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  const int status = ExportBooking(context_, record);
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, saved_handler);
  EXPECT_EQ(status, kTransferWriteFailed);
  EXPECT_EQ(ReadFileBytes(context_.transfer_path), before);

  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("gone")));
  context_.transfer_path = dir_.File("gone/BEWDATA.dat");
  ASSERT_TRUE(std::filesystem::remove(dir_.File("gone")));
  EXPECT_EQ(ExportBooking(context_, record), kTransferWriteFailed);
  EXPECT_FALSE(FileExists(context_.transfer_path));

  EXPECT_EQ(context_.exported_count, 0);
  EXPECT_FALSE(FileExists(log_.path));
  EXPECT_EQ(Console(), "");
  EXPECT_TRUE(marked_codes_.empty());
}

}  // namespace
