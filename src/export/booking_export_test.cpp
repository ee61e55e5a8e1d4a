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

// BewEra after mapping a booking of the given source, code and 40P markers.
std::string Mapped(const std::string& source, const std::string& code, const std::string& kze = "",
                   const std::string& ber = "") {
  BookingRecord record;
  record.BewSrc = source;
  record.BewEra = code;
  record.BewKze = kze;
  record.BewBer = ber;
  MapBookingCode(record);
  EXPECT_EQ(record.BewSrc, source);  // written as fetched, not upper-cased
  return record.BewEra;
}

TEST(MapBookingCodeTest, DtaRewritesItsListedCodesOnly) {
  for (const char* source : {"DTA", "dta", "Dta", "dTA"}) {
    for (const char* code : {"200", "201", "202", "203", "206", "207", "208", "210"}) {
      EXPECT_EQ(Mapped(source, code), "204") << source << " " << code;
    }
    for (const char* code : {"430", "431", "500", "501"}) {
      EXPECT_EQ(Mapped(source, code), "426") << source << " " << code;
    }
    for (const char* code : {"205", "209", "204", "426", "4", "2", "3", "999", "", "20", "2010"}) {
      EXPECT_EQ(Mapped(source, code), code) << source << " " << code;
    }
  }
}

TEST(MapBookingCodeTest, OtherSources) {
  EXPECT_EQ(Mapped("40P", "201", " "), "100");  // one blank counts as a marker
  EXPECT_EQ(Mapped("40p", "999", "K", "2"), "100");
  EXPECT_EQ(Mapped("40P", "", "", "1"), "100");
  EXPECT_EQ(Mapped("40P", "100", "", "2"), "204");
  EXPECT_EQ(Mapped("40P", "100", "", "11"), "204");
  EXPECT_EQ(Mapped("40P", "100"), "204");
  EXPECT_EQ(Mapped("50p", "999"), "100");
  EXPECT_EQ(Mapped("62P", "999"), "999");
  EXPECT_EQ(Mapped("62p", "2"), "2");
  EXPECT_EQ(Mapped("62P", ""), "");
  for (const char* source : {"", "XYZ", "DTA1", " DTA", "60P", "\xE4"}) {
    EXPECT_EQ(Mapped(source, "430"), "204") << source;
  }
}

TEST(IsAcceptedCodeTest, AcceptsTheListedCodesOnly) {
  for (const char* code : {"100", "204", "426", "4", "5", "6", "7", "8", "9", "0", "1"}) {
    EXPECT_TRUE(IsAcceptedCode(code)) << code;
  }
  for (const char* code : {"2", "3", "200", "205", "999", "", "04", "10", "1000", "204 "}) {
    EXPECT_FALSE(IsAcceptedCode(code)) << code;
  }
}

BookingRecord Booking(const std::string& id, const std::string& source, const std::string& code) {
  BookingRecord record;
  record.BewIDN = id;
  record.BewSto = "S";
  record.BewDtm = "20240301000000";
  record.BewUhr = "20240301063015";
  record.BewLfn = "2";
  record.BewTID = "T";
  record.BewLID = "L";
  record.BewArt = "A";
  record.BewKst = "K";
  record.BewBer = "1";
  record.BewEra = code;
  record.BewTas = "X";
  record.BewSrc = source;
  return record;
}

TEST(ExportLinesTest, FieldsStandAsTheyAre) {
  BookingRecord record = Booking("I", "40P", "200");
  MapBookingCode(record);
  EXPECT_EQ(FormatTransferLine(record), "I,S,20240301,063015,2,T,L,A,K,,,1,100,,X,40P,\n");
  EXPECT_EQ(FormatProtocolLine(record), "I,20240301,063015,T,L,A, 2, 40P");

  BookingRecord empty;
  EXPECT_EQ(FormatTransferLine(empty), std::string(16, ',') + "\n");
  EXPECT_EQ(FormatProtocolLine(empty), ",,,,,, , ");

  // Short stamps give what they have; a long one gives six time characters.
  empty.BewDtm = "2024";
  empty.BewUhr = "20240301";
  EXPECT_EQ(FormatProtocolLine(empty), ",2024,,,,, , ");
  empty.BewUhr = "202403010";
  EXPECT_EQ(FormatProtocolLine(empty), ",2024,0,,,, , ");
  empty.BewUhr = "2024030106301599";
  EXPECT_EQ(FormatProtocolLine(empty), ",2024,063015,,,, , ");

  record.BewRes = "r,\n";  // written as it stands
  EXPECT_EQ(FormatTransferLine(record), "I,S,20240301,063015,2,T,L,A,K,,,1,100,,X,40P,r,\n\n");
}

// Records the code of every booking handed to the marking.
struct Marks {
  int status = 0;
  std::vector<std::string> codes;
};

int Mark(BookingRecord& record, void* context) {
  Marks* marks = static_cast<Marks*>(context);
  marks->codes.push_back(record.BewEra);
  return marks->status;
}

class ExportBookingTest : public ::testing::Test {
 protected:
  void SetUp() override {
    log_ = ProtocolLog{dir_.File("log.txt"), dir_.File("log_bak.txt")};
    console_ = std::tmpfile();
    ASSERT_NE(console_, nullptr);
    context_.transfer_path = dir_.File("BEWDATA.dat");
    context_.protocol = &log_;
    context_.console = console_;
    context_.mark = Mark;
    context_.mark_context = &marks_;
    WriteFileBytes(context_.transfer_path, "earlier run\n");
  }
  void TearDown() override {
    if (console_ != nullptr) std::fclose(console_);
  }

