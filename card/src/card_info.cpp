// Card information and file selection: commands that need no keys.
#include <array>
#include <cstdint>

#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"

namespace orvel {
namespace {

using namespace protocol;

// How many bytes of card information each P2 asks for.
struct InfoLength {
    std::uint8_t p2;
    std::uint8_t le;
};
constexpr std::array<InfoLength, 6> kInfoLengths = {{
    {0xA0, 0x08}, {0xA1, 0x08}, {0xA2, 0x08}, {0xA3, 0x04}, {0xA4, 0x0D}, {0x06, 0x02},
}};

std::uint8_t info_length(std::uint8_t p2) {
    for (const auto& entry : kInfoLengths) {
        if (entry.p2 == p2) return entry.le;
    }
    return 0x00;
}

constexpr std::uint8_t kSetStatusP1 = 0xFF;
constexpr std::uint8_t kSetStatusP2 = 0xFF;
constexpr std::size_t kSetStatusDataLength = 8;

}  // namespace
}  // namespace orvel

using namespace orvel;
using namespace orvel::protocol;

int OrvelGetInfo(int port, unsigned char cla, unsigned char p1, unsigned char p2,
                 unsigned char *out) {
    return read_exchange(port, cla, kInsGetInfo, p1, p2, info_length(p2), out);
}

int OrvelSelFil(int port, unsigned char p1, unsigned char p2, unsigned char p3,
                unsigned short fileId) {
    const auto file = word_bytes(fileId);
    ReplyBuffer reply{};
    const Command cmd{.cla = kClaIso, .ins = kInsSelectFile, .p1 = p1, .p2 = p2, .p3 = p3,
                      .data = file};
    return exchange_with_follow_up(port, cmd, PowerOffOnFailure::no, reply);
}

int OrvelSetStatus(int port, unsigned char p3, const unsigned char *data) {
    ReplyBuffer reply{};
    const Command cmd{.cla = kClaProprietary, .ins = kInsSetStatus, .p1 = kSetStatusP1,
                      .p2 = kSetStatusP2, .p3 = p3, .data = {data, kSetStatusDataLength}};
    return exchange_with_follow_up(port, cmd, PowerOffOnFailure::no, reply);
}

int OrvelSwrPrt(int port, unsigned char p1, unsigned char p2) {
    ReplyBuffer reply{};
    const Command cmd{.cla = kClaProprietary, .ins = kInsSetProtection, .p1 = p1, .p2 = p2,
                      .p3 = 0x00};
    return exchange_with_follow_up(port, cmd, PowerOffOnFailure::no, reply);
}
