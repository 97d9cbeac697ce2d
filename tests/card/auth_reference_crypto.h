// Independent DES arithmetic for the authentication and key-change tests,
// computed with OpenSSL so that no value is checked against the library's
// own ciphers.
#pragma once

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

namespace auth_reference {

using Block = std::array<std::uint8_t, 8>;

// A key output as the library hands it back: 8 bytes and a 0x00.
using Buffer9 = std::array<unsigned char, 9>;
inline constexpr unsigned char kSentinel = 0xEE;

// Filled with kSentinel, so a test sees what a failing call left untouched.
inline Buffer9 sentinel_buffer() {
    Buffer9 b;
    b.fill(kSentinel);
    return b;
}

// bytes followed by the 0x00 the library writes after a key.
inline Buffer9 terminated(const Block& bytes) {
    Buffer9 b{};
    std::copy(bytes.begin(), bytes.end(), b.begin());
    return b;
}

inline Block des(std::span<const std::uint8_t> key, std::span<const std::uint8_t> in, bool encrypt) {
    DES_cblock key_block;
    std::copy_n(key.begin(), 8, key_block);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&key_block, &schedule);  // derived keys need not have odd parity
    DES_cblock input, output;
    std::copy_n(in.begin(), 8, input);
    DES_ecb_encrypt(&input, &output, &schedule, encrypt ? DES_ENCRYPT : DES_DECRYPT);
    Block out;
    std::copy_n(output, 8, out.begin());
    return out;
}

inline Block des_encrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> in) {
    return des(key, in, true);
}
inline Block des_decrypt(std::span<const std::uint8_t> key, std::span<const std::uint8_t> in) {
    return des(key, in, false);
}

// E(k1, D(k2, E(k1, x)))
inline Block ede(std::span<const std::uint8_t> k1, std::span<const std::uint8_t> k2,
                 std::span<const std::uint8_t> x) {
    return des_encrypt(k1, des_decrypt(k2, des_encrypt(k1, x)));
}

// D(k2, E(k1, D(k2, x)))
inline Block ded(std::span<const std::uint8_t> k1, std::span<const std::uint8_t> k2,
                 std::span<const std::uint8_t> x) {
    return des_decrypt(k2, des_encrypt(k1, des_decrypt(k2, x)));
}

struct SessionKeys {
    Block derived1;
    Block derived2;
};

inline SessionKeys derive_session_keys(const Block& key_a, const Block& key_b, const Block& card_random) {
    return {ede(key_a, key_b, card_random), ede(key_b, key_a, card_random)};
}

// The four bytes a genuine card answers to challenge: bytes 4..7 of the
// challenge enciphered under the two session keys.
inline std::array<std::uint8_t, 4> card_cryptogram(const SessionKeys& keys, const Block& challenge) {
    Block check = ede(keys.derived1, keys.derived2, challenge);
    std::array<std::uint8_t, 4> out;
    std::copy(check.begin() + 4, check.end(), out.begin());
    return out;
}

}  // namespace auth_reference
