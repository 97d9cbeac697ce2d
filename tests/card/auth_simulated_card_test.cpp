// Authentication, the composite card read, system key derivation and the key
// change end to end against the simulated reader and card. Expected keys are
// computed with OpenSSL from what the card drew and holds.
#include <gtest/gtest.h>

#ifdef ORVEL_HAVE_SIM

#include <algorithm>
#include <array>
#include <memory>
#include <string>
#include <vector>

#include "auth_reference_crypto.h"
#include "orvel.h"
#include "sim/simulator.h"
#include "tarvex.h"

namespace {

using auth_reference::Block;
using auth_reference::Buffer9;
using auth_reference::kSentinel;
using auth_reference::sentinel_buffer;
using auth_reference::terminated;

constexpr int kPort = 9;
constexpr int kReadTimeoutMs = 50;

// The default simulated card's keys.
const Block kAuthKeyA{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
const Block kAuthKeyB{0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
const Block kMacKeyA{0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28};
const Block kMacKeyB{0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38};
const Block kCodeKey{0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};
const Block kMasterKey{0x8C, 0xA6, 0x4D, 0xE9, 0xC1, 0xB1, 0x23, 0xA7};

// The key-file selection's answer: a card-output exchange with CLA 0x80 INS
// 0xC0. In its reply text, characters 6 and on spell the cryptogram.
const sim::FrameMatch kKeyFileAnswer{0xDB, 0x80, 0xC0};
constexpr std::size_t kCryptogramText = 6;

class SimulatedAuthTest : public ::testing::Test {
protected:
    void SetUp() override {
        sim_ = std::make_unique<sim::Simulator>();
        sim_->map_port(kPort);
        COM_Initialize(kPort, 9600, 8, 'N', 1, kReadTimeoutMs);
        ASSERT_EQ(COM_Open(kPort), 1);
    }
    void TearDown() override {
        COM_Close(kPort);
        sim_.reset();
    }

    int authenticate(const Block& key_a, const Block& key_b) {
        return OrvelAuth(kPort, key_a.data(), key_b.data(), derived1.data(), derived2.data());
    }

    // The session keys as computed from the random the card drew last.
    auth_reference::SessionKeys expected_keys(const Block& key_a, const Block& key_b) const {
        const auto state = sim_->card();
        return auth_reference::derive_session_keys(key_a, key_b, state.last_card_random);
    }

    std::unique_ptr<sim::Simulator> sim_;
    Buffer9 derived1 = sentinel_buffer();
    Buffer9 derived2 = sentinel_buffer();
};

TEST_F(SimulatedAuthTest, AuthenticationReturnsTheKeysDerivedFromTheCardRandom) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    ASSERT_EQ(authenticate(kAuthKeyA, kAuthKeyB), 0);

    const auto keys = expected_keys(kAuthKeyA, kAuthKeyB);
    EXPECT_EQ(derived1, terminated(keys.derived1));
    EXPECT_EQ(derived2, terminated(keys.derived2));
    // The card computed the same session keys on its side.
    const auto state = sim_->card();
    EXPECT_TRUE(std::equal(keys.derived1.begin(), keys.derived1.end(), state.session_key1.begin()));
    EXPECT_TRUE(std::equal(keys.derived2.begin(), keys.derived2.end(), state.session_key2.begin()));
    EXPECT_TRUE(state.powered);  // OrvelAuth leaves the power alone
}

TEST_F(SimulatedAuthTest, WrongKeyGivesTwoAndLeavesBothBuffers) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    Block wrong = kAuthKeyB;
    wrong[2] ^= 0x20;
    EXPECT_EQ(authenticate(kAuthKeyA, wrong), 2);
    EXPECT_EQ(derived1, sentinel_buffer());
    EXPECT_EQ(derived2, sentinel_buffer());
    EXPECT_TRUE(sim_->card().powered);
}

TEST_F(SimulatedAuthTest, TwoCallsSendDifferentChallenges) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    ASSERT_EQ(authenticate(kAuthKeyA, kAuthKeyB), 0);
    const Block first = sim_->card().last_challenge;
    ASSERT_EQ(authenticate(kAuthKeyA, kAuthKeyB), 0);
    const Block second = sim_->card().last_challenge;
    EXPECT_NE(first, second);
}

// Every byte of the cryptogram counts: it must equal bytes 4..7 of the check
// value.
class SimulatedCryptogramTest : public SimulatedAuthTest, public ::testing::WithParamInterface<int> {};

TEST_P(SimulatedCryptogramTest, ACorruptedCryptogramByteGivesTwo) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    sim_->inject_on(kKeyFileAnswer, sim::Fault::corrupt_char(kCryptogramText + 2 * GetParam()));
    EXPECT_EQ(authenticate(kAuthKeyA, kAuthKeyB), 2);
    EXPECT_EQ(derived1, sentinel_buffer());
    EXPECT_EQ(derived2, sentinel_buffer());
    const auto frames = sim_->frames();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(frames.back().fault.kind, sim::FaultKind::corrupt_char);
    // The next, clean answer is accepted again.
    EXPECT_EQ(authenticate(kAuthKeyA, kAuthKeyB), 0);
}

