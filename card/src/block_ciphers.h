// One 8-byte block through the library's hex-text ciphers, for the commands
// that hold keys and blocks as raw bytes. Each value is turned into 16 hex
// characters before it goes in and the result is decoded back; the hex-text
// copies of keys and blocks are wiped before these return.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace orvel {

using Block8 = std::array<std::uint8_t, 8>;
using BlockIn = std::span<const std::uint8_t, 8>;
using BlockOut = std::span<std::uint8_t, 8>;

// Single DES encryption (Ciphon's DESencrypt) of block under key.
void des_encrypt_block(BlockIn block, BlockIn key, BlockOut out);

// Two-key triple DES through the exported helpers, keys in their order:
// E(key1, D(key2, E(key1, x))) and D(key2, E(key1, D(key2, x))).
void triple_des_encrypt_block(BlockIn block, BlockIn key1, BlockIn key2, BlockOut out);
void triple_des_decrypt_block(BlockIn block, BlockIn key1, BlockIn key2, BlockOut out);

// The complemented XOR of the eight key bytes, computed by GetSum over three
// zero bytes followed by the key.
std::uint8_t key_check_byte(BlockIn key);

}  // namespace orvel
