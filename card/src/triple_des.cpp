// Two-key triple DES of one block on hex text, three calls of the DES
// service each, innermost step first.
#include <array>

#include "cipher.h"
#include "ciphon.h"
#include "orvel.h"
#include "secure_wipe.h"

namespace orvel {
namespace {

// The two intermediate values of one triple-DES operation; they are cipher
// state, so they are wiped however the function leaves.
struct Intermediates {
    std::array<char, kBlockTextRoom> first{};
    std::array<char, kBlockTextRoom> second{};
    ~Intermediates() {
        secure_wipe(std::span{first});
        secure_wipe(std::span{second});
    }
};

}  // namespace

void triple_des_encrypt(const char* input, char* output, const char* key1,
                        const char* key2) {
    Intermediates t;
    DESencrypt(input, t.first.data(), key1);
    DESdecrypt(t.first.data(), t.second.data(), key2);
    DESencrypt(t.second.data(), output, key1);
}

void triple_des_decrypt(const char* input, char* output, const char* key1,
                        const char* key2) {
    // Key 2 serves the outer steps here, so this undoes triple_des_encrypt
    // only when the keys are given in exchanged order.
    Intermediates t;
    DESdecrypt(input, t.first.data(), key2);
    DESencrypt(t.first.data(), t.second.data(), key1);
    DESdecrypt(t.second.data(), output, key2);
}

}  // namespace orvel

extern "C" {

void Triple_DES_Encryption(const char* input, char* output, const char* key1,
                           const char* key2) {
    orvel::triple_des_encrypt(input, output, key1, key2);
}

void MakeTemSysKey(const char* input, const char* key1, const char* key2, char* output) {
    orvel::triple_des_encrypt(input, output, key1, key2);
}

void Triple_DES_Decryption(const char* input, char* output, const char* key1,
                           const char* key2) {
    orvel::triple_des_decrypt(input, output, key1, key2);
}

}  // extern "C"