  std::string Console() {
    std::string text;
    std::rewind(console_);
    for (int c; (c = std::fgetc(console_)) != EOF;) text += static_cast<char>(c);
    return text;
  }

  // Expects that the last booking changed nothing: no line, count, log, marking or output.
  void ExpectNothingDone(const std::string& transfer_before) {
    EXPECT_EQ(ReadFileBytes(context_.transfer_path), transfer_before);
    EXPECT_EQ(context_.exported_count, 0);
    EXPECT_FALSE(FileExists(log_.path));
    EXPECT_EQ(Console(), "");
    EXPECT_TRUE(marks_.codes.empty());
  }

  ScopedTempDir dir_;
  ProtocolLog log_;
  FILE* console_ = nullptr;
  Marks marks_;
  ExportContext context_;
};

TEST_F(ExportBookingTest, WritesAcceptedAndMarksEveryBooking) {
  BookingRecord first = Booking("I1", "dta", "201");
  BookingRecord second = Booking("I2", "40P", "200");
  second.BewTID = std::string(255, 'T');
  EXPECT_EQ(ExportBooking(context_, first), 0);
  for (const char* code : {"205", "2", "3"}) {
    BookingRecord skipped = Booking("S", "DTA", code);
    EXPECT_EQ(ExportBooking(context_, skipped), 0);
  }
  BookingRecord unknown = Booking("S", "62P", "999");
  EXPECT_EQ(ExportBooking(context_, unknown), 0);
  EXPECT_EQ(ExportBooking(context_, second), 0);

  EXPECT_EQ(ReadFileBytes(context_.transfer_path),
            "earlier run\nI1,S,20240301,063015,2,T,L,A,K,,,1,204,,X,dta,\n"
            "I2,S,20240301,063015,2," +
                std::string(255, 'T') + ",L,A,K,,,1,100,,X,40P,\n");
  EXPECT_EQ(context_.exported_count, 2);
  EXPECT_EQ(ReadFileBytes(log_.path), "I1,20240301,063015,T,L,A, 2, dta\r\nI2,20240301,063015," +
                                          std::string(255, 'T') + ",L,A, 2, 40P\r\n");
  EXPECT_EQ(Console(),
            "ID: I1, Buchung vom 20240301 063015  uebergeben\n"
            "ID: I2, Buchung vom 20240301 063015  uebergeben\n");
  EXPECT_EQ(marks_.codes, (std::vector<std::string>{"204", "205", "2", "3", "999", "100"}));
}

TEST_F(ExportBookingTest, FailedMarkingIsReportedAndPrinted) {
  marks_.status = 1205;
  BookingRecord written = Booking("I1", "50P", "");
  BookingRecord skipped = Booking("I2", "62P", "2");
  EXPECT_EQ(ExportBooking(context_, written), 1205);
  EXPECT_EQ(ExportBooking(context_, skipped), 1205);
  EXPECT_EQ(context_.exported_count, 1);
  EXPECT_EQ(Console(),
            "ID: I1, Buchung vom 20240301 063015  uebergeben\n"
            "\nFehler 'SQL_MarkTranfer: 1205\n"
            "\nFehler 'SQL_MarkTranfer: 1205\n");
}

TEST_F(ExportBookingTest, RemovedDirectoryStopsTheBooking) {
  ASSERT_TRUE(std::filesystem::create_directory(dir_.File("gone")));
  context_.transfer_path = dir_.File("gone/BEWDATA.dat");
  ASSERT_TRUE(std::filesystem::remove(dir_.File("gone")));
  BookingRecord record = Booking("I", "50P", "");
  EXPECT_EQ(ExportBooking(context_, record), kTransferWriteFailed);
  EXPECT_FALSE(FileExists(context_.transfer_path));
  ExpectNothingDone("");
}

// Runs body with writes past limit bytes failing (EFBIG, SIGXFSZ ignored)
// and restores the process's limit and signal handling afterwards.
template <typename Body>
void WithFileSizeLimit(rlim_t limit, Body body) {
  rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  void (*saved_handler)(int) = signal(SIGXFSZ, SIG_IGN);
  rlimit limited = saved;
  limited.rlim_cur = limit;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limited), 0);
  body();
  EXPECT_EQ(setrlimit(RLIMIT_FSIZE, &saved), 0);
  signal(SIGXFSZ, saved_handler);
}

TEST_F(ExportBookingTest, FileSizeLimitLeavesNoTornLine) {
  const std::string before = ReadFileBytes(context_.transfer_path);
  BookingRecord record = Booking("I", "50P", "");
  // Room for five more bytes: part of the line gets written and must be cut away.
  WithFileSizeLimit(before.size() + 5,
                    [&] { EXPECT_EQ(ExportBooking(context_, record), kTransferWriteFailed); });
  WithFileSizeLimit(before.size(), [&] {
    EXPECT_EQ(AppendTransferLine(context_.transfer_path, "0123456789\n"), -1);
  });
  ExpectNothingDone(before);

  // With room again, the same booking goes through whole.
  EXPECT_EQ(ExportBooking(context_, record), 0);
  EXPECT_EQ(ReadFileBytes(context_.transfer_path),
            before + "I,S,20240301,063015,2,T,L,A,K,,,1,100,,X,50P,\n");
}

}  // namespace
