// Cipher helpers on hex text: the work behind the exported
// Triple_DES_Encryption, Triple_DES_Decryption, MakeTemSysKey, MakeMac, ExOr,
// MakeLrc and GetSum. Every buffer of the library's own that holds key
// material or an intermediate cipher value is wiped before these return.
#pragma once

#include <cstddef>

namespace orvel {

// An 8-byte block or key as hex text, and the room the DES service's output
// needs (the 16 characters and its NUL).
inline constexpr std::size_t kBlockTextLength = 16;
inline constexpr std::size_t kBlockTextRoom = kBlockTextLength + 1;

// E(key1, D(key2, E(key1, input))) into output (17 bytes: 16 characters and
// a NUL). Keys are 16 hex characters; only the first 16 of input are read.
void triple_des_encrypt(const char* input, char* output, const char* key1,
                        const char* key2);

// D(key2, E(key1, D(key2, input))) into output (17 bytes).
void triple_des_decrypt(const char* input, char* output, const char* key1,
                        const char* key2);

// CBC-MAC of the NUL-terminated text, any length: zero initial value, the
// last block padded with '0' characters, two-key triple DES per block.
// Writes exactly 16 characters to mac, no terminator.
void make_mac(const char* text, char* mac, const unsigned char* key1,
              const unsigned char* key2);

// output[i] = digit of (value of first[i]) XOR (value of second[i]), for 16
// characters, no terminator. Uses the check-digit rule (uppercase only).
void exor_digits(const char* first, char* output, const char* second);

// Writes the XOR of the character pairs of text[0..count-1] as two digits and
// a NUL at text[count]: text needs count + 3 characters. A negative count
// counts as 0.
void append_lrc(char* text, int count);

// The complemented XOR of the 11 character pairs of input[0..21] as two
// digits at output[0..1], then two NULs: output needs 4 bytes.
void complemented_check(const char* input, char* output);

}  // namespace orvel
