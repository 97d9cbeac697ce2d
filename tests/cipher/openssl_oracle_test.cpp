// OpenSSL's libcrypto as an independent oracle: single DES, two-key triple
// DES and the CBC-MAC on random keys, blocks and texts.
#include <gtest/gtest.h>
#include <openssl/des.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

#include "ciphon.h"
#include "orvel.h"

namespace {

using Bytes8 = std::array<unsigned char, 8>;

std::string hex(const unsigned char* bytes, std::size_t n) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", bytes[i]);
        text += pair;
    }
    return text;
}

std::string hex(const Bytes8& b) { return hex(b.data(), b.size()); }

Bytes8 random_block(std::mt19937_64& rng) {
    Bytes8 b;
    auto v = rng();
    for (int i = 0; i < 8; ++i) b[i] = static_cast<unsigned char>(v >> (8 * i));
    return b;
}

DES_key_schedule openssl_schedule(const Bytes8& key) {
    DES_cblock k;
    std::copy(key.begin(), key.end(), k);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&k, &schedule);
    return schedule;
}

Bytes8 openssl_ecb(const Bytes8& in, DES_key_schedule& schedule, int direction) {
    DES_cblock block, out;
    std::copy(in.begin(), in.end(), block);
    DES_ecb_encrypt(&block, &out, &schedule, direction);
    Bytes8 result;
    std::copy(out, out + 8, result.begin());
    return result;
}

std::string service(int (*fn)(const char*, char*, const char*), const Bytes8& in,
                    const Bytes8& key) {
    char out[17];
    fn(hex(in).c_str(), out, hex(key).c_str());
    return std::string(out, 16);
}

TEST(OpenSslOracle, SingleDesAgreesOnRandomBlocksAndKeys) {
    std::mt19937_64 rng(0x5EED0001);
    for (int i = 0; i < 4000; ++i) {
        const auto key = random_block(rng);
        const auto block = random_block(rng);
        auto schedule = openssl_schedule(key);
        ASSERT_EQ(service(&DESencrypt, block, key), hex(openssl_ecb(block, schedule, DES_ENCRYPT)))
            << "key " << hex(key) << " block " << hex(block);
        ASSERT_EQ(service(&DESdecrypt, block, key), hex(openssl_ecb(block, schedule, DES_DECRYPT)))
            << "key " << hex(key) << " block " << hex(block);
    }
}

TEST(OpenSslOracle, TwoKeyTripleDesAgreesOnRandomBlocksAndKeys) {
    std::mt19937_64 rng(0x5EED0002);
    for (int i = 0; i < 1000; ++i) {
        const auto key1 = random_block(rng);
        const auto key2 = random_block(rng);
        const auto block = random_block(rng);
        auto s1 = openssl_schedule(key1);
        auto s2 = openssl_schedule(key2);
        DES_cblock in, expected;
        std::copy(block.begin(), block.end(), in);
        DES_ecb3_encrypt(&in, &expected, &s1, &s2, &s1, DES_ENCRYPT);

        char out[17];
        Triple_DES_Encryption(hex(block).c_str(), out, hex(key1).c_str(), hex(key2).c_str());
        ASSERT_EQ(std::string(out, 16), hex(expected, 8)) << "block " << hex(block);
        // The inverse takes the keys in exchanged order.
        char back[17];
        Triple_DES_Decryption(out, back, hex(key2).c_str(), hex(key1).c_str());
        ASSERT_EQ(std::string(back, 16), hex(block));
    }
}

TEST(OpenSslOracle, MacAgreesOnRandomTextsOfAnyLength) {
    std::mt19937_64 rng(0x5EED0003);
    static constexpr char digits[] = "0123456789ABCDEF";
    for (std::size_t length = 0; length <= 600; length += 1 + rng() % 13) {
        std::string text;
        for (std::size_t i = 0; i < length; ++i) text += digits[rng() % 16];
        const auto key1 = random_block(rng);
        const auto key2 = random_block(rng);

        // Oracle: '0'-pad to whole blocks, CBC with EDE under key1, key2,
        // key1 and a zero IV; the MAC is the last cipher block.
        std::string padded = text + std::string((16 - length % 16) % 16, '0');
        std::string bytes;
        for (std::size_t i = 0; i < padded.size(); i += 2) {
            bytes += static_cast<char>(std::stoi(padded.substr(i, 2), nullptr, 16));
        }
        std::string cipher(bytes.size(), '\0');
        auto s1 = openssl_schedule(key1);
        auto s2 = openssl_schedule(key2);
        DES_cblock iv = {0};
        DES_ede3_cbc_encrypt(reinterpret_cast<const unsigned char*>(bytes.data()),
                             reinterpret_cast<unsigned char*>(cipher.data()),
                             static_cast<long>(bytes.size()), &s1, &s2, &s1, &iv,
                             DES_ENCRYPT);
        const std::string expected =
            length == 0 ? std::string(16, '0')
                        : hex(reinterpret_cast<const unsigned char*>(cipher.data()) +
                                  cipher.size() - 8,
                              8);

        char mac[16];
        MakeMac(text.c_str(), mac, key1.data(), key2.data());
        ASSERT_EQ(std::string(mac, 16), expected) << "length " << length;
    }
}

}  // namespace
