// Binary and record access: reads in one card-output exchange, writes in one
// card-input exchange with or without the follow-up, and the MAC variant.
#include <cstddef>
#include <cstdint>
#include <span>

#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"

namespace orvel {
namespace {

using namespace protocol;

// Data bytes that still fit a 126-byte block: after the block and APDU
// headers (8 bytes), and in the MAC variant the three MAC bytes too.
constexpr int kMaxPlainWriteLength =
    kMaxBlockLength - static_cast<int>(kBlockHeaderSize + kApduHeaderSize);
constexpr int kMaxMacWriteLength = kMaxPlainWriteLength - static_cast<int>(kMacPartLength);
constexpr std::size_t kKeyRecordLength = 16;

std::span<const std::uint8_t> data_field(const unsigned char* data, int len) {
    return {data, static_cast<std::size_t>(len)};
}

// A write that fetches the card's answer; CLA 0x04 makes it MAC-protected.
// A failed first phase powers the card off.
int write_with_follow_up(int port, std::uint8_t ins, std::uint8_t cla, std::uint8_t p1,
                         std::uint8_t p2, int len, const unsigned char* data,
                         const unsigned char* key_a, const unsigned char* key_b) {
    const bool with_mac = cla == kClaSecureMessaging;
    if (len < 0 || len > (with_mac ? kMaxMacWriteLength : kMaxPlainWriteLength)) {
        return refuse_unsendable(port, PowerOffOnFailure::yes);
    }
    const int lc = with_mac ? len + static_cast<int>(kMacPartLength) : len;
    const Command cmd{.cla = cla, .ins = ins, .p1 = p1, .p2 = p2,
                      .p3 = static_cast<std::uint8_t>(lc), .data = data_field(data, len)};
    ReplyBuffer reply{};
    return with_mac ? mac_protected_exchange(port, cmd, {key_a, key_b}, PowerOffOnFailure::yes, reply)
                    : exchange_with_follow_up(port, cmd, PowerOffOnFailure::yes, reply);
}

// A write in one exchange, no follow-up, no MAC; a failure powers the card off.
int write_once(int port, std::uint8_t ins, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2,
               int len, const unsigned char* data) {
    if (len < 0 || len > kMaxPlainWriteLength) return refuse_unsendable(port, PowerOffOnFailure::yes);
    const Command cmd{.cla = cla, .ins = ins, .p1 = p1, .p2 = p2,
                      .p3 = static_cast<std::uint8_t>(len), .data = data_field(data, len)};
    ReplyBuffer reply{};
    return single_exchange(port, cmd, PowerOffOnFailure::yes, reply);
}

}  // namespace
}  // namespace orvel

using namespace orvel;
using namespace orvel::protocol;

int OrvelRdBin(int port, unsigned char cla, unsigned char p1, unsigned char p2,
               unsigned char le, unsigned char *out) {
    return read_exchange(port, cla, kInsReadBinary, p1, p2, le, out);
}

int OrvelRdRec(int port, unsigned char cla, unsigned char p1, unsigned char p2,
               unsigned char le, unsigned char *out) {
    return read_exchange(port, cla, kInsReadRecord, p1, p2, le, out);
}

int OrvelUpdBin(int port, unsigned char cla, unsigned char p1, unsigned char p2, int len,
                const unsigned char *data, const unsigned char *keyA, const unsigned char *keyB) {
    return write_with_follow_up(port, kInsUpdateBinary, cla, p1, p2, len, data, keyA, keyB);
}

int OrvelWrBin(int port, unsigned char cla, unsigned char p1, unsigned char p2,
               unsigned char len, const unsigned char *data, const unsigned char *keyA,
               const unsigned char *keyB) {
    return write_with_follow_up(port, kInsWriteBinary, cla, p1, p2, len, data, keyA, keyB);
}

int OrvelUpdBinPurse(int port, unsigned char cla, unsigned char p1, unsigned char p2, int len,
                     const unsigned char *data) {
    return write_once(port, kInsUpdateBinary, cla, p1, p2, len, data);
}

int OrvelWrBinPurse(int port, unsigned char cla, unsigned char p1, unsigned char p2,
                    unsigned char len, const unsigned char *data) {
    return write_once(port, kInsWriteBinary, cla, p1, p2, len, data);
}

int OrvelWriteEFKey(int port, unsigned char cla, unsigned char p1, unsigned char p2,
                    const unsigned char *data) {
    return write_once(port, kInsUpdateBinary, cla, p1, p2, static_cast<int>(kKeyRecordLength), data);
}
