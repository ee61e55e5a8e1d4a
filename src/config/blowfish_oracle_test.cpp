// The cipher against OpenSSL's Blowfish as a second implementation: blocks
// under keys of every length, the settings form of texts of every length, and
// where a deciphered text ends. Built where OpenSSL is at hand (not for Windows).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include <random>
#include <string>

#include "config/blowfish.h"
#include "config/blowfish_test_support.h"

namespace {

std::string OpenSsl(const std::string& key, const std::string& bytes, bool decrypt,
                    bool settings_order = false) {
  BF_KEY schedule;
  BF_set_key(&schedule, static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(key.data()));
  return EachBlock(bytes, settings_order,
                   [&](BF_LONG* half) { (decrypt ? BF_decrypt : BF_encrypt)(half, &schedule); });
}

// The settings form of bytes (a whole number of blocks), made by OpenSSL.
std::string OracleHex(const std::string& bytes, const std::string& key = kSettingsKey) {
  return ToHex(OpenSsl(key, bytes, false, true));
}

// Seven-byte keys (the settings key's length) are tried most.
TEST(BlowfishTest, BlocksAgreeWithOpenSslForEveryKeyLength) {
  std::mt19937 rng(20240611);
  for (size_t key_length = 1; key_length <= 72; ++key_length) {
    for (int k = 0; k < (key_length == 7 ? 200 : 4); ++k) {
      const std::string key = RandomBytes(rng, key_length, 0);
      const std::string block = RandomBytes(rng, 8, 0);
      ASSERT_EQ(Ours(key, block, false), OpenSsl(key, block, false)) << key_length;
      ASSERT_EQ(Ours(key, block, true), OpenSsl(key, block, true)) << key_length;
    }
  }
}

// Every plaintext length from 0 to 96, zero-padded to whole blocks, under the
// settings key and under keys of other lengths; the state is wiped each time.
TEST(BlowfishTest, SettingsFormRoundTripAgreesWithOpenSsl) {
  std::mt19937 rng(96);
  for (int i = 0; i < 291; ++i) {
    const size_t length = i % 97;
    const std::string key = i < 97 ? kSettingsKey : RandomBytes(rng, 1 + i % 56, 0);
    const std::string plain = RandomBytes(rng, length, 1);
    SCOPED_TRACE("length " + std::to_string(length) + ", key length " + std::to_string(key.size()));
    std::string hex, back = "previous";
    EXPECT_TRUE(WipedAfter([&] { hex = EncryptHexValue(plain, key); }));
    ASSERT_EQ(hex, OracleHex(plain + std::string((8 - length % 8) % 8, '\0'), key));
    EXPECT_TRUE(WipedAfter([&] { DecryptHexValue(hex, back, key); }));
    ASSERT_EQ(back, plain);
  }
  // A text ends at its first zero byte, as the settings value is read.
  EXPECT_EQ(EncryptHexValue(std::string("scott\0tiger", 11), kSettingsKey),
            EncryptHexValue("scott", kSettingsKey));
}

TEST(BlowfishTest, WherePlaintextEnds) {
  const std::string kCases[][2] = {
      // A last group of fewer than 16 characters yields nothing: the single
      // line feed of an empty value field deciphers to the empty text.
      {"\n", ""},
      {OracleHex("ABCDEFGH") + "01234", "ABCDEFGH"},
      {OracleHex(std::string("AB\0DEFGHIJKLMNOP", 16)), "AB"},  // a zero byte ends it
      // Hex digits by arithmetic: "0a" is 16 * 0 + 49, the byte '1'.
      {"0a0a0a0a0a0a0a0a", OpenSsl(kSettingsKey, "11111111", true, true)},
  };
  for (const auto& c : kCases) {
    std::string out = "previous";
    EXPECT_TRUE(WipedAfter([&] { DecryptHexValue(c[0], out, kSettingsKey); })) << c[0];
    EXPECT_EQ(out, c[1].substr(0, c[1].find('\0'))) << c[0];
  }
}

}  // namespace
