// The cipher against the published test vectors, and the hex digits of the
// settings values. The comparison with OpenSSL is in blowfish_oracle_test.cpp.
#include "config/blowfish.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>

#include "config/blowfish_test_support.h"

namespace {

TEST(BlowfishTest, PublishedVectors) {
  std::ifstream file(std::string(HALVORN_CONFIG_TESTDATA) + "/blowfish-ecb-vectors.txt");
  ASSERT_TRUE(file.is_open());
  std::string line, key, plain, cipher;
  int count = 0;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream(line) >> key >> plain >> cipher;
    EXPECT_EQ(ToHex(Ours(FromHex(key), FromHex(plain), false)), cipher) << line;
    EXPECT_EQ(ToHex(Ours(FromHex(key), FromHex(cipher), true)), plain) << line;
    ++count;
  }
  EXPECT_EQ(count, 34);
}

// Each character counts ch - 55 for 'A' to 'F', ch - 48 otherwise, modulo 256.
TEST(BlowfishTest, HexDigitsByArithmetic) {
  auto decode = [](const char* text, int count) {
    unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};  // 0xEE: not written
    HexToBytes(text, count, out);
    return ToHex(std::string(out, out + 4));
  };
  EXPECT_EQ(decode("0AF9", 4), "0AF9EEEE");
  EXPECT_EQ(decode("0a1aa0", 6), "314110EE");  // 'a' counts 49, added, 49 * 16 wraps
  EXPECT_EQ(decode("G0/0 /", 6), "70F0FFEE");  // 'G' 23; '/' and ' ' wrap to 255 and 240
  EXPECT_EQ(decode("123", 3), "12EEEEEE");     // an odd last character is ignored
  EXPECT_EQ(decode("9", 1), "EEEEEEEE");
}

}  // namespace
