// The cipher against the published test vectors and against OpenSSL's
// Blowfish, the hex form of the settings values, and the wiping of the state.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "config/blowfish.h"

#include <gtest/gtest.h>
#include <openssl/blowfish.h>

#include <cctype>
#include <cstdint>
#include <fstream>
#include <random>
#include <sstream>
#include <string>
#include <utility>

namespace {

std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

std::string ToHex(const std::string& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string hex;
  for (unsigned char b : bytes) {
    hex.push_back(kDigits[b >> 4]);
    hex.push_back(kDigits[b & 15]);
  }
  return hex;
}

// One 8-byte block through our cipher, each half most significant byte
// first as in the published convention.
std::string OurBlock(const std::string& key, const std::string& block, bool decrypt) {
  BlowfishState state;
  BlowfishInit(state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
  uint32_t half[2] = {0, 0};
  for (int i = 0; i < 8; ++i) half[i / 4] = half[i / 4] << 8 | static_cast<unsigned char>(block[i]);
  if (decrypt) {
    BlowfishDecryptBlock(state, half[0], half[1]);
  } else {
    BlowfishEncryptBlock(state, half[0], half[1]);
  }
  std::string out;
  for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(half[i / 4] >> (24 - 8 * (i % 4))));
  return out;
}

// Reverses the four bytes of each half of every 8-byte block: the published
// byte order to the one of the settings values and back.
std::string SwapHalves(std::string bytes) {
  for (size_t i = 0; i + 4 <= bytes.size(); i += 4) {
    std::swap(bytes[i], bytes[i + 3]);
    std::swap(bytes[i + 1], bytes[i + 2]);
  }
  return bytes;
}

// OpenSSL's ECB over whole blocks, in the published byte order.
std::string OpenSslEcb(const std::string& key, const std::string& bytes, int mode) {
  BF_KEY schedule;
  BF_set_key(&schedule, static_cast<int>(key.size()),
             reinterpret_cast<const unsigned char*>(key.data()));
  std::string out(bytes.size(), '\0');
  for (size_t i = 0; i + 8 <= bytes.size(); i += 8) {
    BF_ecb_encrypt(reinterpret_cast<const unsigned char*>(bytes.data() + i),
                   reinterpret_cast<unsigned char*>(&out[i]), &schedule, mode);
  }
  return out;
}

// The settings form of bytes (a whole number of blocks), made by OpenSSL.
std::string OracleHex(const std::string& bytes, const std::string& key) {
  return ToHex(SwapHalves(OpenSslEcb(key, SwapHalves(bytes), BF_ENCRYPT)));
}

std::string RandomBytes(std::mt19937& rng, size_t n, bool nonzero) {
  std::string bytes;
  std::uniform_int_distribution<int> byte(nonzero ? 1 : 0, 255);
  for (size_t i = 0; i < n; ++i) bytes.push_back(static_cast<char>(byte(rng)));
  return bytes;
}

bool StateIsZero() {
  const BlowfishState& state = ProcessBlowfishState();
  for (uint32_t word : state.p) {
    if (word != 0) return false;
  }
  for (const auto& box : state.s) {
    for (uint32_t word : box) {
      if (word != 0) return false;
    }
  }
  return true;
}

void FillProcessState() {
  BlowfishInit(ProcessBlowfishState(), reinterpret_cast<const unsigned char*>("FILL"), 4);
  ASSERT_FALSE(StateIsZero());
}

TEST(BlowfishTest, PublishedVectors) {
  std::ifstream file(std::string(HALVORN_CONFIG_TESTDATA) + "/blowfish-ecb-vectors.txt");
  ASSERT_TRUE(file.is_open());
  std::string line;
  int count = 0;
  while (std::getline(file, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    std::string key, plain, cipher;
    fields >> key >> plain >> cipher;
    EXPECT_EQ(ToHex(OurBlock(FromHex(key), FromHex(plain), false)), cipher) << line;
    EXPECT_EQ(ToHex(OurBlock(FromHex(key), FromHex(cipher), true)), plain) << line;
    ++count;
  }
  EXPECT_EQ(count, 34);
}

TEST(BlowfishTest, BlocksAgreeWithOpenSslForEveryKeyLength) {
  std::mt19937 rng(20240611);
  for (size_t key_length = 1; key_length <= 72; ++key_length) {
    for (int k = 0; k < (key_length == 7 ? 200 : 4); ++k) {
      const std::string key = RandomBytes(rng, key_length, false);
      const std::string block = RandomBytes(rng, 8, false);
      ASSERT_EQ(OurBlock(key, block, false), OpenSslEcb(key, block, BF_ENCRYPT))
          << "key length " << key_length;
      ASSERT_EQ(OurBlock(key, block, true), OpenSslEcb(key, block, BF_DECRYPT))
          << "key length " << key_length;
    }
  }
}

// The settings form is the published one with the bytes of each half reversed,
// on the way in and on the way out.
TEST(BlowfishTest, SettingsFormAgreesWithOpenSsl) {
  std::mt19937 rng(7);
  for (int i = 0; i < 300; ++i) {
    const std::string key =
        i < 100 ? std::string(kSettingsKey) : RandomBytes(rng, 1 + i % 56, false);
    const std::string plain = RandomBytes(rng, 8 * (1 + i % 4), true);
    ASSERT_EQ(EncryptHexValue(plain, key), OracleHex(plain, key));

    const std::string cipher = RandomBytes(rng, 16, false);
    std::string expected = SwapHalves(OpenSslEcb(key, SwapHalves(cipher), BF_DECRYPT));
    expected.resize(expected.find('\0') == std::string::npos ? 16 : expected.find('\0'));
    std::string plaintext;
    EXPECT_EQ(DecryptHexValue(ToHex(cipher), plaintext, key), 1);
    ASSERT_EQ(plaintext, expected);
  }
}

TEST(BlowfishTest, EncipherThenDecipherEveryLength) {
  std::mt19937 rng(96);
  for (size_t length = 0; length <= 96; ++length) {
    const std::string plain = RandomBytes(rng, length, true);
    const std::string hex = EncryptHexValue(plain, kSettingsKey);
    EXPECT_EQ(hex.size(), (length + 7) / 8 * 16);
    EXPECT_EQ(hex.find_first_not_of("0123456789ABCDEF"), std::string::npos);
    std::string back = "previous";
    DecryptHexValue(hex, back, kSettingsKey);
    EXPECT_EQ(back, plain) << "length " << length;
  }
  // A text ends at its first zero byte, as the settings value is read.
  EXPECT_EQ(EncryptHexValue(std::string("scott\0tiger", 11), kSettingsKey),
            EncryptHexValue("scott", kSettingsKey));
}

TEST(BlowfishTest, WherePlaintextEnds) {
  const std::string key = kSettingsKey;
  std::string out = "previous";
  DecryptHexValue("", out, key);
  EXPECT_EQ(out, "");

  // A last group of fewer than 16 characters yields nothing: the single line
  // feed of an empty value field deciphers to the empty text.
  DecryptHexValue("\n", out, key);
  EXPECT_EQ(out, "");
  DecryptHexValue(OracleHex("ABCDEFGH", key) + "01234", out, key);
  EXPECT_EQ(out, "ABCDEFGH");

  // A full last block ends with it; a zero byte ends the text in any block.
  DecryptHexValue(OracleHex("ABCDEFGHIJKLMNOP", key), out, key);
  EXPECT_EQ(out, "ABCDEFGHIJKLMNOP");
  DecryptHexValue(OracleHex(std::string("AB\0DEFGHIJKLMNOP", 16), key), out, key);
  EXPECT_EQ(out, "AB");
  DecryptHexValue(OracleHex(std::string("ABCDEFGHIJ\0\0\0\0\0\0", 16), key), out, key);
  EXPECT_EQ(out, "ABCDEFGHIJ");

  // Lower-case letters are not hex digits: the same text gives other bytes.
  const std::string upper = OracleHex("password", key);
  std::string lower = upper;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  ASSERT_NE(lower, upper);
  DecryptHexValue(lower, out, key);
  EXPECT_NE(out, "password");

  // Nothing carries over from one call to the next.
  std::string first, second;
  DecryptHexValue(upper, first, key);
  DecryptHexValue(upper, second, key);
  EXPECT_EQ(first, "password");
  EXPECT_EQ(second, "password");
}

TEST(BlowfishTest, HexDigitsByArithmetic) {
  unsigned char out[4] = {0xEE, 0xEE, 0xEE, 0xEE};
  HexToBytes("0AF9", 4, out);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0xF9);
  HexToBytes("0a1aa0", 6, out);
  EXPECT_EQ(out[0], 49);               // 'a' counts 49
  EXPECT_EQ(out[1], 16 + 49);          // added, not merged
  EXPECT_EQ(out[2], (49 * 16) % 256);  // wraps at 256
  HexToBytes("G0/0 /", 6, out);
  EXPECT_EQ(out[0], (23 * 16) % 256);  // 'G' - 48 = 23
  EXPECT_EQ(out[1], 240);              // '/' - 48 wraps to 255
  EXPECT_EQ(out[2], 255);              // 16 * (" " - 48 = 240) + 255, modulo 256
  out[0] = out[1] = 0xEE;
  HexToBytes("123", 3, out);  // an odd last character is ignored
  EXPECT_EQ(out[0], 0x12);
  EXPECT_EQ(out[1], 0xEE);
  HexToBytes("9", 1, out);
  EXPECT_EQ(out[0], 0x12);
}

TEST(BlowfishTest, StateIsZeroAfterEveryCall) {
  std::string out;
  for (const std::string& hex :
       {std::string(), std::string("\n"), OracleHex("12345678", "K"), std::string(40, '7')}) {
    FillProcessState();
    DecryptHexValue(hex, out, kSettingsKey);
    EXPECT_TRUE(StateIsZero()) << "after deciphering \"" << hex << "\"";
  }
  for (const std::string& plain : {std::string(), std::string("scott")}) {
    FillProcessState();
    EncryptHexValue(plain, kSettingsKey);
    EXPECT_TRUE(StateIsZero()) << "after enciphering \"" << plain << "\"";
  }
}

}  // namespace