INSTANTIATE_TEST_SUITE_P(CryptogramByte, SimulatedCryptogramTest, ::testing::Values(0, 1, 2, 3));

TEST_F(SimulatedAuthTest, InfoFileAuthenticatesAndLeavesTheCardPowered) {
    ASSERT_EQ(OrvelInfoFile(kPort, kAuthKeyA.data(), kAuthKeyB.data(), derived1.data(), derived2.data()), 0);
    const auto keys = expected_keys(kAuthKeyA, kAuthKeyB);
    EXPECT_EQ(derived1, terminated(keys.derived1));
    EXPECT_EQ(derived2, terminated(keys.derived2));
    const auto state = sim_->card();
    EXPECT_TRUE(state.powered);
    EXPECT_EQ(state.current_df, sim::kFileApplication);
}

TEST_F(SimulatedAuthTest, CardReadPresentsTheCodeAndReadsTheProtectedRecord) {
    std::array<unsigned char, 8> out;
    out.fill(kSentinel);
    ASSERT_EQ(OrvelBCardRead(kPort, kCodeKey.data(), out.data()), 0);
    const auto state = sim_->card();
    const auto& record = state.files.at(sim::kFileRecords).records.at(0);
    EXPECT_TRUE(std::equal(out.begin(), out.end(), record.begin()));
    EXPECT_FALSE(state.powered);
}

TEST_F(SimulatedAuthTest, MakeSysKeyIsTheSerialNumberUnderTheMasterKey) {
    Buffer9 key1 = sentinel_buffer(), key2 = sentinel_buffer(), serial = sentinel_buffer();
    ASSERT_EQ(OrvelMakeSysKey(kPort, kMasterKey.data(), key1.data(), key2.data(), serial.data()), 0);
    const auto state = sim_->card();
    EXPECT_EQ(serial, terminated(state.serial));
    EXPECT_EQ(key1, terminated(auth_reference::des_encrypt(kMasterKey, state.serial)));
    EXPECT_EQ(key2, key1);
    EXPECT_FALSE(state.powered);
}

// A whole session: authenticate, write under the MAC, change the key, and
// authenticate again under the new key.
TEST_F(SimulatedAuthTest, SessionWithKeyChangeAndReauthentication) {
    constexpr std::uint16_t kDataFile = 0x0004;
    ASSERT_EQ(OrvelInfoFile(kPort, kAuthKeyA.data(), kAuthKeyB.data(), derived1.data(), derived2.data()), 0);
    ASSERT_EQ(OrvelSelFil(kPort, 0x02, 0x00, 0x02, kDataFile), 0);
    const std::array<unsigned char, 4> data{0xCA, 0xFE, 0xF0, 0x0D};
    ASSERT_EQ(OrvelUpdBin(kPort, 0x04, 0x00, 0x00, 4, data.data(), kMacKeyA.data(), kMacKeyB.data()), 0);
    EXPECT_TRUE(std::equal(data.begin(), data.end(), sim_->card().files.at(kDataFile).contents.begin()));

    ASSERT_EQ(OrvelChangeKey(kPort, kAuthKeyA.data(), kAuthKeyB.data(), kMasterKey.data()), 0);
    Buffer9 key1 = sentinel_buffer(), key2 = sentinel_buffer(), serial = sentinel_buffer();
    ASSERT_EQ(OrvelMakeSysKey(kPort, kMasterKey.data(), key1.data(), key2.data(), serial.data()), 0);
    const auto state = sim_->card();
    ASSERT_TRUE(state.system_key.has_value());
    EXPECT_TRUE(std::equal(key1.begin(), key1.begin() + 8, state.system_key->begin()));
    EXPECT_FALSE(state.powered);

    // The card now takes the system key as both halves of its key.
    Block new_key;
    std::copy_n(key1.begin(), 8, new_key.begin());
    EXPECT_EQ(OrvelInfoFile(kPort, kAuthKeyA.data(), kAuthKeyB.data(), derived1.data(), derived2.data()), 3);
    EXPECT_FALSE(sim_->card().powered);
    ASSERT_EQ(OrvelInfoFile(kPort, new_key.data(), new_key.data(), derived1.data(), derived2.data()), 0);
    const auto keys = expected_keys(new_key, new_key);
    EXPECT_EQ(derived1, terminated(keys.derived1));
    // Equal halves: both derived keys are single DES of the card random.
    EXPECT_EQ(keys.derived1, auth_reference::des_encrypt(new_key, sim_->card().last_card_random));
    EXPECT_EQ(derived2, derived1);
}

}  // namespace

#else
TEST(SimulatedAuth, NeedsTheSimulator) { GTEST_SKIP() << "built without the simulator"; }
#endif
