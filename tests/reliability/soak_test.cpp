// Soak: commands drawn at random over the card command set, run through the
// real serial and card libraries against the simulated card, with line
// faults injected at random. Each result is checked against what its fault
// predicts, every fault-free command must get the right answer (no desync
// after a fault), and the card's files, balance and keys must match a model
// the test keeps.
//
// Every step is a power-up (fault-free: it also proves the line is in step)
// and one drawn command, whose replies may carry one fault.
#include <gtest/gtest.h>
#include <orvel.h>
#include <tarvex.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "sim/card.h"
#include "sim/crypto.h"
#include "sim/simulator.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using sim::Fault;
using sim::FaultKind;
using sim::Key8;

constexpr int kPort = 11;
// T = 0: one failed one-byte read costs 500 ms, a lost reply two of them.
constexpr int kReadTimeoutMs = 0;
constexpr auto kStall = 700ms;           // outlasts one read time-out, not two
constexpr auto kLate = 1300ms;           // outlasts the whole reply wait (1000 ms)
constexpr auto kSettle = 800ms;          // lets a late or twice-stalled reply land first
constexpr std::size_t kDataFileSize = 64;
constexpr std::uint8_t kDataFileShortId = 0x84;  // P1: short id 4 (file 0004)
constexpr std::uint32_t kMaxBalance = 0xFFFFFF;

// Status character 5 is the low digit of the reader status: corrupting it
// turns 00 into 01 and E7 into E8, both refusals.
constexpr std::size_t kStatusDigit = 5;

// What the test believes the card holds.
struct Model {
    Bytes data_file;
    std::uint32_t balance = 0;
    Key8 auth_a{}, auth_b{};
    Key8 mac_a{}, mac_b{}, code_key{};
    sim::Block8 serial{};
    Bytes card_data;  // file 0003
    Bytes record1;    // first record of file 0002
    Bytes status_block;
    std::set<std::uint16_t> file_ids;
    std::uint16_t next_file_id = 0x1000;  // files the soak creates
};

// How one command runs: its reply exchanges after the step's power-up, the
// result a lost reply at each gives, and the card-side effect of the
// exchanges that reached the card.
struct Plan {
    std::string name;
    std::vector<int> lost_reply_result;
    // Exchanges that the library follows at once with a send of its own
    // whose answer matters (a power-up retry): a late or twice-stalled reply
    // there would be read as that answer, which no line protocol can tell.
    std::vector<bool> answer_follows;
    int mac_exchange = -1;  // wrong response MAC here gives 5
    // Runs the command; on result 0 checks its outputs (adds failures).
    std::function<int(bool check_outputs)> run;
    // Applies what the first `handled` exchanges did to the card.
    std::function<void(Model&, std::size_t handled)> apply = [](Model&, std::size_t) {};
};

enum class Kind { none, no_reply, stall_once, stall_twice, cut_reply, reader_status, wrong_mac, corrupt_char, late_reply };
const char* kind_name(Kind k) {
    switch (k) {
        case Kind::none: return "none";
        case Kind::no_reply: return "no reply";
        case Kind::stall_once: return "stall once";
        case Kind::stall_twice: return "stall twice";
        case Kind::cut_reply: return "cut frame";
        case Kind::reader_status: return "refusing status";
        case Kind::wrong_mac: return "wrong MAC";
        case Kind::corrupt_char: return "corrupted character";
        case Kind::late_reply: return "late reply";
    }
    return "?";
}

Bytes bytes_of(const unsigned char* p, std::size_t n) { return Bytes(p, p + n); }

