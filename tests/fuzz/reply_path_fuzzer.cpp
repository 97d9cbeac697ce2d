// The card library's reply path under arbitrary line bytes: one card command
// (or OrvelSendFrame / OrvelRcvFrame) per input, with arbitrary arguments,
// against a line that serves the input as its replies.
//
// Input: byte 0 picks the command, bytes 1..4 say which sends fail, the next
// 64 bytes are the arguments, the rest arrives on the line (0xFE in it is a
// read that times out).
//
// Checked for every input: the result is one of the command's documented
// codes; outputs are written only within their extent and left untouched
// where the failure contract says so; every frame sent is well formed; a
// command refused before sending sends nothing; the power-down follows the
// failures that call for it and no others; success needs a reply.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <initializer_list>
#include <optional>
#include <span>
#include <vector>

#include "ciphon.h"
#include "frame_checks.h"
#include "guarded_buffer.h"
#include "line_stand_in.h"
#include "orvel.h"
#include "tarvex.h"

namespace {

using fuzz_checks::GuardedBuffer;
using fuzz_checks::require;
using fuzz_line::kPort;

constexpr std::size_t kHeaderBytes = 5;
constexpr std::size_t kArgumentBytes = 64;
constexpr std::size_t kReplyRoom = 128;        // what OrvelRcvFrame may fill
constexpr std::size_t kShortestReplyWire = 7;  // 3 bytes as hex text and 0x03
constexpr std::size_t kMaxFramesPerCommand = 16;
constexpr int kMaxReadLength = 121;
constexpr int kMaxWriteLength = 118;
constexpr int kMaxMacWriteLength = 115;
constexpr std::uint8_t kClaMac = 0x04;
constexpr std::uint32_t kMaxAmount = 0xFFFFFF;

// The power-down block as it goes on the line: 60 02 4D 00 and its check
// character 2F, as hex text.
const std::vector<std::uint8_t> kPowerDownWire = {'6', '0', '0', '2', '4', 'D', '0', '0', '2', 'F', 0x03};
const std::vector<std::uint8_t> kPowerUpWire = {'6', '0', '0', '4', '6', 'E', '0', '2', '0', '0',
                                                '0', '0', '0', '8', 0x03};

// Arguments drawn in turn from a fixed pool (zeros once it runs out).
class Arguments {
public:
    explicit Arguments(std::span<const std::uint8_t> pool) : pool_(pool) {}
    std::uint8_t byte() { return next_ < pool_.size() ? pool_[next_++] : 0; }
    std::uint16_t word() { return static_cast<std::uint16_t>(byte() << 8 | byte()); }
    std::int32_t int32() {
        std::uint32_t v = 0;
        for (int i = 0; i < 4; ++i) v = v << 8 | byte();
        return static_cast<std::int32_t>(v);
    }
    // A length: mostly small, sometimes any int, so both sides of a limit
    // are reached.
    int length() {
        const std::uint8_t kind = byte();
        if (kind < 0xE0) return kind;
        return int32();
    }
    // Exactly n bytes on the heap, so a read past them is caught.
    std::vector<std::uint8_t> bytes(std::size_t n) {
        std::vector<std::uint8_t> out(n);
        for (auto& b : out) b = byte();
        return out;
    }

private:
    std::span<const std::uint8_t> pool_;
    std::size_t next_ = 0;
};

bool one_of(int result, std::initializer_list<int> codes) {
    return std::find(codes.begin(), codes.end(), result) != codes.end();
}
bool in_range(int result, int last) { return result >= 0 && result <= last; }

const auto& frames() { return fuzz_line::written_frames(); }

bool sent_power(const std::vector<std::uint8_t>& wire) {
    return std::any_of(frames().begin(), frames().end(), [&](const auto& f) { return f == wire; });
}
// A write refused for its length sends no command block; like any result 1
// of a write it may power the card off.
bool only_power_down_sent() {
    return std::all_of(frames().begin(), frames().end(), [](const auto& f) { return f == kPowerDownWire; });
}
bool last_frame_is_power_down() { return !frames().empty() && frames().back() == kPowerDownWire; }

// The common checks of a command that sent frames.
void check_frames(std::optional<std::uint8_t> ln_of_first = {}) {
    require(frames().size() <= kMaxFramesPerCommand, "too many frames for one command");
    for (std::size_t i = 0; i < frames().size(); ++i) {
        const auto& frame = frames()[i];
        if (fuzz_checks::well_formed_frame(frame, i == 0 ? ln_of_first : std::nullopt)) continue;
        std::fprintf(stderr, "frame: %.*s\n", static_cast<int>(frame.size()), reinterpret_cast<const char*>(frame.data()));
        fuzz_checks::fail("malformed frame sent");
    }
}
void check_success_had_reply(int result) {
    if (result == 0) require(fuzz_line::bytes_served() >= kShortestReplyWire, "success without a reply");
}
// Single commands power off only after a failed first phase.
void check_power_down_rule(int result) {
    require(last_frame_is_power_down() == (result == 1 || result == 2),
            "power-down not exactly after a failed first phase");
}

// Output buffer that must end in a zero byte on success and stay as it was
// on failure.
void check_output(GuardedBuffer& out, int result, bool terminated = true) {
    require(out.guards_intact(), "output written outside its extent");
    if (result != 0) {
        require(out.untouched(), "output written on failure");
    } else if (terminated) {
        require(out[out.size() - 1] == 0x00, "output not terminated");
    }
}

int info_length(std::uint8_t p2) {
    switch (p2) {
        case 0xA0: case 0xA1: case 0xA2: return 8;
        case 0xA3: return 4;
        case 0xA4: return 13;
        case 0x06: return 2;
        default: return 0;
    }
}

std::array<char, 17> hex_of(std::span<const std::uint8_t> bytes8) {
    std::array<char, 17> text{};
    Ascii_To_HexStr(text.data(), bytes8.data(), 8);
    return text;
}

void run_command(std::uint8_t selector, Arguments& a) {
    constexpr int kCommands = 28;
    switch (selector % kCommands) {
        case 0: {
            GuardedBuffer reply(kReplyRoom);
            const int r = OrvelRcvFrame(kPort, reply.data());
            require(in_range(r, 2), "OrvelRcvFrame result");
            require(reply.guards_intact(), "reply written past 128 bytes");
            if (r == 1) require(reply.untouched(), "reply written without a complete frame");
            if (r == 0) require(reply[2] == 0x00 || reply[2] == 0xE7 || reply[3] == 0x61, "refused reply accepted");
            require(frames().empty(), "OrvelRcvFrame sent something");
            break;
        }
        case 1: {
            const int len = a.length();
            const bool valid = len >= 1 && len <= 126;
            GuardedBuffer block(valid ? static_cast<std::size_t>(len) + 2 : 8);
            const auto contents = a.bytes(block.size());
            std::copy(contents.begin(), contents.end(), block.data());
            const int r = OrvelSendFrame(kPort, block.data(), len);
            require(one_of(r, {0, 1}), "OrvelSendFrame result");
            require(block.guards_intact(), "block written past len + 2");
            if (!valid) {
                require(r == 1 && frames().empty(), "length outside 1..126 sent");
                require(std::equal(contents.begin(), contents.end(), block.data()), "block changed without a send");
                break;
            }
            std::uint8_t check = 0;
            for (int i = 0; i < len; ++i) check ^= contents[static_cast<std::size_t>(i)];
            require(block[static_cast<std::size_t>(len)] == check && block[static_cast<std::size_t>(len) + 1] == 0,
                    "check character or zero byte");
            require(frames().size() == 1, "one frame per send");
            std::vector<char> text(2 * static_cast<std::size_t>(len + 1) + 1);
            Ascii_To_HexStr(text.data(), block.data(), len + 1);
            const auto& wire = frames().front();
            require(wire.size() == text.size() && wire.back() == 0x03 &&
                        std::equal(wire.begin(), wire.end() - 1, text.begin()),
                    "frame is not the block as hex text and 0x03");
            break;
        }
        case 2:
        case 3: {
            const int r = selector % kCommands == 2 ? Gcr400PowerOn(kPort) : Gcr400PowerOff(kPort);
            require(in_range(r, 3), "power result");
            check_frames();
            break;
        }
        case 4: {
            const std::uint8_t cla = a.byte(), p1 = a.byte(), p2 = a.byte();
            GuardedBuffer out(static_cast<std::size_t>(info_length(p2)) + 1);
            const int r = OrvelGetInfo(kPort, cla, p1, p2, out.data());
            require(in_range(r, 2), "OrvelGetInfo result");
            check_output(out, r);
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 5: {
            const std::uint8_t p1 = a.byte(), p2 = a.byte(), p3 = a.byte();
            const int r = OrvelSelFil(kPort, p1, p2, p3, a.word());
            require(in_range(r, 4), "OrvelSelFil result");
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 6: {
            const std::uint8_t p3 = a.byte();
            const auto data = a.bytes(8);
            const int r = OrvelSetStatus(kPort, p3, data.data());
            require(in_range(r, 4), "OrvelSetStatus result");
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 7: {
            const std::uint8_t p1 = a.byte(), p2 = a.byte();
            const int r = OrvelSwrPrt(kPort, p1, p2);
            require(in_range(r, 4), "OrvelSwrPrt result");
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 8:
        case 9: {
            const std::uint8_t cla = a.byte(), p1 = a.byte(), p2 = a.byte(), le = a.byte();
            GuardedBuffer out(static_cast<std::size_t>(le) + 1);
            const int r = selector % kCommands == 8 ? OrvelRdBin(kPort, cla, p1, p2, le, out.data())
                                                    : OrvelRdRec(kPort, cla, p1, p2, le, out.data());
            require(in_range(r, 2), "read result");
            check_output(out, r);
            if (le > kMaxReadLength) require(r == 1 && frames().empty(), "read of more than 121 bytes sent");
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 10:
        case 11: {
            const bool update = selector % kCommands == 10;
            const std::uint8_t cla = a.byte() & 0x01 ? kClaMac : a.byte();
            const std::uint8_t p1 = a.byte(), p2 = a.byte();
            const int len = update ? a.length() : a.byte();
            const auto data = a.bytes(static_cast<std::size_t>(std::clamp(len, 0, 300)));
            const auto key_a = a.bytes(8), key_b = a.bytes(8);
            const int r = update ? OrvelUpdBin(kPort, cla, p1, p2, len, data.data(), key_a.data(), key_b.data())
                                 : OrvelWrBin(kPort, cla, p1, p2, static_cast<unsigned char>(len), data.data(),
                                              key_a.data(), key_b.data());
            require(in_range(r, 5), "write result");
            const int limit = cla == kClaMac ? kMaxMacWriteLength : kMaxWriteLength;
            if (len < 0 || len > limit) {
                require(r == 1 && only_power_down_sent(), "write beyond its limit sent");
                break;
            }
            if (cla != kClaMac) require(r != 5, "MAC result without MAC");
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 12:
        case 13: {
            const bool update = selector % kCommands == 12;
            const std::uint8_t cla = a.byte(), p1 = a.byte(), p2 = a.byte();
            const int len = update ? a.length() : a.byte();
            const auto data = a.bytes(static_cast<std::size_t>(std::clamp(len, 0, 300)));
            const int r = update ? OrvelUpdBinPurse(kPort, cla, p1, p2, len, data.data())
                                 : OrvelWrBinPurse(kPort, cla, p1, p2, static_cast<unsigned char>(len), data.data());
            require(in_range(r, 2), "purse write result");
            if (len < 0 || len > kMaxWriteLength) {
                require(r == 1 && only_power_down_sent(), "purse write beyond its limit sent");
                break;
            }
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 14: {
            const std::uint8_t cla = a.byte(), p1 = a.byte(), p2 = a.byte();
            const auto data = a.bytes(16);
            const int r = OrvelWriteEFKey(kPort, cla, p1, p2, data.data());
            require(in_range(r, 2), "OrvelWriteEFKey result");
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 15: {
            const std::uint8_t cla = a.byte(), p1 = a.byte() & 0x01 ? 0x01 : a.byte(), p3 = a.byte();
            const std::uint16_t word1 = a.word();
            const std::uint8_t byte1 = a.byte(), byte2 = a.byte();
            const std::uint16_t size = a.word() & (a.byte() & 0x01 ? 0x001F : 0xFFFF);
            const std::uint16_t word3 = a.word(), word4 = a.word(), word5 = a.word();
            const auto extra = a.bytes(p1 == 0x01 ? std::min<std::size_t>(size, 16) : 0);
            const auto key_a = a.bytes(8), key_b = a.bytes(8);
            const int r = OrvelCreate(kPort, cla, p1, p3, word1, byte1, byte2, size, word3, word4, word5,
                                      extra.data(), key_a.data(), key_b.data());
            require(in_range(r, 5), "OrvelCreate result");
            // The caller's P3 sets LN as well (P3 + 6), whatever the data.
            check_frames(static_cast<std::uint8_t>(p3 + 6));
            require(!sent_power(kPowerDownWire), "OrvelCreate powered off");
            check_success_had_reply(r);
            break;
        }
        case 16: {
            const std::uint8_t cla = a.byte(), p1 = a.byte(), p2 = a.byte(), data_byte = a.byte();
            const auto data = a.bytes(8);
            GuardedBuffer head(5), tail(4);
            const int r = OrvelSelPK(kPort, cla, p1, p2, data_byte, data.data(), head.data(), tail.data());
            require(in_range(r, 4), "OrvelSelPK result");
            check_output(head, r);
            check_output(tail, r);
            check_frames();
            require(!sent_power(kPowerDownWire), "OrvelSelPK powered off");
            check_success_had_reply(r);
            break;
        }
        case 17: {
            const std::uint8_t cla = a.byte(), p2 = a.byte();
            const auto data = a.bytes(4);
            GuardedBuffer balance(4), tail(3);
            const int r = OrvelRdBal(kPort, cla, p2, data.data(), balance.data(), tail.data());
            require(in_range(r, 4), "OrvelRdBal result");
            check_output(balance, r);
            check_output(tail, r);
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 18: {
            const std::uint8_t cla = a.byte(), p1 = a.byte();
            const auto amount = a.bytes(3), data = a.bytes(8);
            const int r = OrvelCredit(kPort, cla, p1, amount.data(), data.data());
            require(in_range(r, 2), "OrvelCredit result");
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 19: {
            const std::uint8_t cla = a.byte();
            const auto data = a.bytes(4);
            const std::uint8_t kind = a.byte();
            const int amount = kind & 0x01 ? a.int32() : static_cast<int>(a.int32() & kMaxAmount);
            GuardedBuffer out(3);
            const int r = OrvelDebit(kPort, cla, data.data(), amount, out.data());
            require(in_range(r, 5), "OrvelDebit result");
            check_output(out, r);
            if (amount < 0 || static_cast<std::uint32_t>(amount) > kMaxAmount) {
                require(r == 5 && frames().empty(), "debit amount outside 0..0xFFFFFF");
                break;
            }
            require(r != 5, "debit result 5 for an amount in range");
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 20: {
            const std::uint8_t mark = a.byte();
            const std::uint16_t file_id = a.word();
            const std::uint8_t short_id = a.byte();
            const auto va = a.bytes(3), vb = a.bytes(3), vc = a.bytes(3), vd = a.bytes(3);
            const int r = OrvelUpdatePurseValue(kPort, mark, file_id, short_id, va.data(), vb.data(), vc.data(),
                                                vd.data());
            require(in_range(r, 2), "OrvelUpdatePurseValue result");
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 21: {
            const std::uint8_t p1 = a.byte(), p2 = a.byte();
            const auto challenge = a.bytes(8);
            GuardedBuffer cryptogram(4), card_random(8);
            const int r = OrvelSelFK(kPort, p1, p2, challenge.data(), cryptogram.data(), card_random.data());
            require(in_range(r, 4), "OrvelSelFK result");
            check_output(cryptogram, r, false);
            check_output(card_random, r, false);
            check_frames();
            require(!sent_power(kPowerDownWire), "OrvelSelFK powered off");
            check_success_had_reply(r);
            break;
        }
        case 22:
        case 23: {
            const bool composite = selector % kCommands == 23;
            const auto key_a = a.bytes(8), key_b = a.bytes(8);
            GuardedBuffer dk1(9), dk2(9);
            const int r = composite ? OrvelInfoFile(kPort, key_a.data(), key_b.data(), dk1.data(), dk2.data())
                                    : OrvelAuth(kPort, key_a.data(), key_b.data(), dk1.data(), dk2.data());
            require(in_range(r, composite ? 3 : 2), "authentication result");
            check_output(dk1, r);
            check_output(dk2, r);
            check_frames();
            if (!composite) require(!sent_power(kPowerDownWire) && !sent_power(kPowerUpWire), "OrvelAuth power");
            if (composite && r == 1) require(!sent_power(kPowerDownWire), "OrvelInfoFile powered off on 1");
            check_success_had_reply(r);
            break;
        }
        case 24: {
            const std::uint8_t cla = a.byte(), p2 = a.byte();
            const auto code = a.bytes(8);
            const int r = OrvelVerify(kPort, cla, p2, code.data());
            require(in_range(r, 2), "OrvelVerify result");
            check_frames();
            check_power_down_rule(r);
            check_success_had_reply(r);
            break;
        }
        case 25: {
            const auto key = a.bytes(8);
            GuardedBuffer out(8);
            const int r = OrvelBCardRead(kPort, key.data(), out.data());
            require(in_range(r, 3), "OrvelBCardRead result");
            require(out.guards_intact(), "OrvelBCardRead wrote outside 8 bytes");
            if (r != 0) {
                require(out.untouched(4), "OrvelBCardRead wrote out[4..7] on failure");
                const bool head_cleared = out[0] == 0 && out[1] == 0 && out[2] == 0 && out[3] == 0;
                require(out.untouched() || head_cleared, "OrvelBCardRead out[0..3] neither kept nor cleared");
            }
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 26: {
            const auto master = a.bytes(8);
            GuardedBuffer key1(9), key2(9), serial(9);
            const int r = OrvelMakeSysKey(kPort, master.data(), key1.data(), key2.data(), serial.data());
            require(in_range(r, 2), "OrvelMakeSysKey result");
            check_output(key1, r);
            check_output(key2, r);
            check_output(serial, r);
            if (r == 0) {
                require(std::memcmp(key1.data(), key2.data(), 9) == 0, "system keys differ");
                const auto serial_text = hex_of(std::span(serial.data(), 8));
                const auto master_text = hex_of(master);
                std::array<char, 17> expected{};
                DESencrypt(serial_text.data(), expected.data(), master_text.data());
                const auto key_text = hex_of(std::span(key1.data(), 8));
                require(std::memcmp(expected.data(), key_text.data(), 16) == 0, "system key is not DES(serial)");
            }
            check_frames();
            check_success_had_reply(r);
            break;
        }
        case 27: {
            const auto key_a = a.bytes(8), key_b = a.bytes(8), master = a.bytes(8);
            const int r = OrvelChangeKey(kPort, key_a.data(), key_b.data(), master.data());
            require(in_range(r, 4), "OrvelChangeKey result");
            check_frames();
            if (r == 1) require(!sent_power(kPowerDownWire), "OrvelChangeKey powered off on 1");
            check_success_had_reply(r);
            break;
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::array<std::uint8_t, kHeaderBytes> header{};
    std::copy_n(data, std::min(size, kHeaderBytes), header.begin());
    const auto rest = std::span(data, size).subspan(std::min(size, kHeaderBytes));
    const auto pool = rest.first(std::min(rest.size(), kArgumentBytes));
    const auto line = rest.subspan(pool.size());

    const std::uint32_t write_failures = static_cast<std::uint32_t>(header[1]) |
                                         static_cast<std::uint32_t>(header[2]) << 8 |
                                         static_cast<std::uint32_t>(header[3]) << 16 |
                                         static_cast<std::uint32_t>(header[4]) << 24;
    fuzz_line::reset(line, write_failures);
    Arguments arguments(pool);
    run_command(header[0], arguments);
    return 0;
}
