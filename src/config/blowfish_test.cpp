// The cipher against the published test vectors and against OpenSSL's
// Blowfish, the hex form of the settings values, and the wiping of the state.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "config/blowfish.h"

#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include <cstring>
#include <fstream>
#include <random>
#include <sstream>
#include <string>

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  std::string hex;
  for (unsigned char b : bytes) hex += {"0123456789ABCDEF"[b >> 4], "0123456789ABCDEF"[b & 15]};
  return hex;
}

// Runs each whole 8-byte block through cipher(half), the two halves read and
// written most significant byte first as published, or least significant
// byte first as the settings values hold them.
template <class Cipher>
std::string EachBlock(std::string bytes, bool settings_order, Cipher cipher) {
  auto shift = [&](size_t i) { return 8 * (settings_order ? i % 4 : 3 - i % 4); };
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    uint32_t half[2] = {0, 0};
    for (size_t j = 0; j < 8; ++j)
      half[j / 4] |= uint32_t{static_cast<uint8_t>(bytes[i + j])} << shift(j);
    cipher(half);
    for (size_t j = 0; j < 8; ++j) bytes[i + j] = static_cast<char>(half[j / 4] >> shift(j));
  }
  return bytes;
}

std::string Ours(const std::string& key, const std::string& bytes, bool decrypt) {
  BlowfishState state;
  BlowfishInit(state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
  return EachBlock(bytes, false, [&](uint32_t* half) {
    (decrypt ? BlowfishDecryptBlock : BlowfishEncryptBlock)(state, half[0], half[1]);
  });
}

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

std::string RandomBytes(std::mt19937& rng, size_t n, int lowest) {
  std::string bytes;
  std::uniform_int_distribution<int> byte(lowest, 255);
  for (size_t i = 0; i < n; ++i) bytes += static_cast<char>(byte(rng));
  return bytes;
}

// Makes call on a filled process state; true when the state is all zero after it.
template <class Call>
bool WipedAfter(Call call) {
  BlowfishInit(ProcessBlowfishState(), reinterpret_cast<const unsigned char*>("F"), 1);
  call();
  static const BlowfishState kZero{};
  return std::memcmp(&ProcessBlowfishState(), &kZero, sizeof(kZero)) == 0;
}

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
    EXPECT_TRUE(WipedAfter([&] { EXPECT_EQ(DecryptHexValue(hex, back, key), 1); }));
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