class Soak {
public:
    Soak(std::uint64_t seed, double fault_rate) : random_(seed), fault_rate_(fault_rate) {
        sim::SimulatorOptions options;
        options.random_seed = seed;
        options.keep_frames = 64;
        simulator_ = std::make_unique<sim::Simulator>(std::move(options));
        simulator_->map_port(kPort);
        const sim::CardState card = simulator_->card();
        model_.data_file = card.files.at(sim::kFileData).contents;
        model_.balance = card.balance;
        model_.auth_a = card.auth_key_a;
        model_.auth_b = card.auth_key_b;
        model_.mac_a = card.mac_key_a;
        model_.mac_b = card.mac_key_b;
        model_.code_key = card.code_key;
        model_.serial = card.serial;
        model_.card_data = card.files.at(sim::kFileCardData).contents;
        model_.record1 = card.files.at(sim::kFileRecords).records.at(0);
        model_.status_block = card.status_block;
        for (const auto& [id, file] : card.files) model_.file_ids.insert(id);
        COM_Initialize(kPort, 9600, 8, 'N', 1, kReadTimeoutMs);
        EXPECT_EQ(COM_Open(kPort), 1);
    }
    ~Soak() { COM_Close(kPort); }

    void run(std::size_t commands) {
        const auto started = std::chrono::steady_clock::now();
        for (std::size_t i = 0; i < commands && failures_ < kMaxFailures; ++i) step();
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        std::printf("soak: %zu commands in %.1f s, %zu faulted, %zu desyncs, %zu other failures\n", commands_,
                    seconds, faulted_, desyncs_, failures_ - desyncs_);
        for (const auto& [kind, count] : faults_by_kind_) std::printf("  %-20s %zu\n", kind_name(kind), count);
        for (const auto& [name, count] : commands_by_name_) std::printf("  %-20s %zu\n", name.c_str(), count);
        EXPECT_EQ(desyncs_, 0u);
        EXPECT_EQ(failures_, 0u);
    }

private:
    static constexpr std::size_t kMaxFailures = 10;

