// Reader link: command blocks out as hex-text frames, replies back in, the
// reader-status rule, and card power.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"
#include "tarvex.h"

namespace orvel {
namespace {

using namespace protocol;

// A reply is accepted on reader status 0x00 or 0xE7, or when the card's
// first byte says a response is waiting (0x61), whatever the status.
bool reader_status_accepts(const unsigned char* reply) {
    const std::uint8_t status = reply[kReplyStatusOffset];
    return status == kReaderStatusOk || status == kReaderStatusAccepted ||
           reply[kReplyDataOffset] == kSw1ResponseAvailable;
}

// Power up and down need reader status 0x00 itself, not just an accepted reply.
int power_exchange(int port, std::span<const std::uint8_t> block_bytes) {
    BlockBuffer block{};
    ReplyBuffer reply{};
    std::ranges::copy(block_bytes, block.begin());
    if (OrvelSendFrame(port, block.data(), static_cast<int>(block_bytes.size())) != 0) return 1;
    if (OrvelRcvFrame(port, reply.data()) != 0) return 2;
    return reply[kReplyStatusOffset] == kReaderStatusOk ? 0 : 3;
}

constexpr std::array<std::uint8_t, 6> kPowerUpBlock = {
    kBlockStart, 0x04, kReaderPowerUp,
    kPowerUpParameters[0], kPowerUpParameters[1], kPowerUpParameters[2]};
constexpr std::array<std::uint8_t, 4> kPowerDownBlock = {kBlockStart, 0x02, kReaderPowerDown,
                                                         kPowerDownParameter};

}  // namespace
}  // namespace orvel

using namespace orvel::protocol;

int OrvelSendFrame(int port, unsigned char* block, int len) {
    if (block == nullptr || len < kMinBlockLength || len > kMaxBlockLength) return 1;

    std::array<char, kWorkBufferSize> text{};
    Make_1Byte_BCC(block, len);
    Ascii_To_HexStr(text.data(), block, len + 1);
    const std::size_t text_length = 2 * static_cast<std::size_t>(len + 1);
    text[text_length] = static_cast<char>(kFrameTerminator);

    // Whatever is still queued (a late reply to an earlier block) must not be
    // read as the answer to this one.
    static_cast<void>(COM_RxBuffer_Clear(port));
    const bool written = COM_Write(port, reinterpret_cast<const unsigned char*>(text.data()),
                                   static_cast<std::uint32_t>(text_length + 1));
    return written ? 0 : 1;
}

int OrvelRcvFrame(int port, unsigned char* reply) {
    std::array<char, kWorkBufferSize> text{};
    std::size_t count = 0;    // characters kept before the terminator
    std::size_t dropped = 0;  // characters of an overlong reply drained and dropped
    int failed_reads = 0;

    for (;;) {
        unsigned char byte = 0;
        if (!COM_Read(port, &byte, 1)) {
            // The allowance covers the whole reply, not each character.
            if (++failed_reads > kFailedReadsAllowed) return 1;
            continue;
        }
        if (byte == kFrameTerminator) break;
        if (count < kMaxReplyCharacters) {
            text[count++] = static_cast<char>(byte);
        } else if (++dropped >= kMaxDrainedCharacters) {
            return 1;
        }
    }
    // An overlong reply or a half byte is no frame; nothing is written.
    if (dropped > 0 || count % 2 != 0) return 1;

    HexStr_To_Ascii(reply, text.data(), static_cast<int>(count));
    // Without a status byte there is nothing to judge: never fall back on
    // whatever the buffer held before.
    if (count / 2 < kMinReplyBytes) return 2;
    return orvel::reader_status_accepts(reply) ? 0 : 2;
}

int Gcr400PowerOn(int port) { return orvel::power_exchange(port, orvel::kPowerUpBlock); }

int Gcr400PowerOff(int port) { return orvel::power_exchange(port, orvel::kPowerDownBlock); }
