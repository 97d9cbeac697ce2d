// System key derivation and key change against a scripted card: the system
// key and the key records computed independently with OpenSSL, the exact
// key-write blocks, the relations between the two records, and the card's
// power after every result.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <string>
#include <vector>

#include "auth_card_responder.h"
#include "auth_reference_crypto.h"
#include "card_line.h"
#include "line_faults.h"
#include "orvel.h"
#include "scripted_reader.h"

namespace card_test {
namespace {

using auth_reference::Block;
using auth_reference::Buffer9;
using auth_reference::kSentinel;
using auth_reference::sentinel_buffer;
using auth_reference::terminated;
using Record = std::array<std::uint8_t, 16>;

constexpr auto kUp = Step::power_up;
constexpr auto kDown = Step::power_down;
constexpr auto kInfo = Step::get_info;
constexpr auto kKey = Step::select_key_file;
constexpr auto kKeyGr = Step::key_file_response;
constexpr auto kWrite = Step::update_binary;

const Block kMasterKey{0x8C, 0xA6, 0x4D, 0xE9, 0xC1, 0xB1, 0x23, 0xA7};

// The record layout, built here from its definition.
Record plain_record(const Block& system_key, std::uint8_t p1, std::uint8_t p2) {
    Record r{};
    std::uint8_t x = 0;
    for (auto b : system_key) x ^= b;
    r[3] = static_cast<std::uint8_t>(~x);
    std::copy(system_key.begin(), system_key.end(), r.begin() + 4);
    r[12] = p1;
    r[13] = p2;
    const unsigned sum = std::accumulate(r.begin(), r.begin() + 14, 0u);
    r[14] = static_cast<std::uint8_t>(sum >> 8);
    r[15] = static_cast<std::uint8_t>(sum);
    return r;
}

// Each half on its own: D(k2, E(k1, D(k2, x))), and back with E(k2, D(k1, E(k2, y))).
Record encipher(const Record& plain, const auth_reference::SessionKeys& keys) {
    Record out;
    for (std::size_t half = 0; half < 16; half += 8) {
        const Block b = auth_reference::ded(keys.derived1, keys.derived2, std::span(plain).subspan(half, 8));
        std::copy(b.begin(), b.end(), out.begin() + half);
    }
    return out;
}

Record decipher(std::span<const std::uint8_t> enciphered, const auth_reference::SessionKeys& keys) {
    Record out;
    for (std::size_t half = 0; half < 16; half += 8) {
        const Block b = auth_reference::ede(keys.derived2, keys.derived1, enciphered.subspan(half, 8));
        std::copy(b.begin(), b.end(), out.begin() + half);
    }
    return out;
}

Bytes key_write_block(std::uint8_t p1, std::uint8_t p2, const Record& enciphered) {
    Bytes block{0x60, 0x16, 0xDA, 0x04, 0xD6, p1, p2, 0x10};
    block.insert(block.end(), enciphered.begin(), enciphered.end());
    return block;
}

class SystemKeyTest : public CardLineTest {
protected:
    Block system_key() const { return auth_reference::des_encrypt(kMasterKey, card.serial); }

    std::vector<Bytes> key_writes() const {
        std::vector<Bytes> writes;
        for (const auto& b : blocks()) {
            if (step_of(b) == kWrite) writes.push_back(b);
        }
        return writes;
    }

