// Conversion between a UTF-8 console and Windows-1252, and the byte-for-byte
// pass of any other locale.
#include "platform/console_text.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

#ifdef _WIN32
#include <windows.h>
#endif

namespace {

#ifndef _WIN32

// POSIX: the locale's encoding, set here as the console's would be.

class ConsoleTextTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_NE(std::setlocale(LC_CTYPE, "C.UTF-8"), nullptr); }
  void TearDown() override { std::setlocale(LC_CTYPE, "C"); }
};

TEST_F(ConsoleTextTest, Utf8AndWindows1252BothWays) {
  // Umlauts, sharp s, the euro sign and the typographic quotes of 0x80-0x9F.
  const std::string utf8 = "M\xC3\xBCller \xC3\x84\xC3\x9F \xE2\x82\xAC \xE2\x80\x9Ex\xE2\x80\x9C";
  const std::string cp1252 = "M\xFCller \xC4\xDF \x80 \x84x\x93";
  std::string out;
  EXPECT_EQ(ConsoleToWindows1252(utf8, out), 0);
  EXPECT_EQ(out, cp1252);
  EXPECT_EQ(Windows1252ToConsole(cp1252, out), 0);
  EXPECT_EQ(out, utf8);
  EXPECT_EQ(ConsoleToWindows1252("", out), 0);
  EXPECT_EQ(out, "");
}

TEST_F(ConsoleTextTest, CharacterWithoutAWindows1252FormFails) {
  std::string out = "x";
  // L with stroke, a CJK character, and a broken UTF-8 sequence.
  for (const char* text : {"\xC5\x81odz", "a\xE6\x97\xA5", "\xC3"}) {
    EXPECT_EQ(ConsoleToWindows1252(text, out), -1) << text;
    EXPECT_EQ(out, "");
  }
  // The five bytes Windows-1252 leaves undefined cannot be shown.
  EXPECT_EQ(Windows1252ToConsole("ab\x81", out), -1);
}

TEST_F(ConsoleTextTest, OtherLocaleTakesTheBytesAsTheyAre) {
  std::setlocale(LC_CTYPE, "C");
  std::string out;
  EXPECT_EQ(ConsoleToWindows1252("M\xC3\xBC\xFC", out), 0);
  EXPECT_EQ(out, "M\xC3\xBC\xFC");
  EXPECT_EQ(Windows1252ToConsole("\x81\xFC", out), 0);
  EXPECT_EQ(out, "\x81\xFC");
}

#else

// Windows: without a console (the tests' output is a pipe) both directions
// take the ANSI code page, which is Windows-1252 on English and German
// Windows and under wine: bytes pass as they are, also the undefined ones.
TEST(ConsoleTextTest, AnsiCodePage1252TakesTheBytesAsTheyAre) {
  ASSERT_EQ(GetACP(), 1252u);
  ASSERT_EQ(GetConsoleOutputCP(), 0u);
  std::string out;
  EXPECT_EQ(ConsoleToWindows1252("M\xFCller \x80", out), 0);
  EXPECT_EQ(out, "M\xFCller \x80");
  EXPECT_EQ(Windows1252ToConsole("\x81\xFC", out), 0);
  EXPECT_EQ(out, "\x81\xFC");
}

#endif

}  // namespace
