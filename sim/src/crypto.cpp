// Single DES through OpenSSL's DES_* block functions (kept for exactly this
// kind of use; EVP's single DES needs the legacy provider), triple DES and
// the MAC composed from them.
#define OPENSSL_SUPPRESS_DEPRECATED
#include "sim/crypto.h"

#include <openssl/des.h>

namespace sim::crypto {

namespace {

Block8 des_block(const Block8& block, const Key8& key, int direction) {
    DES_cblock key_block;
    std::copy(key.begin(), key.end(), key_block);
    DES_key_schedule schedule;
    // Any 8-byte value is a key here, parity and weak keys included: the
    // card uses derived keys as they come.
    DES_set_key_unchecked(&key_block, &schedule);
    DES_cblock in;
    DES_cblock out;
    std::copy(block.begin(), block.end(), in);
    DES_ecb_encrypt(&in, &out, &schedule, direction);
    Block8 result;
    std::copy(out, out + 8, result.begin());
    return result;
}

}  // namespace

Block8 des_encrypt(const Block8& block, const Key8& key) { return des_block(block, key, DES_ENCRYPT); }
Block8 des_decrypt(const Block8& block, const Key8& key) { return des_block(block, key, DES_DECRYPT); }

Block8 tdes_ede_encrypt(const Block8& block, const Key8& k1, const Key8& k2) {
    return des_encrypt(des_decrypt(des_encrypt(block, k1), k2), k1);
}

Block8 tdes_ede_decrypt(const Block8& block, const Key8& k1, const Key8& k2) {
    return des_decrypt(des_encrypt(des_decrypt(block, k1), k2), k1);
}

Block8 cbc_mac(std::span<const std::uint8_t> message, const Key8& k1, const Key8& k2) {
    Block8 chain{};
    for (std::size_t at = 0; at < message.size(); at += 8) {
        for (std::size_t i = 0; i < 8; ++i) {
            // zero padding of the final block
            std::uint8_t byte = at + i < message.size() ? message[at + i] : 0;
            chain[i] ^= byte;
        }
        chain = tdes_ede_encrypt(chain, k1, k2);
    }
    return chain;
}

}  // namespace sim::crypto
