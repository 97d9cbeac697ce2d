// Presenting a code to the card (VERIFY), and the composite card read that
// derives the code from the card's own data: read eight bytes, encipher them
// under the caller's key, present them, then read the protected record.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "block_ciphers.h"
#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"
#include "secure_wipe.h"

namespace orvel {

namespace {

constexpr std::size_t kCodeBytes = 8;
constexpr std::uint8_t kVerifyP1 = 0x00;

// The composite read: READ BINARY of eight bytes at offset 0 of the current
// file, VERIFY with CLA 0x00 P2 0x00, then READ RECORD P1 0x01 P2 0x02 Le 8.
constexpr std::uint8_t kCodeSourceP1 = 0x00;
constexpr std::uint8_t kCodeSourceP2 = 0x00;
constexpr std::uint8_t kPresentP2 = 0x00;
constexpr std::uint8_t kRecordP1 = 0x01;
constexpr std::uint8_t kRecordP2 = 0x02;
constexpr std::uint8_t kReadLength = 8;
constexpr std::size_t kClearedOnPowerUp = 4;  // out[0..3] are cleared once the card is powered

using ReadBuffer = std::array<std::uint8_t, kReadLength + 1>;  // the reads add a 0x00

}  // namespace

}  // namespace orvel

extern "C" ORVEL_API int OrvelVerify(int port, unsigned char cla, unsigned char p2,
                                     const unsigned char* code) {
    using namespace orvel::protocol;
    const orvel::Command verify{
        .reader = kReaderCardInput,
        .cla = cla,
        .ins = kInsVerify,
        .p1 = orvel::kVerifyP1,
        .p2 = p2,
        .p3 = static_cast<std::uint8_t>(orvel::kCodeBytes),
        .data = std::span(code, orvel::kCodeBytes),
    };
    orvel::ReplyBuffer reply;
    // Whatever SW1 SW2 the card answers, an accepted reply is success.
    return orvel::single_exchange(port, verify, orvel::PowerOffOnFailure::yes, reply);
}

extern "C" ORVEL_API int OrvelBCardRead(int port, const unsigned char* key, unsigned char* out) {
    using namespace orvel::protocol;
    if (!orvel::power_up_with_one_retry(port)) return 1;  // not powered: nothing to power off
    std::fill_n(out, orvel::kClearedOnPowerUp, 0);

    orvel::Wiped<orvel::ReadBuffer> source;
    if (OrvelRdBin(port, kClaIso, orvel::kCodeSourceP1, orvel::kCodeSourceP2, orvel::kReadLength,
                   source.value.data()) != 0) {
        orvel::power_off(port);
        return 1;
    }
    orvel::Wiped<orvel::Block8> code;
    orvel::des_encrypt_block(orvel::BlockIn(source.value.data(), orvel::kCodeBytes),
                             orvel::BlockIn(key, orvel::kCodeBytes), code.value);
    // OrvelVerify has powered the card off once already when it fails.
    if (OrvelVerify(port, kClaIso, orvel::kPresentP2, code.value.data()) != 0) {
        orvel::power_off(port);
        return 2;
    }
    orvel::Wiped<orvel::ReadBuffer> record;
    if (OrvelRdRec(port, kClaIso, orvel::kRecordP1, orvel::kRecordP2, orvel::kReadLength,
                   record.value.data()) != 0) {
        orvel::power_off(port);
        return 3;
    }
    std::copy_n(record.value.begin(), orvel::kReadLength, out);
    // The record is read: a power-down that fails twice does not undo that.
    if (Gcr400PowerOff(port) != 0) orvel::power_off(port);
    return 0;
}
