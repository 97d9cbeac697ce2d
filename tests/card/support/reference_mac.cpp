#include "reference_mac.h"

#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/des.h>

#include <algorithm>

namespace card_test {

Mac reference_mac(std::span<const std::uint8_t> message, const Key& key_a, const Key& key_b) {
    DES_cblock a, b;
    std::copy(key_a.begin(), key_a.end(), a);
    std::copy(key_b.begin(), key_b.end(), b);
    DES_key_schedule ka, kb;
    DES_set_key_unchecked(&a, &ka);
    DES_set_key_unchecked(&b, &kb);

    DES_cblock chain{};
    for (std::size_t at = 0; at < message.size(); at += 8) {
        for (std::size_t i = 0; i < 8 && at + i < message.size(); ++i) chain[i] ^= message[at + i];
        DES_cblock out;
        DES_ecb3_encrypt(&chain, &out, &ka, &kb, &ka, DES_ENCRYPT);
        std::copy(out, out + 8, chain);
    }
    Mac mac;
    std::copy(chain, chain + 8, mac.begin());
    return mac;
}

}  // namespace card_test
