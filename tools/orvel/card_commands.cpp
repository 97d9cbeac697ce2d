#include "card_commands.h"

#include <orvel.h>

#include <array>
#include <cstdio>

namespace orvel::tool {

namespace {

constexpr std::size_t kReplyBufferSize = 128;
constexpr std::size_t kCommandBufferSize = kMaxCommandBlock + 2;  // room for the check character and a zero
constexpr std::size_t kReplyLnOffset = 1;
constexpr std::size_t kReplyHeaderSize = 2;  // block start and LN, which LN does not count
constexpr int kNoCompleteReply = 1;          // OrvelRcvFrame: nothing decoded

std::string hex4(unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, "%04X", value & 0xFFFFu);
    return text;
}

std::string hex2(unsigned value) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", value & 0xFFu);
    return text;
}

Bytes first_bytes(const std::uint8_t* data, std::size_t n) { return Bytes(data, data + n); }

long long big_endian(const Bytes& bytes) {
    long long v = 0;
    for (auto b : bytes) v = v * 256 + b;
    return v;
}

}  // namespace

std::size_t info_length_for(std::uint8_t p2) {
    switch (p2) {
    case 0xA0:
    case 0xA1:
    case 0xA2: return 8;
    case 0xA3: return 4;
    case 0xA4: return 13;
    case 0x06: return 2;
    default: return 0;
    }
}

StepResult power_on(const CardLine& line) {
    return run_step("power the card up", "Gcr400PowerOn", [&](auto&) { return Gcr400PowerOn(line.port); }, line.frames);
}

StepResult power_off(const CardLine& line) {
    return run_step("power the card down", "Gcr400PowerOff", [&](auto&) { return Gcr400PowerOff(line.port); }, line.frames);
}

StepResult get_info(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, const std::string& what) {
    return run_step(
        what, "OrvelGetInfo",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, 16> out{};
            int code = OrvelGetInfo(line.port, cla, p1, p2, out.data());
            if (code == 0) values.push_back({p2 == 0xA1 && p1 == 0x02 ? "serial" : "info", first_bytes(out.data(), info_length_for(p2)), {}});
            return code;
        },
        line.frames);
}

StepResult select_file(const CardLine& line, std::uint8_t p1, std::uint8_t p2, std::uint8_t p3, std::uint16_t file_id) {
    return run_step(
        "select file " + hex4(file_id), "OrvelSelFil",
        [&](auto&) { return OrvelSelFil(line.port, p1, p2, p3, file_id); }, line.frames);
}

namespace {

StepResult read_step(const CardLine& line, const std::string& action, const std::string& function, bool record,
                     std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, std::uint8_t le) {
    return run_step(
        action, function,
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, kMaxReadLength + 1> out{};
            int code = record ? OrvelRdRec(line.port, cla, p1, p2, le, out.data())
                              : OrvelRdBin(line.port, cla, p1, p2, le, out.data());
            if (code == 0) values.push_back({"data", first_bytes(out.data(), le), {}});
            return code;
        },
        line.frames);
}

}  // namespace

StepResult read_binary(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, std::uint8_t le) {
    return read_step(line, "read " + std::to_string(le) + " bytes at offset " + hex2(p1) + hex2(p2), "OrvelRdBin", false,
                     cla, p1, p2, le);
}

StepResult read_record(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, std::uint8_t le) {
    return read_step(line, "read record " + std::to_string(p1) + " (P2 " + hex2(p2) + ")", "OrvelRdRec", true, cla, p1,
                     p2, le);
}

StepResult update_binary(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint8_t p2, const Bytes& data,
                         const Key* mac_key_a, const Key* mac_key_b) {
    bool with_mac = mac_key_a && mac_key_b;
    std::string action = "write " + std::to_string(data.size()) + " bytes at " + hex2(p1) + hex2(p2) +
                         (with_mac ? " with MAC" : "");
    StepResult step = run_step(
        action, "OrvelUpdBin",
        [&](std::vector<StepValue>& values) {
            static constexpr std::array<std::uint8_t, 8> kUnusedKey{};
            const std::uint8_t* key_a = with_mac ? mac_key_a->data() : kUnusedKey.data();
            const std::uint8_t* key_b = with_mac ? mac_key_b->data() : kUnusedKey.data();
            int code = OrvelUpdBin(line.port, with_mac ? kClaMacProtected : cla, p1, p2, static_cast<int>(data.size()),
                                   data.data(), key_a, key_b);
            values.push_back({"data", data, {}});
            return code;
        },
        line.frames);
    if (!with_mac && step.code == 0) step.meaning = "written";
    return step;
}

StepResult read_balance(const CardLine& line, std::uint8_t cla, std::uint8_t p2, const Bytes& data4) {
    return run_step(
        "read the balance", "OrvelRdBal",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, 4> balance{};
            std::array<std::uint8_t, 3> tail{};
            int code = OrvelRdBal(line.port, cla, p2, data4.data(), balance.data(), tail.data());
            if (code == 0) {
                Bytes b = first_bytes(balance.data(), 3);
                values.push_back({"balance", b, big_endian(b)});
                values.push_back({"tail", first_bytes(tail.data(), 2), {}});
            }
            return code;
        },
        line.frames);
}

