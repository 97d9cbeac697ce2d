// File creation: CREATE FILE with its fixed data layout, always MAC-protected.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"

namespace orvel {
namespace {

using namespace protocol;

constexpr std::uint8_t kCreateWithExtra = 0x01;  // P1 that makes the command carry extra bytes
constexpr std::size_t kFixedDataLength = 12;
constexpr std::size_t kMaxExtraLength = 16;
// LN follows the caller's P3, not the block: P3 counts the data and the MAC
// bytes, LN six bytes more (the reader command and CLA INS P1 P2 P3).
constexpr int kLnOverP3 = 6;

}  // namespace
}  // namespace orvel

using namespace orvel;
using namespace orvel::protocol;

int OrvelCreate(int port, unsigned char cla, unsigned char p1, unsigned char p3,
                unsigned short word1, unsigned char byte1, unsigned char byte2,
                unsigned short size, unsigned short word3, unsigned short word4,
                unsigned short word5, const unsigned char *extra, const unsigned char *keyA,
                const unsigned char *keyB) {
    const std::size_t extra_length =
        p1 == kCreateWithExtra ? std::min<std::size_t>(size, kMaxExtraLength) : 0;

    std::array<std::uint8_t, kFixedDataLength + kMaxExtraLength> data{};
    auto out = data.begin();
    auto put_word = [&out](std::uint16_t word) { out = std::ranges::copy(word_bytes(word), out).out; };
    put_word(word1);
    *out++ = byte1;
    *out++ = byte2;
    put_word(size);  // the caller's full value, even when fewer extra bytes go out
    put_word(word3);
    put_word(word4);
    put_word(word5);
    if (extra_length > 0) std::copy_n(extra, extra_length, out);

    const Command cmd{.cla = cla, .ins = kInsCreateFile, .p1 = p1, .p2 = 0x00, .p3 = p3,
                      .data = std::span(data).first(kFixedDataLength + extra_length),
                      .ln = static_cast<std::uint8_t>((p3 + kLnOverP3) & 0xFF)};
    ReplyBuffer reply{};
    return mac_protected_exchange(port, cmd, {keyA, keyB}, PowerOffOnFailure::no, reply);
}
