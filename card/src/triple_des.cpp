// Two-key triple DES of one block on hex text, three calls of the DES
// service each, innermost step first.
#include <array>

#include "cipher.h"
#include "ciphon.h"
#include "orvel.h"
#include "secure_wipe.h"

namespace orvel {
namespace {

// An intermediate value of a triple-DES operation: cipher state, wiped
// however the function leaves.
using Intermediate = Wiped<std::array<char, kBlockTextRoom>>;

}  // namespace

void triple_des_encrypt(const char* input, char* output, const char* key1,
                        const char* key2) {
    Intermediate first, second;
    DESencrypt(input, first.value.data(), key1);
    DESdecrypt(first.value.data(), second.value.data(), key2);
    DESencrypt(second.value.data(), output, key1);
}

void triple_des_decrypt(const char* input, char* output, const char* key1,
                        const char* key2) {
    // Key 2 serves the outer steps here, so this undoes triple_des_encrypt
    // only when the keys are given in exchanged order.
    Intermediate first, second;
    DESdecrypt(input, first.value.data(), key2);
    DESencrypt(first.value.data(), second.value.data(), key1);
    DESdecrypt(second.value.data(), output, key2);
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
