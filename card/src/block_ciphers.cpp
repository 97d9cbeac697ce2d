#include "block_ciphers.h"

#include <algorithm>

#include "ciphon.h"
#include "orvel.h"
#include "secure_wipe.h"
#include "tarvex.h"

namespace orvel {

namespace {

constexpr int kBlockBytes = 8;
constexpr int kBlockHexChars = 2 * kBlockBytes;

// 16 hex characters and a NUL: the form the ciphers take and give.
using BlockHex = std::array<char, kBlockHexChars + 1>;

void to_hex(BlockIn bytes, BlockHex& text) {
    Ascii_To_HexStr(text.data(), bytes.data(), kBlockBytes);
}

void from_hex(const BlockHex& text, BlockOut out) {
    // HexStr_To_Ascii writes a zero byte after the eight it decodes.
    Wiped<std::array<std::uint8_t, kBlockBytes + 1>> decoded;
    HexStr_To_Ascii(decoded.value.data(), text.data(), kBlockHexChars);
    std::copy_n(decoded.value.begin(), kBlockBytes, out.begin());
}

// Runs one of the exported triple-DES functions on a block and keys given as
// bytes, through the hex text they take.
using TripleDesOnHex = void (*)(const char*, char*, const char*, const char*);

void triple_des_on_hex(TripleDesOnHex cipher, BlockIn block, BlockIn key1, BlockIn key2, BlockOut out) {
    Wiped<BlockHex> in_hex, key1_hex, key2_hex, out_hex;
    to_hex(block, in_hex.value);
    to_hex(key1, key1_hex.value);
    to_hex(key2, key2_hex.value);
    cipher(in_hex.value.data(), out_hex.value.data(), key1_hex.value.data(), key2_hex.value.data());
    from_hex(out_hex.value, out);
}

}  // namespace

void des_encrypt_block(BlockIn block, BlockIn key, BlockOut out) {
    Wiped<BlockHex> in_hex, key_hex, out_hex;
    to_hex(block, in_hex.value);
    to_hex(key, key_hex.value);
    DESencrypt(in_hex.value.data(), out_hex.value.data(), key_hex.value.data());
    from_hex(out_hex.value, out);
}

void triple_des_encrypt_block(BlockIn block, BlockIn key1, BlockIn key2, BlockOut out) {
    triple_des_on_hex(Triple_DES_Encryption, block, key1, key2, out);
}

void triple_des_decrypt_block(BlockIn block, BlockIn key1, BlockIn key2, BlockOut out) {
    triple_des_on_hex(Triple_DES_Decryption, block, key1, key2, out);
}

std::uint8_t key_check_byte(BlockIn key) {
    // GetSum reads exactly 11 bytes as 22 hex characters; the three leading
    // zero bytes leave the XOR of the key unchanged.
    constexpr int kSumBytes = 11;
    constexpr int kLeadingZeros = kSumBytes - kBlockBytes;
    Wiped<std::array<std::uint8_t, kSumBytes>> padded;
    std::copy(key.begin(), key.end(), padded.value.begin() + kLeadingZeros);
    Wiped<std::array<char, 2 * kSumBytes + 1>> padded_hex;
    Ascii_To_HexStr(padded_hex.value.data(), padded.value.data(), kSumBytes);
    Wiped<std::array<char, 4>> sum_hex;  // two characters and two NULs
    GetSum(padded_hex.value.data(), sum_hex.value.data());
    Wiped<std::array<std::uint8_t, 2>> check;  // the byte and a NUL
    HexStr_To_Ascii(check.value.data(), sum_hex.value.data(), 2);
    return check.value[0];
}

}  // namespace orvel
