// The shapes every card command is built from. A command describes its APDU
// as a plain value (Command), picks one of the exchanges below, says whether
// a failed first phase powers the card off, and copies back what it needs
// from the reply. Encoding, sending and judging replies live here once.
//
//   single_exchange          one block, one reply                 results 0-2
//   read_exchange            a card-output one, Le bytes copied   results 0-2
//   exchange_with_follow_up  + the follow-up that fetches the
//                              card's answer (GET RESPONSE)        results 0-4
//   mac_protected_exchange   + three MAC bytes sent, three of the
//                              card's answer checked               results 0-5
//   power_up_with_one_retry      the composite commands' power-up
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "card_protocol.h"

namespace orvel {

using BlockBuffer = std::array<std::uint8_t, protocol::kWorkBufferSize>;
using ReplyBuffer = std::array<std::uint8_t, protocol::kWorkBufferSize>;

// Result codes shared by all card commands.
enum Result : int {
    kOk = 0,
    kSendFailed = 1,          // first block not sent (or not sendable)
    kReplyFailed = 2,         // first reply missing or refused
    kFollowUpSendFailed = 3,  // follow-up not sent
    kFollowUpReplyFailed = 4, // follow-up's reply missing or refused
    kMacMismatch = 5,         // the card's MAC bytes disagree
};

// A card command as the reader carries it: block start, LN, reader command,
// then CLA INS P1 P2 P3 and the data field. `data` is borrowed for the call.
struct Command {
    std::uint8_t reader = protocol::kReaderCardInput;
    std::uint8_t cla = 0;
    std::uint8_t ins = 0;
    std::uint8_t p1 = 0;
    std::uint8_t p2 = 0;
    std::uint8_t p3 = 0;  // Lc or Le
    std::span<const std::uint8_t> data{};
    // LN as sent. Unset: the block length less two, low 8 bits.
    std::optional<std::uint8_t> ln{};
};

// A block ready for OrvelSendFrame: bytes[0 .. length-1], with the buffer's
// remaining room taking the check character and a 0x00.
struct EncodedBlock {
    BlockBuffer bytes{};
    int length = 0;

    // CLA onwards: what a MAC covers.
    std::span<const std::uint8_t> apdu() const {
        return std::span(bytes).subspan(protocol::kApduOffset,
                                        static_cast<std::size_t>(length) - protocol::kApduOffset);
    }
};

// The block of cmd, or nothing when it would exceed the 126-byte frame limit.
std::optional<EncodedBlock> encode_block(const Command& cmd);

// Whether results 1 and 2 power the card off (Gcr400PowerOff, result
// ignored). Follow-up failures and MAC mismatches never do.
enum class PowerOffOnFailure : bool { no = false, yes = true };

// How the follow-up that fetches the card's answer is built: a card-output
// exchange CLA 0xC0 0x00 0x00 Le, Le from byte 4 of the first reply unless
// fixed.
struct FollowUp {
    std::uint8_t cla = protocol::kClaIso;
    std::optional<std::uint8_t> fixed_le{};
};
inline constexpr FollowUp kGetResponse{};
inline constexpr FollowUp kKeyFileGetResponse{protocol::kClaProprietary,
                                              protocol::kKeyFileResponseLength};

Command follow_up_command(const FollowUp& follow_up, const ReplyBuffer& first_reply);

// One exchange: zeroes reply, sends cmd, reads its reply. 0, 1 or 2. A
// command that does not fit a frame sends nothing and gives 1. On 1 and 2
// the card is powered off when on_failure says so.
int single_exchange(int port, const Command& cmd, PowerOffOnFailure on_failure,
                    ReplyBuffer& reply);

// single_exchange, then the follow-up; on 0, reply holds the follow-up's
// reply (zeroed before it was read, so bytes beyond it read as 0). 0-4.
int exchange_with_follow_up(int port, const Command& cmd, PowerOffOnFailure on_failure,
                            ReplyBuffer& reply, const FollowUp& follow_up = kGetResponse);

// A card-output exchange (CLA INS P1 P2 Le, no data) that hands back le
// bytes from reply offset 3 and a 0x00 (out needs le + 1 bytes), written only
// on 0. Never powers the card off. An le above 121 sends nothing and gives 1.
// 0-2.
int read_exchange(int port, std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2,
                  std::uint8_t le, unsigned char* out);

// Two-key triple-DES MAC keys, 8 raw bytes each.
struct MacKeys {
    const unsigned char* a;
    const unsigned char* b;
};

// MAC-protected exchange. The MAC (MakeMac over the hex text of CLA INS P1
// P2 P3 and cmd.data) puts its bytes 5..7 after the data; cmd.p3 and cmd.ln
// are sent as given (LN unset counts the MAC bytes). After the follow-up,
// reply bytes 3..5 must equal MAC bytes 0..2, else 5. 0-5.
int mac_protected_exchange(int port, const Command& cmd, MacKeys keys,
                           PowerOffOnFailure on_failure, ReplyBuffer& reply);

// For a command refused before anything is sent (a length past the frame
// limit): powers off when on_failure says so, gives 1.
int refuse_unsendable(int port, PowerOffOnFailure on_failure);

// The composite commands' power-up: Gcr400PowerOn, once more if it fails.
// True when the card is powered.
bool power_up_with_one_retry(int port);

// Gcr400PowerOff with its result ignored.
void power_off(int port);

// Copy count reply bytes from offset to out; the _terminated form adds a
// 0x00 (out needs count + 1 bytes). The copy never reads past the buffer.
void copy_reply(const ReplyBuffer& reply, std::size_t offset, std::size_t count,
                unsigned char* out);
void copy_reply_terminated(const ReplyBuffer& reply, std::size_t offset, std::size_t count,
                           unsigned char* out);

// Words go out high byte first.
constexpr std::array<std::uint8_t, 2> word_bytes(std::uint16_t word) {
    return {static_cast<std::uint8_t>(word >> 8), static_cast<std::uint8_t>(word & 0xFF)};
}

}  // namespace orvel
