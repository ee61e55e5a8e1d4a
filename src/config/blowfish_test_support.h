// Helpers shared by the cipher's tests: hex texts, whole blocks through a
// cipher in either byte order, our cipher over a byte string, and the check
// that the process state is wiped after a call.
#pragma once

#include <cstdint>
#include <cstring>
#include <random>
#include <string>

#include "config/blowfish.h"

inline std::string FromHex(const std::string& hex) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2)
    bytes += static_cast<char>(std::stoul(hex.substr(i, 2), nullptr, 16));
  return bytes;
}

inline std::string ToHex(const std::string& bytes) {
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

inline std::string Ours(const std::string& key, const std::string& bytes, bool decrypt) {
  BlowfishState state;
  BlowfishInit(state, reinterpret_cast<const unsigned char*>(key.data()), key.size());
  return EachBlock(bytes, false, [&](uint32_t* half) {
    (decrypt ? BlowfishDecryptBlock : BlowfishEncryptBlock)(state, half[0], half[1]);
  });
}

inline std::string RandomBytes(std::mt19937& rng, size_t n, int lowest) {
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