    std::uint8_t byte() { return static_cast<std::uint8_t>(random_() & 0xFF); }
    int between(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
    Bytes random_bytes(std::size_t n) {
        Bytes out(n);
        for (auto& b : out) b = byte();
        return out;
    }
    void fail(const std::string& what) {
        ++failures_;
        ADD_FAILURE() << "command " << commands_ << ": " << what;
    }

    Plan draw_plan();
    void step();

    std::mt19937_64 random_;
    double fault_rate_;
    std::unique_ptr<sim::Simulator> simulator_;
    Model model_;
    std::size_t commands_ = 0, faulted_ = 0, desyncs_ = 0, failures_ = 0;
    bool after_fault_ = false;
    std::size_t next_kind_ = 0;
    std::map<Kind, std::size_t> faults_by_kind_;
    std::map<std::string, std::size_t> commands_by_name_;
};

Plan Soak::draw_plan() {
    Model& m = model_;
    auto expect = [this](bool holds, const std::string& what) {
        if (!holds) fail(what);
        return holds;
    };
    switch (between(0, 20)) {  // 14 and above 20: the key change
        case 0: {
            static constexpr std::array<std::pair<std::uint8_t, std::size_t>, 6> kInfo = {
                {{0xA0, 8}, {0xA1, 8}, {0xA2, 8}, {0xA3, 4}, {0xA4, 13}, {0x06, 2}}};
            const auto entry = kInfo[static_cast<std::size_t>(between(0, 5))];
            const std::uint8_t p2 = entry.first;  // no captured structured bindings in clang 14
            const std::size_t le = entry.second;
            return {"OrvelGetInfo", {2}, {false}, -1, [this, p2, le, expect](bool check) {
                        std::array<unsigned char, 16> out{};
                        const int r = OrvelGetInfo(kPort, 0x80, 0x02, p2, out.data());
                        if (r == 0 && check) {
                            const sim::CardState card = simulator_->card();
                            const Bytes want = p2 == 0xA1 ? Bytes(card.serial.begin(), card.serial.end())
                                                          : card.info.at(p2);
                            expect(bytes_of(out.data(), le) == want && out[le] == 0, "information block");
                        }
                        return r;
                    }};
        }
        case 1: {
            static constexpr std::array<std::uint16_t, 6> kIds = {0x3F00, 0x3F01, 0x0003, 0x0004, 0x0005, 0x0006};
            const std::uint16_t id = kIds[static_cast<std::size_t>(between(0, 5))];
            return {"OrvelSelFil", {2, 4}, {false, false}, -1,
                    [id](bool) { return OrvelSelFil(kPort, 0x00, 0x00, 0x02, id); }};
        }
        case 2: {
            const int le = between(1, 32);
            const int offset = between(0, static_cast<int>(kDataFileSize) - le);
            return {"OrvelRdBin", {2}, {false}, -1, [&m, le, offset, expect](bool check) {
                        std::array<unsigned char, 64> out{};
                        const int r = OrvelRdBin(kPort, 0x00, kDataFileShortId, static_cast<std::uint8_t>(offset),
                                                 static_cast<std::uint8_t>(le), out.data());
                        if (r == 0 && check) {
                            const Bytes want(m.data_file.begin() + offset, m.data_file.begin() + offset + le);
                            expect(bytes_of(out.data(), static_cast<std::size_t>(le)) == want &&
                                       out[static_cast<std::size_t>(le)] == 0,
                                   "data read back");
                        }
                        return r;
                    }};
        }
        case 3:
        case 4:
        case 5: {
            const int kind = between(3, 5);  // plain, MAC, single exchange
            const int len = between(1, 24);
            const int offset = between(0, static_cast<int>(kDataFileSize) - len);
            const Bytes data = random_bytes(static_cast<std::size_t>(len));
            auto apply = [offset, data](Model& model, std::size_t handled) {
                if (handled >= 1) std::copy(data.begin(), data.end(), model.data_file.begin() + offset);
            };
            const auto p2 = static_cast<std::uint8_t>(offset);
            if (kind == 3)
                return {"OrvelUpdBin", {2, 4}, {false, false}, -1, [=](bool) {
                            return OrvelUpdBin(kPort, 0x00, kDataFileShortId, p2, len, data.data(), nullptr, nullptr);
                        }, apply};
            if (kind == 4)
                return {"OrvelUpdBin MAC", {2, 4}, {false, false}, 1, [=, &m](bool) {
                            return OrvelUpdBin(kPort, 0x04, kDataFileShortId, p2, len, data.data(), m.mac_a.data(),
                                               m.mac_b.data());
                        }, apply};
            return {"OrvelUpdBinPurse", {2}, {false}, -1, [=](bool) {
                        return OrvelUpdBinPurse(kPort, 0x00, kDataFileShortId, p2, len, data.data());
                    }, apply};
        }
        case 6: {
            const Bytes data = random_bytes(4);
            return {"OrvelRdBal", {2, 4}, {false, false}, -1, [&m, data, expect](bool check) {
                        std::array<unsigned char, 4> balance{}, tail{};
                        const int r = OrvelRdBal(kPort, 0x80, 0x01, data.data(), balance.data(), tail.data());
                        if (r == 0 && check) {
                            const std::uint32_t got = std::uint32_t{balance[0]} << 16 | balance[1] << 8 | balance[2];
                            expect(got == m.balance && balance[3] == 0,
                                   "balance " + std::to_string(got) + " expected " + std::to_string(m.balance));
                        }
                        return r;
                    }};
        }
        case 7: {
            const std::uint32_t amount = static_cast<std::uint32_t>(between(0, 3000));
            const Bytes data = random_bytes(8);
            const std::array<unsigned char, 3> bytes = {static_cast<unsigned char>(amount >> 16),
                                                        static_cast<unsigned char>(amount >> 8),
                                                        static_cast<unsigned char>(amount)};
            return {"OrvelCredit", {2}, {false}, -1,
                    [bytes, data](bool) { return OrvelCredit(kPort, 0x80, 0x00, bytes.data(), data.data()); },
                    [amount](Model& model, std::size_t handled) {
                        if (handled >= 1 && amount <= kMaxBalance - model.balance) model.balance += amount;
                    }};
        }
        case 8: {
            const int amount = between(0, 2500);
            const Bytes data = random_bytes(4);
            return {"OrvelDebit", {2, 4}, {false, false}, -1,
                    [amount, data](bool) {
                        std::array<unsigned char, 3> out{};
                        return OrvelDebit(kPort, 0x80, data.data(), amount, out.data());
                    },
                    [amount](Model& model, std::size_t handled) {
                        const auto a = static_cast<std::uint32_t>(amount);
                        if (handled >= 1 && a <= model.balance) model.balance -= a;
                    }};
        }
        case 9: {
            const Bytes data = random_bytes(8);
            return {"OrvelSelPK", {2, 4}, {false, false}, -1, [&m, data, expect](bool check) {
                        std::array<unsigned char, 5> head{};
                        std::array<unsigned char, 4> tail{};
                        const int r = OrvelSelPK(kPort, 0x80, 0x00, 0x02, 0x00, data.data(), head.data(), tail.data());
                        if (r == 0 && check) {
                            const std::uint32_t got = std::uint32_t{tail[0]} << 16 | tail[1] << 8 | tail[2];
                            expect(got == m.balance, "balance in the purse-key answer");
                        }
                        return r;
                    }};
        }
        case 10: {
            const sim::Block8 code = sim::crypto::des_encrypt(
                [&] { sim::Block8 b{}; std::copy_n(m.card_data.begin(), 8, b.begin()); return b; }(), m.code_key);
            return {"OrvelVerify", {2}, {false}, -1,
                    [code](bool) { return OrvelVerify(kPort, 0x00, 0x00, code.data()); }};
        }
        case 11:
            return {"OrvelInfoFile", {0, 2, 2, 3, 3}, {true, false, false, false, false}, -1,
                    [this, &m, expect](bool check) {
                        std::array<unsigned char, 9> dk1{}, dk2{};
                        const int r = OrvelInfoFile(kPort, m.auth_a.data(), m.auth_b.data(), dk1.data(), dk2.data());
                        if (r == 0 && check) {
                            const sim::CardState card = simulator_->card();
                            const auto answer = sim::answer_key_file_selection(card.last_card_random,
                                                                               card.last_challenge, m.auth_a, m.auth_b);
                            expect(bytes_of(dk1.data(), 8) == Bytes(answer.derived_key1.begin(), answer.derived_key1.end()) &&
                                       bytes_of(dk2.data(), 8) == Bytes(answer.derived_key2.begin(), answer.derived_key2.end()),
                                   "derived keys");
                        }
                        return r;
                    }};
        case 12:
            return {"OrvelBCardRead", {0, 1, 2, 3}, {true, false, false, false}, -1,
                    [&m, expect](bool check) {
                        std::array<unsigned char, 8> out{};
                        const int r = OrvelBCardRead(kPort, m.code_key.data(), out.data());
                        if (r == 0 && check) expect(bytes_of(out.data(), 8) == m.record1, "record read with the code");
                        return r;
                    }};
        case 13: {
            const Key8 master = [&] { Key8 k; for (auto& b : k) b = byte(); return k; }();
            return {"OrvelMakeSysKey", {0, 2}, {true, false}, -1, [&m, master, expect](bool check) {
                        std::array<unsigned char, 9> key1{}, key2{}, serial{};
                        const int r = OrvelMakeSysKey(kPort, master.data(), key1.data(), key2.data(), serial.data());
                        if (r == 0 && check) {
                            const auto want = sim::crypto::des_encrypt(m.serial, master);
                            expect(bytes_of(serial.data(), 8) == Bytes(m.serial.begin(), m.serial.end()) &&
                                       bytes_of(key1.data(), 8) == Bytes(want.begin(), want.end()) && key1 == key2,
                                   "system key");
                        }
                        return r;
                    }};
        }
        case 15: {
            const Bytes data = random_bytes(8);
            return {"OrvelSetStatus", {2, 4}, {false, false}, -1,
                    [data](bool) { return OrvelSetStatus(kPort, 0x08, data.data()); },
                    [data](Model& model, std::size_t handled) {
                        if (handled >= 1) model.status_block = data;
                    }};
        }
        case 16: {
            const auto p1 = byte(), p2 = byte();
            return {"OrvelSwrPrt", {2, 4}, {false, false}, -1,
                    [p1, p2](bool) { return OrvelSwrPrt(kPort, p1, p2); }};
        }
        case 17:
        case 18: {
            const bool follow_up = between(0, 1) == 0;
            const int len = between(1, 24);
            const int offset = between(0, static_cast<int>(kDataFileSize) - len);
            const Bytes data = random_bytes(static_cast<std::size_t>(len));
            const auto p2 = static_cast<std::uint8_t>(offset);
            const auto n = static_cast<std::uint8_t>(len);
            auto apply = [offset, data](Model& model, std::size_t handled) {
                if (handled >= 1) std::copy(data.begin(), data.end(), model.data_file.begin() + offset);
            };
            if (follow_up)
                return {"OrvelWrBin", {2, 4}, {false, false}, -1, [=](bool) {
                            return OrvelWrBin(kPort, 0x00, kDataFileShortId, p2, n, data.data(), nullptr, nullptr);
                        }, apply};
            return {"OrvelWrBinPurse", {2}, {false}, -1,
                    [=](bool) { return OrvelWrBinPurse(kPort, 0x00, kDataFileShortId, p2, n, data.data()); }, apply};
        }
        case 19: {
            const std::uint16_t id = m.next_file_id++;
            constexpr std::uint16_t kSize = 8;
            const Bytes contents = random_bytes(kSize);
            return {"OrvelCreate", {2, 4}, {false, false}, 1,
                    [&m, id, contents](bool) {
                        return OrvelCreate(kPort, 0x80, 0x01, 15 + kSize, id, 0x01, 0x00, kSize, 0x0000, 0x0000,
                                           0x0000, contents.data(), m.mac_a.data(), m.mac_b.data());
                    },
                    [id](Model& model, std::size_t handled) {
                        if (handled >= 1) model.file_ids.insert(id);
                    }};
        }
        case 20: {
            const Bytes a = random_bytes(3), b = random_bytes(3), c = random_bytes(3), d = random_bytes(3);
            return {"OrvelUpdatePurseValue", {1, 1, 2}, {false, false, false}, -1, [=](bool) {
                        return OrvelUpdatePurseValue(kPort, 0x00, sim::kFilePurseValue, 0x05, a.data(), b.data(),
                                                     c.data(), d.data());
                    }};
        }
        default: {
            const Key8 master = [&] { Key8 k; for (auto& b : k) b = byte(); return k; }();
            return {"OrvelChangeKey", {0, 2, 2, 2, 3, 4}, {true, false, false, false, false, false}, -1,
                    [&m, master](bool) { return OrvelChangeKey(kPort, m.auth_a.data(), m.auth_b.data(), master.data()); },
                    [master](Model& model, std::size_t handled) {
                        // Both key records reached the card: its key is the new system key.
                        if (handled >= 6) model.auth_a = model.auth_b = sim::crypto::des_encrypt(model.serial, master);
                    }};
        }
    }
}

void Soak::step() {
    if (Gcr400PowerOn(kPort) != 0) {
        if (after_fault_) ++desyncs_;
        fail("power-up before the command failed");
        return;
    }
    Plan plan = draw_plan();
    ++commands_;
    ++commands_by_name_[plan.name];
    const std::size_t exchanges = plan.lost_reply_result.size();
    const std::size_t base = simulator_->exchange_count();

    // Fault kinds take turns, so even a short run sees each of them; where
    // and when a fault strikes is drawn at random.
    static constexpr std::array<Kind, 8> kKinds = {Kind::no_reply, Kind::stall_once, Kind::stall_twice,
                                                   Kind::cut_reply, Kind::reader_status, Kind::wrong_mac,
                                                   Kind::corrupt_char, Kind::late_reply};
    Kind kind = Kind::none;
    std::size_t target = 0;
    const Kind turn = kKinds[next_kind_ % kKinds.size()];
    if (std::uniform_real_distribution<double>(0, 1)(random_) < fault_rate_ &&
        (turn != Kind::wrong_mac || plan.mac_exchange >= 0)) {
        kind = turn;
        ++next_kind_;
        if (kind == Kind::wrong_mac) {
            target = static_cast<std::size_t>(plan.mac_exchange);
        } else {
            std::vector<std::size_t> targets;
            for (std::size_t i = 0; i < exchanges; ++i)
                if (!(kind == Kind::late_reply || kind == Kind::stall_twice) || !plan.answer_follows[i])
                    targets.push_back(i);
            target = targets[static_cast<std::size_t>(between(0, static_cast<int>(targets.size()) - 1))];
        }
    }
    Fault fault;
    switch (kind) {
        case Kind::none: break;
        case Kind::no_reply: fault = Fault::no_reply(); break;
        case Kind::stall_once: fault = Fault::stall_once(kStall); break;
        case Kind::stall_twice: fault = Fault::stall_twice(kStall); break;
        case Kind::cut_reply: fault = Fault::cut_reply(static_cast<std::size_t>(between(0, 12))); break;
        case Kind::reader_status: {
            static constexpr std::array<std::uint8_t, 8> kRefusals = {0xF1, 0xF2, 0xF3, 0xF4, 0xF5, 0xF6, 0x01, 0x7F};
            fault = Fault::reader_status(kRefusals[static_cast<std::size_t>(between(0, 7))]);
            break;
        }
        case Kind::wrong_mac: fault = Fault::wrong_mac(); break;
        case Kind::corrupt_char: fault = Fault::corrupt_char(kStatusDigit); break;
        case Kind::late_reply: fault = Fault::late_reply(kLate); break;
    }
    if (kind != Kind::none) {
        simulator_->inject(base + 1 + target, fault);
        ++faulted_;
        ++faults_by_kind_[kind];
    }

    const int result = plan.run(kind == Kind::none);
    if (kind == Kind::late_reply || kind == Kind::stall_twice) std::this_thread::sleep_for(kSettle);

    // What the fault predicts.
    int expected = 0;
    std::size_t handled = exchanges;
    bool lost = kind == Kind::no_reply || kind == Kind::stall_twice || kind == Kind::cut_reply || kind == Kind::late_reply;
    if (kind == Kind::reader_status || kind == Kind::corrupt_char) {
        // The status rule still accepts a reply whose byte 3 is 0x61.
        bool accepted_anyway = false;
        for (const auto& frame : simulator_->frames())
            if (frame.number == base + 1 + target)
                accepted_anyway = frame.reply_block.size() > 3 && frame.reply_block[3] == 0x61;
        lost = !accepted_anyway;
    }
    if (lost) {
        expected = plan.lost_reply_result[target];
        // A composite's power-up is retried once: a lost first answer costs nothing.
        if (expected != 0) handled = target + 1;
    } else if (kind == Kind::wrong_mac) {
        expected = 5;
    }
    if (result != expected) {
        if (kind == Kind::none && after_fault_) ++desyncs_;
        fail(plan.name + " gave " + std::to_string(result) + ", expected " + std::to_string(expected) + " (fault " +
             kind_name(kind) + " on exchange " + std::to_string(target + 1) + ")");
    }
    plan.apply(model_, handled);

    const sim::CardState card = simulator_->card();
    if (card.balance != model_.balance)
        fail("card balance " + std::to_string(card.balance) + ", model " + std::to_string(model_.balance) + " after " + plan.name);
    if (card.files.at(sim::kFileData).contents != model_.data_file) fail("data file differs from the model after " + plan.name);
    if (card.status_block != model_.status_block) fail("status block differs from the model after " + plan.name);
    std::set<std::uint16_t> ids;
    for (const auto& [id, file] : card.files) ids.insert(id);
    if (ids != model_.file_ids) fail("file tree differs from the model after " + plan.name);
    if (card.auth_key_a != model_.auth_a || card.auth_key_b != model_.auth_b) fail("keys differ from the model after " + plan.name);
    after_fault_ = kind != Kind::none;
}

std::uint64_t seed_from_environment() {
    const char* text = std::getenv("ORVEL_SOAK_SEED");
    return text ? std::strtoull(text, nullptr, 0) : 20261211;
}

// The short form runs in the normal suite; the long one under the soak preset.
TEST(ReliabilitySoak, ShortRun) { Soak(seed_from_environment(), 0.035).run(2000); }
TEST(ReliabilitySoak, LongRun) { Soak(seed_from_environment(), 0.05).run(100000); }

}  // namespace
