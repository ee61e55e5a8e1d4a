// The Blowfish block cipher and the hex form in which the settings file
// stores its values: blocks of 16 upper-case hex digits under a fixed key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// The key every settings value is enciphered under: the seven bytes of the
// text, without its terminator.
extern const char kSettingsKey[];  // "QUAVERN"

// Number of 32-bit words in the cipher state: the P-array and four S-boxes.
constexpr int kBlowfishStateWords = 1042;

// The cipher state: P[0] to P[17], then S1 to S4.
struct BlowfishState {
  uint32_t p[18];
  uint32_t s[4][256];
};

// The one cipher state of the process, used by DecryptHexValue and
// EncryptHexValue: rebuilt at the start of each call and all zero after it.
BlowfishState& ProcessBlowfishState();

// The published key schedule: the state from the initial table of pi digits,
// the P-array mixed with the key bytes (repeated as needed; an empty key
// leaves it unmixed), then refilled by 521 block encryptions.
void BlowfishInit(BlowfishState& state, const unsigned char* key, size_t key_length);

// Enciphers / deciphers one block in place, halves in the published sense.
void BlowfishEncryptBlock(const BlowfishState& state, uint32_t& left, uint32_t& right);
void BlowfishDecryptBlock(const BlowfishState& state, uint32_t& left, uint32_t& right);

// Decodes count/2 bytes from pairs of characters. Each character counts as
// ch - 55 for 'A' to 'F' and ch - 48 otherwise (so 'a' is 49, not 10); a pair
// gives (16 * high + low) modulo 256.
void HexToBytes(const char* text, int count, unsigned char* out);

// Deciphers a settings value: each whole group of 16 characters is one block
// whose halves are read least significant byte first; a last group of fewer
// than 16 characters yields nothing. plaintext receives the deciphered bytes
// up to the first zero byte. Uses and afterwards zeroes the process state.
void DecryptHexValue(const std::string& hex, std::string& plaintext, const std::string& key);

// The inverse of DecryptHexValue: plaintext, zero-padded to whole 8-byte
// blocks, enciphered and written as upper-case hex in the same byte order.
// A plaintext ends at its first zero byte, as DecryptHexValue reads it.
// Uses and afterwards zeroes the process state.
std::string EncryptHexValue(const std::string& plaintext, const std::string& key);
