// Key-file selection and authentication: a fresh challenge goes to the card,
// which answers with a cryptogram and its own random; both sides derive two
// session keys from that random and the card's two-key key, and the
// cryptogram must match the challenge enciphered under them.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "block_ciphers.h"
#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"
#include "secure_random.h"
#include "secure_wipe.h"

namespace orvel {

namespace {

constexpr std::size_t kChallengeBytes = 8;
constexpr std::size_t kCryptogramBytes = 4;
constexpr std::size_t kCardRandomBytes = 8;
// The card's cryptogram is compared with bytes 4..7 of the check value.
constexpr std::size_t kCheckValueCompared = 4;

// OrvelAuth selects the key file with P1 0x00, P2 0x01.
constexpr std::uint8_t kAuthSelectP1 = 0x00;
constexpr std::uint8_t kAuthSelectP2 = 0x01;

// OrvelInfoFile selects 0x3F01 with P1 0x00, P2 0x00, P3 0x02.
constexpr std::uint16_t kInfoFileId = 0x3F01;
constexpr std::uint8_t kInfoSelectP1 = 0x00;
constexpr std::uint8_t kInfoSelectP2 = 0x00;
constexpr std::uint8_t kInfoSelectP3 = 0x02;

// Equal in time whatever the position of the first difference.
bool same_bytes(std::span<const std::uint8_t, kCryptogramBytes> a,
                std::span<const std::uint8_t, kCryptogramBytes> b) {
    std::uint8_t diff = 0;
    for (std::size_t i = 0; i < a.size(); ++i) diff |= static_cast<std::uint8_t>(a[i] ^ b[i]);
    return diff == 0;
}

}  // namespace

}  // namespace orvel

extern "C" ORVEL_API int OrvelSelFK(int port, unsigned char p1, unsigned char p2,
                                    const unsigned char* challenge, unsigned char* cryptogram,
                                    unsigned char* cardRandom) {
    using namespace orvel::protocol;
    const orvel::Command select{
        .reader = kReaderCardInput,
        .cla = kClaProprietary,
        .ins = kInsSelectKeyFile,
        .p1 = p1,
        .p2 = p2,
        .p3 = static_cast<std::uint8_t>(orvel::kChallengeBytes),
        .data = std::span(challenge, orvel::kChallengeBytes),
    };
    // The answer is fetched with CLA 0x80 and a fixed Le of 12, whatever the
    // first reply announced.
    orvel::Wiped<orvel::ReplyBuffer> reply;
    const int result = orvel::exchange_with_follow_up(port, select, orvel::PowerOffOnFailure::no,
                                                      reply.value, orvel::kKeyFileGetResponse);
    if (result != orvel::kOk) return result;
    orvel::copy_reply(reply.value, kReplyDataOffset, orvel::kCryptogramBytes, cryptogram);
    orvel::copy_reply(reply.value, kReplyDataOffset + orvel::kCryptogramBytes,
                      orvel::kCardRandomBytes, cardRandom);
    return orvel::kOk;
}

extern "C" ORVEL_API int OrvelAuth(int port, const unsigned char* keyA, const unsigned char* keyB,
                                   unsigned char* derivedKey1, unsigned char* derivedKey2) {
    using orvel::Block8;
    using orvel::BlockIn;
    orvel::Wiped<Block8> challenge;
    // Never authenticate with a challenge an observer could predict: without
    // fresh bytes from the system generator nothing is sent.
    if (!orvel::secure_random_bytes(challenge.value)) return 1;
    orvel::Wiped<std::array<std::uint8_t, orvel::kCryptogramBytes>> cryptogram;
    orvel::Wiped<Block8> card_random;
    if (OrvelSelFK(port, orvel::kAuthSelectP1, orvel::kAuthSelectP2, challenge.value.data(),
                   cryptogram.value.data(), card_random.value.data()) != 0) {
        return 1;
    }
    const BlockIn key_a(keyA, 8);
    const BlockIn key_b(keyB, 8);
    orvel::Wiped<Block8> derived1, derived2, check;
    orvel::triple_des_encrypt_block(card_random.value, key_a, key_b, derived1.value);
    orvel::triple_des_encrypt_block(card_random.value, key_b, key_a, derived2.value);
    orvel::triple_des_encrypt_block(challenge.value, derived1.value, derived2.value, check.value);
    const auto compared = std::span(check.value).subspan<orvel::kCheckValueCompared>();
    if (!orvel::same_bytes(compared, cryptogram.value)) return 2;
    std::copy(derived1.value.begin(), derived1.value.end(), derivedKey1);
    derivedKey1[8] = 0;
    std::copy(derived2.value.begin(), derived2.value.end(), derivedKey2);
    derivedKey2[8] = 0;
    return 0;
}

extern "C" ORVEL_API int OrvelInfoFile(int port, const unsigned char* keyA,
                                       const unsigned char* keyB, unsigned char* derivedKey1,
                                       unsigned char* derivedKey2) {
    if (!orvel::power_up_with_one_retry(port)) return 1;
    if (OrvelSelFil(port, orvel::kInfoSelectP1, orvel::kInfoSelectP2, orvel::kInfoSelectP3,
                    orvel::kInfoFileId) != 0) {
        orvel::power_off(port);
        return 2;
    }
    if (OrvelAuth(port, keyA, keyB, derivedKey1, derivedKey2) != 0) {
        orvel::power_off(port);
        return 3;
    }
    return 0;
}