StepResult credit(const CardLine& line, std::uint8_t cla, std::uint8_t p1, std::uint32_t amount, const Bytes& data8) {
    return run_step(
        "credit " + std::to_string(amount), "OrvelCredit",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, 3> amount_bytes = {static_cast<std::uint8_t>(amount >> 16),
                                                        static_cast<std::uint8_t>(amount >> 8),
                                                        static_cast<std::uint8_t>(amount)};
            values.push_back({"amount", Bytes(amount_bytes.begin(), amount_bytes.end()), amount});
            return OrvelCredit(line.port, cla, p1, amount_bytes.data(), data8.data());
        },
        line.frames);
}

StepResult debit(const CardLine& line, std::uint8_t cla, const Bytes& data4, int amount) {
    return run_step(
        "debit " + std::to_string(amount), "OrvelDebit",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, 3> out{};
            int code = OrvelDebit(line.port, cla, data4.data(), amount, out.data());
            if (code == 0) values.push_back({"readerStatus", first_bytes(out.data(), 2), {}});
            return code;
        },
        line.frames);
}

StepResult update_purse_value(const CardLine& line, std::uint8_t mark, std::uint16_t file_id, std::uint8_t short_id,
                              const Bytes& a, const Bytes& b, const Bytes& c, const Bytes& d) {
    return run_step(
        "write the purse-value record of " + hex4(file_id), "OrvelUpdatePurseValue",
        [&](std::vector<StepValue>& values) {
            values.push_back({"values", [&] {
                                  Bytes all;
                                  for (const Bytes* v : {&a, &b, &c, &d}) all.insert(all.end(), v->begin(), v->end());
                                  return all;
                              }(),
                              {}});
            return OrvelUpdatePurseValue(line.port, mark, file_id, short_id, a.data(), b.data(), c.data(), d.data());
        },
        line.frames);
}

namespace {

StepResult auth_step(const CardLine& line, const Key& key_a, const Key& key_b, const std::string& action, bool info_file) {
    return run_step(
        action, info_file ? "OrvelInfoFile" : "OrvelAuth",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, 9> key1{};
            std::array<std::uint8_t, 9> key2{};
            int code = info_file ? OrvelInfoFile(line.port, key_a.data(), key_b.data(), key1.data(), key2.data())
                                 : OrvelAuth(line.port, key_a.data(), key_b.data(), key1.data(), key2.data());
            if (code == 0) {
                values.push_back({"sessionKey1", first_bytes(key1.data(), 8), {}});
                values.push_back({"sessionKey2", first_bytes(key2.data(), 8), {}});
            }
            return code;
        },
        line.frames);
}

}  // namespace

StepResult authenticate(const CardLine& line, const Key& key_a, const Key& key_b, const std::string& action) {
    return auth_step(line, key_a, key_b, action, false);
}

StepResult authenticate_3f01(const CardLine& line, const Key& key_a, const Key& key_b, const std::string& action) {
    return auth_step(line, key_a, key_b, action, true);
}

StepResult make_system_key(const CardLine& line, const Key& master) {
    return run_step(
        "derive the system key", "OrvelMakeSysKey",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, 9> key1{};
            std::array<std::uint8_t, 9> key2{};
            std::array<std::uint8_t, 9> serial{};
            int code = OrvelMakeSysKey(line.port, master.data(), key1.data(), key2.data(), serial.data());
            if (code == 0) {
                values.push_back({"serial", first_bytes(serial.data(), 8), {}});
                values.push_back({"systemKey", first_bytes(key1.data(), 8), {}});
            }
            return code;
        },
        line.frames);
}

StepResult change_key(const CardLine& line, const Key& key_a, const Key& key_b, const Key& master) {
    return run_step(
        "change the key", "OrvelChangeKey",
        [&](std::vector<StepValue>&) { return OrvelChangeKey(line.port, key_a.data(), key_b.data(), master.data()); },
        line.frames);
}

StepResult verify(const CardLine& line, std::uint8_t cla, std::uint8_t p2, const Bytes& code8) {
    return run_step(
        "present a code", "OrvelVerify",
        [&](std::vector<StepValue>& values) {
            values.push_back({"code", code8, {}});
            return OrvelVerify(line.port, cla, p2, code8.data());
        },
        line.frames);
}

StepResult send_frame(const CardLine& line, const Bytes& block) {
    if (line.frames) line.frames->take_frames();
    StepResult sent = run_step(
        "send a " + std::to_string(block.size()) + "-byte block", "OrvelSendFrame",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, kCommandBufferSize> buffer{};
            std::copy(block.begin(), block.end(), buffer.begin());
            int code = OrvelSendFrame(line.port, buffer.data(), static_cast<int>(block.size()));
            values.push_back({"block", first_bytes(buffer.data(), block.size() + 1), {}});  // with its check character
            return code;
        },
        nullptr);
    if (!sent.ok) return sent;
    StepResult received = run_step(
        "send a " + std::to_string(block.size()) + "-byte block and read the reply", "OrvelRcvFrame",
        [&](std::vector<StepValue>& values) {
            std::array<std::uint8_t, kReplyBufferSize> reply{};
            int code = OrvelRcvFrame(line.port, reply.data());
            values.push_back(sent.values.front());
            if (code != kNoCompleteReply) {
                // The reply's own LN says how long it is; the check character follows.
                std::size_t length =
                    std::min<std::size_t>(reply[kReplyLnOffset] + kReplyHeaderSize + 1, kReplyBufferSize - 1);
                values.push_back({"reply", first_bytes(reply.data(), length), {}});
            }
            return code;
        },
        nullptr);
    received.milliseconds += sent.milliseconds;
    if (line.frames) received.frames = line.frames->take_frames();
    return received;
}

}  // namespace orvel::tool
