// Tests of the code mapping, the export filter and the transfer, protocol and
// console lines.
#include "export/booking_lines.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "export/booking_test_support.h"
#include "export/str_upper.h"

namespace {

TEST(StrUpperTest, ChangesOnlyAsciiLetters) {
  std::string text = "dTa/d az{`@\xE4\xFC";
  EXPECT_EQ(&StrUpper(text), &text);
  EXPECT_EQ(text, "DTA/D AZ{`@\xE4\xFC");
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
  record.BewRes = "r";
  EXPECT_EQ(FormatTransferLine(record), "I,S,20240301,063015,2,T,L,A,K,Q,Z,1,7,E,X,62P,r\n");

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

// The receiving system reads seventeen fields per line: a CR, LF or comma
// inside any value is one blank there; the protocol and console lines keep
// commas but no line breaks.
TEST(ExportLinesTest, LineBreaksAndCommasInValuesBecomeBlanks) {
  BookingRecord record = Booking("I\r\n7", "DTA", "204");
  record.BewKst = "KST\n4100";
  record.BewRes = "M\xFCller, Hans";
  record.BewTID = "T,1\r";
  record.BewArt = "\n";
  record.BewSrc = "DTA\r\n";
  const std::string line = FormatTransferLine(record);
  EXPECT_EQ(line, "I  7,S,20240301,063015,2,T 1 ,L, ,KST 4100,,,1,204,,X,DTA  ,M\xFCller  Hans\n");
  EXPECT_EQ(std::count(line.begin(), line.end(), ','), 16);

  EXPECT_EQ(FormatProtocolLine(record), "I  7,20240301,063015,T,1 ,L, , 2, DTA  ");
  EXPECT_EQ(FormatConsoleLine(record), "ID: I  7, Buchung vom 20240301 063015  uebergeben\n");
  record.BewDtm = "2024\n301";
  record.BewUhr = "20240301\r63015";
  EXPECT_EQ(FormatConsoleLine(record), "ID: I  7, Buchung vom 2024 301  63015  uebergeben\n");
}

}  // namespace
