// The simulated card's own cryptography, on OpenSSL's libcrypto: single DES,
// two-key triple DES (encrypt-decrypt-encrypt) and the triple-DES CBC MAC.
// Independent of the card library's cipher code on purpose, so that a fault
// shared by both cannot hide.
#pragma once

#include <span>

#include "sim/bytes.h"

namespace sim::crypto {

Block8 des_encrypt(const Block8& block, const Key8& key);
Block8 des_decrypt(const Block8& block, const Key8& key);

// E(k1, D(k2, E(k1, x))).
Block8 tdes_ede_encrypt(const Block8& block, const Key8& k1, const Key8& k2);
// D(k1, E(k2, D(k1, x))): undoes tdes_ede_encrypt with the same k1, k2.
Block8 tdes_ede_decrypt(const Block8& block, const Key8& k1, const Key8& k2);

// CBC MAC with tdes_ede_encrypt(k1, k2) as the block cipher, zero IV, zero
// padding to a whole block (none when the length is already a multiple of
// 8; the empty message gives the IV). The whole final block is returned.
Block8 cbc_mac(std::span<const std::uint8_t> message, const Key8& k1, const Key8& k2);

}  // namespace sim::crypto
