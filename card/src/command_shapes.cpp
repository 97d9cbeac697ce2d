// Encoding of command blocks and the exchange shapes of the card commands.
#include "command_shapes.h"

#include <algorithm>

#include "orvel.h"
#include "secure_wipe.h"
#include "tarvex.h"

namespace orvel {

using namespace protocol;

std::optional<EncodedBlock> encode_block(const Command& cmd) {
    const std::size_t length = kBlockHeaderSize + kApduHeaderSize + cmd.data.size();
    if (length > static_cast<std::size_t>(kMaxBlockLength)) return std::nullopt;

    EncodedBlock block;
    auto& b = block.bytes;
    b[0] = kBlockStart;
    b[kLnOffset] = cmd.ln.value_or(static_cast<std::uint8_t>((length - 2) & 0xFF));
    b[2] = cmd.reader;
    b[3] = cmd.cla;
    b[4] = cmd.ins;
    b[5] = cmd.p1;
    b[6] = cmd.p2;
    b[7] = cmd.p3;
    std::ranges::copy(cmd.data, b.begin() + kBlockHeaderSize + kApduHeaderSize);
    block.length = static_cast<int>(length);
    return block;
}

Command follow_up_command(const FollowUp& follow_up, const ReplyBuffer& first_reply) {
    return Command{
        .reader = kReaderCardOutput,
        .cla = follow_up.cla,
        .ins = kInsGetResponse,
        .p1 = 0x00,
        .p2 = 0x00,
        .p3 = follow_up.fixed_le.value_or(first_reply[kReplyFollowUpLeOffset]),
    };
}

void power_off(int port) { static_cast<void>(Gcr400PowerOff(port)); }

int refuse_unsendable(int port, PowerOffOnFailure on_failure) {
    if (on_failure == PowerOffOnFailure::yes) power_off(port);
    return kSendFailed;
}

namespace {

// Sends an encoded block and reads one reply into the zeroed reply buffer:
// 0, or the given failure codes.
int send_and_receive(int port, EncodedBlock& block, ReplyBuffer& reply, int send_failed,
                     int reply_failed) {
    if (OrvelSendFrame(port, block.bytes.data(), block.length) != 0) return send_failed;
    reply.fill(0);
    if (OrvelRcvFrame(port, reply.data()) != 0) return reply_failed;
    return kOk;
}

int first_phase(int port, std::optional<EncodedBlock>& block, PowerOffOnFailure on_failure,
                ReplyBuffer& reply) {
    if (!block) return refuse_unsendable(port, on_failure);
    const int result = send_and_receive(port, *block, reply, kSendFailed, kReplyFailed);
    // The block may carry a challenge, a code or a key record: gone once sent.
    secure_wipe(std::span(block->bytes));
    if (result != kOk && on_failure == PowerOffOnFailure::yes) power_off(port);
    return result;
}

int follow_up_phase(int port, const FollowUp& follow_up, ReplyBuffer& reply) {
    auto block = encode_block(follow_up_command(follow_up, reply));  // 8 bytes: always fits
    return send_and_receive(port, *block, reply, kFollowUpSendFailed, kFollowUpReplyFailed);
}

}  // namespace

int single_exchange(int port, const Command& cmd, PowerOffOnFailure on_failure,
                    ReplyBuffer& reply) {
    auto block = encode_block(cmd);
    return first_phase(port, block, on_failure, reply);
}

int read_exchange(int port, std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                  std::uint8_t le, unsigned char* out) {
    if (le > kMaxReadLength) return refuse_unsendable(port, PowerOffOnFailure::no);
    ReplyBuffer reply{};
    const Command cmd{.reader = kReaderCardOutput, .cla = cla, .ins = ins, .p1 = p1, .p2 = p2,
                      .p3 = le};
    const int result = single_exchange(port, cmd, PowerOffOnFailure::no, reply);
    if (result == kOk) copy_reply_terminated(reply, kReplyDataOffset, le, out);
    return result;
}

int exchange_with_follow_up(int port, const Command& cmd, PowerOffOnFailure on_failure,
                            ReplyBuffer& reply, const FollowUp& follow_up) {
    auto block = encode_block(cmd);
    if (const int result = first_phase(port, block, on_failure, reply); result != kOk) return result;
    return follow_up_phase(port, follow_up, reply);
}

int mac_protected_exchange(int port, const Command& cmd, MacKeys keys,
                           PowerOffOnFailure on_failure, ReplyBuffer& reply) {
    // The block without the MAC gives the MAC input; with the MAC it must
    // still fit a frame.
    const auto unsigned_block = encode_block(cmd);
    if (!unsigned_block ||
        unsigned_block->length + static_cast<int>(kMacPartLength) > kMaxBlockLength) {
        return refuse_unsendable(port, on_failure);
    }

    std::array<char, kWorkBufferSize> mac_input{};
    std::array<char, kMacTextLength + 1> mac_text{};
    std::array<std::uint8_t, kMacBytes + 1> mac{};
    const auto apdu = unsigned_block->apdu();
    Ascii_To_HexStr(mac_input.data(), apdu.data(), static_cast<int>(apdu.size()));
    MakeMac(mac_input.data(), mac_text.data(), keys.a, keys.b);
    HexStr_To_Ascii(mac.data(), mac_text.data(), static_cast<int>(kMacTextLength));

    std::array<std::uint8_t, kWorkBufferSize> data_with_mac{};
    auto end = std::ranges::copy(cmd.data, data_with_mac.begin()).out;
    std::copy_n(mac.begin() + kMacSentOffset, kMacPartLength, end);
    Command signed_cmd = cmd;
    signed_cmd.data = std::span(data_with_mac).first(cmd.data.size() + kMacPartLength);

    auto block = encode_block(signed_cmd);
    int result = first_phase(port, block, on_failure, reply);
    if (result == kOk) result = follow_up_phase(port, kGetResponse, reply);
    if (result == kOk &&
        !std::equal(mac.begin() + kMacCheckedOffset, mac.begin() + kMacCheckedOffset + kMacPartLength,
                    reply.begin() + kReplyDataOffset)) {
        result = kMacMismatch;
    }

    secure_wipe(std::span(mac_text));
    secure_wipe(std::span(mac));
    return result;
}

bool power_up_with_one_retry(int port) { return Gcr400PowerOn(port) == 0 || Gcr400PowerOn(port) == 0; }

void copy_reply(const ReplyBuffer& reply, std::size_t offset, std::size_t count,
                unsigned char* out) {
    offset = std::min(offset, reply.size());
    count = std::min(count, reply.size() - offset);
    std::copy_n(reply.begin() + static_cast<std::ptrdiff_t>(offset), count, out);
}

void copy_reply_terminated(const ReplyBuffer& reply, std::size_t offset, std::size_t count,
                           unsigned char* out) {
    copy_reply(reply, offset, count, out);
    out[count] = 0x00;
}

}  // namespace orvel