    ScriptedCard card;
};

// ---- OrvelMakeSysKey -----------------------------------------------------

TEST_F(SystemKeyTest, MakeSysKeyGivesTheSerialNumberUnderTheMasterKeyTwice) {
    card.attach(reader());
    Buffer9 key1 = sentinel_buffer(), key2 = sentinel_buffer(), serial = sentinel_buffer();

    ASSERT_EQ(OrvelMakeSysKey(kPort, kMasterKey.data(), key1.data(), key2.data(), serial.data()), 0);

    const auto sent = blocks();
    ASSERT_EQ(steps_of(sent), (std::vector<Step>{kUp, kInfo, kDown}));
    EXPECT_EQ(sent[1], (Bytes{0x60, 0x06, 0xDB, 0x80, 0xC0, 0x02, 0xA1, 0x08}));
    EXPECT_EQ(key1, terminated(system_key()));
    EXPECT_EQ(key2, key1);
    EXPECT_EQ(serial, terminated(card.serial));
}

struct MakeSysKeyCase {
    const char* name;
    Step refused;
    int times;
    int expected;
    std::vector<Step> conversation;
};
void PrintTo(const MakeSysKeyCase& c, std::ostream* os) { *os << c.name; }

class MakeSysKeyResultTest : public SystemKeyTest, public ::testing::WithParamInterface<MakeSysKeyCase> {};

TEST_P(MakeSysKeyResultTest, PowersOffWhateverHappened) {
    const auto& c = GetParam();
    card.refuse(c.refused, 1, c.times);
    card.attach(reader());
    Buffer9 key1 = sentinel_buffer(), key2 = sentinel_buffer(), serial = sentinel_buffer();

    EXPECT_EQ(OrvelMakeSysKey(kPort, kMasterKey.data(), key1.data(), key2.data(), serial.data()), c.expected);
    EXPECT_EQ(steps_of(blocks()), c.conversation);
    if (c.expected == 0) {
        EXPECT_EQ(key1, terminated(system_key()));
    } else {
        EXPECT_EQ(key1, sentinel_buffer());
        EXPECT_EQ(key2, sentinel_buffer());
        EXPECT_EQ(serial, sentinel_buffer());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, MakeSysKeyResultTest,
    ::testing::Values(MakeSysKeyCase{"power_up_retried_once", kUp, 1, 0, {kUp, kUp, kInfo, kDown}},
                      // Powered off even though the power-up failed.
                      MakeSysKeyCase{"power_up_fails_twice", kUp, 2, 1, {kUp, kUp, kDown}},
                      MakeSysKeyCase{"serial_read_refused", kInfo, 1, 2, {kUp, kInfo, kDown}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- OrvelChangeKey ------------------------------------------------------

TEST_F(SystemKeyTest, ChangeKeyWritesBothRecordsEncipheredUnderTheSessionKeys) {
    card.attach(reader());

    ASSERT_EQ(OrvelChangeKey(kPort, card.key_a.data(), card.key_b.data(), kMasterKey.data()), 0);

    EXPECT_EQ(steps_of(blocks()), (std::vector<Step>{kUp, kInfo, kKey, kKeyGr, kWrite, kWrite, kDown}));
    const auto keys = card.session_keys();
    const auto writes = key_writes();
    ASSERT_EQ(writes.size(), 2u);
    EXPECT_EQ(writes[0], key_write_block(0x81, 0x00, encipher(plain_record(system_key(), 0x81, 0x00), keys)));
    EXPECT_EQ(writes[1], key_write_block(0x00, 0x03, encipher(plain_record(system_key(), 0x00, 0x03), keys)));
}

TEST_F(SystemKeyTest, ChangeKeyRecordsCarryWhatMakeSysKeyDerives) {
    card.attach(reader());
    Buffer9 key1 = sentinel_buffer(), key2 = sentinel_buffer(), serial = sentinel_buffer();
    ASSERT_EQ(OrvelMakeSysKey(kPort, kMasterKey.data(), key1.data(), key2.data(), serial.data()), 0);
    reader().reset();
    ASSERT_EQ(OrvelChangeKey(kPort, card.key_a.data(), card.key_b.data(), kMasterKey.data()), 0);

    const auto keys = card.session_keys();
    const auto writes = key_writes();
    ASSERT_EQ(writes.size(), 2u);
    const Record first = decipher(std::span(writes[0]).subspan(8), keys);
    const Record second = decipher(std::span(writes[1]).subspan(8), keys);

    EXPECT_TRUE(std::equal(key1.begin(), key1.begin() + 8, first.begin() + 4));
    EXPECT_TRUE(std::equal(key1.begin(), key1.begin() + 8, second.begin() + 4));
    // Equal check bytes and keys; only P1 P2 and the sum differ, by 0x81 + 0x00
    // against 0x00 + 0x03.
    EXPECT_TRUE(std::equal(first.begin(), first.begin() + 12, second.begin()));
    const int first_sum = first[14] << 8 | first[15];
    const int second_sum = second[14] << 8 | second[15];
    EXPECT_EQ(first_sum - second_sum, 0x7E);
    // No chaining: the first enciphered halves are the same in both writes.
    EXPECT_TRUE(std::equal(writes[0].begin() + 8, writes[0].begin() + 16, writes[1].begin() + 8));
}

struct ChangeKeyCase {
    const char* name;
    std::vector<std::pair<Step, int>> refused;  // step, occurrence
    int up_refusals;
    int fail_write_after;  // -1: no write fails
    bool wrong_key;
    int expected;
    std::vector<Step> conversation;
};
void PrintTo(const ChangeKeyCase& c, std::ostream* os) { *os << c.name; }

class ChangeKeyResultTest : public SystemKeyTest, public ::testing::WithParamInterface<ChangeKeyCase> {};

TEST_P(ChangeKeyResultTest, ResultAndPowerState) {
    const auto& c = GetParam();
    for (const auto& [step, occurrence] : c.refused) card.refuse(step, occurrence);
    if (c.up_refusals > 0) card.refuse(kUp, 1, c.up_refusals);
    if (c.fail_write_after >= 0) fail_writes(1, c.fail_write_after);
    card.attach(reader());
    Block key_a = card.key_a;
    if (c.wrong_key) key_a[3] ^= 0x40;

    EXPECT_EQ(OrvelChangeKey(kPort, key_a.data(), card.key_b.data(), kMasterKey.data()), c.expected);
    EXPECT_EQ(steps_of(blocks()), c.conversation);
}

INSTANTIATE_TEST_SUITE_P(
    Results, ChangeKeyResultTest,
    ::testing::Values(
        ChangeKeyCase{"power_up_retried_once", {}, 1, -1, false, 0,
                      {kUp, kUp, kInfo, kKey, kKeyGr, kWrite, kWrite, kDown}},
        // Not powered off after a failed power-up.
        ChangeKeyCase{"power_up_fails_twice", {}, 2, -1, false, 1, {kUp, kUp}},
        ChangeKeyCase{"serial_read_refused", {{kInfo, 1}}, 0, -1, false, 2, {kUp, kInfo, kDown}},
        // A failed authentication leaves the card powered.
        ChangeKeyCase{"authentication_fails", {}, 0, -1, true, 2, {kUp, kInfo, kKey, kKeyGr}},
        ChangeKeyCase{"key_file_selection_refused", {{kKey, 1}}, 0, -1, false, 2, {kUp, kInfo, kKey}},
        // The key write powers the card off itself.
        ChangeKeyCase{"first_write_refused", {{kWrite, 1}}, 0, -1, false, 3, {kUp, kInfo, kKey, kKeyGr, kWrite, kDown}},
        ChangeKeyCase{"first_write_send_fails", {}, 0, 4, false, 3, {kUp, kInfo, kKey, kKeyGr, kDown}},
        ChangeKeyCase{"second_write_refused", {{kWrite, 2}}, 0, -1, false, 4,
                      {kUp, kInfo, kKey, kKeyGr, kWrite, kWrite, kDown}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace card_test
