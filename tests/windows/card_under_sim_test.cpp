// Card commands end to end through the shipped DLLs: Orvel calling Tarvex
// and Ciphon, Tarvex on the real serial API, the simulated reader and card on
// the far side of the line. The simulator is started with the card values
// below (line_driver.sh passes them); the commands count SW1 SW2 as success,
// so the tests check the bytes that came back, not just the result codes.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "ciphon.h"
#include "orvel.h"
#include "tarvex.h"

namespace {

// Must match the simulator's options in CMakeLists.txt.
constexpr std::array<unsigned char, 8> kSerial = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
constexpr std::array<unsigned char, 8> kAuthKeyA = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
constexpr std::array<unsigned char, 8> kAuthKeyB = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
// The card-data file, current after power-up, begins with these bytes.
constexpr std::array<unsigned char, 4> kCardDataStart = {0xC0, 0xDE, 0x00, 0x01};

constexpr unsigned char kClaPlain = 0x00;
constexpr unsigned char kClaProprietary = 0x80;
constexpr unsigned char kInfoP1 = 0x02;
constexpr unsigned char kInfoSerialNumber = 0xA1;

std::string hex(const unsigned char* bytes, std::size_t count) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::size_t i = 0; i < count; ++i) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 0x0F];
    }
    return out;
}

class CardUnderSim : public ::testing::Test {
protected:
    void SetUp() override {
        const char* value = std::getenv("ORVEL_TEST_PORT");
        if (value == nullptr || *value == '\0') GTEST_SKIP() << "needs the simulator: run through line_driver.sh";
        port_ = std::atoi(value);
        COM_Initialize(port_, 9600, 8, 'N', 1, 1000);
        ASSERT_EQ(COM_Open(port_), 1);
    }
    void TearDown() override {
        if (port_ >= 0) {
            Gcr400PowerOff(port_);
            COM_Close(port_);
        }
    }
    int port_ = -1;
};

TEST_F(CardUnderSim, PowerUpReadsInformationAndData) {
    ASSERT_EQ(Gcr400PowerOn(port_), 0);

    std::array<unsigned char, 16> info;
    info.fill(0xEE);
    ASSERT_EQ(OrvelGetInfo(port_, kClaProprietary, kInfoP1, kInfoSerialNumber, info.data()), 0);
    EXPECT_EQ(hex(info.data(), 8), hex(kSerial.data(), 8));
    EXPECT_EQ(info[8], 0x00);
    EXPECT_EQ(info[9], 0xEE) << "wrote past Le + 1 bytes";

    std::array<unsigned char, 9> data{};
    ASSERT_EQ(OrvelRdBin(port_, kClaPlain, 0x00, 0x00, 4, data.data()), 0);
    EXPECT_EQ(hex(data.data(), 4), hex(kCardDataStart.data(), 4));

    EXPECT_EQ(Gcr400PowerOff(port_), 0);
}

TEST_F(CardUnderSim, SystemKeyIsTheSerialUnderTheMasterKey) {
    constexpr std::array<unsigned char, 8> kMaster = {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};
    std::array<unsigned char, 9> key1, key2, serial;
    key1.fill(0xEE);
    key2.fill(0xEE);
    serial.fill(0xEE);
    ASSERT_EQ(OrvelMakeSysKey(port_, kMaster.data(), key1.data(), key2.data(), serial.data()), 0);
    EXPECT_EQ(hex(serial.data(), 9), hex(kSerial.data(), 8) + "00");

    // Independently through Ciphon.dll: DES of the serial under the master key.
    char expected[17] = {};
    ASSERT_EQ(DESencrypt(hex(kSerial.data(), 8).c_str(), expected, hex(kMaster.data(), 8).c_str()), 0);
    EXPECT_EQ(hex(key1.data(), 9), std::string(expected) + "00");
    EXPECT_EQ(hex(key2.data(), 9), std::string(expected) + "00");
}

struct AuthCase {
    const char* name;
    std::array<unsigned char, 8> key_b;
    int expected;
};

const AuthCase kAuthCases[] = {
    {"right_keys", kAuthKeyB, 0},
    // Not just the last bit: DES ignores each byte's parity bit.
    {"wrong_second_half", {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x28}, 3},
};

class Authentication : public CardUnderSim, public ::testing::WithParamInterface<AuthCase> {};

// The challenge comes from BCryptGenRandom; the card's cryptogram over it
// only matches under the card's own keys.
TEST_P(Authentication, InfoFileAuthenticates) {
    const AuthCase& c = GetParam();
    std::array<unsigned char, 9> d1, d2;
    d1.fill(0xEE);
    d2.fill(0xEE);
    EXPECT_EQ(OrvelInfoFile(port_, kAuthKeyA.data(), c.key_b.data(), d1.data(), d2.data()), c.expected);
    if (c.expected == 0) {
        EXPECT_EQ(d1[8], 0x00);
        EXPECT_NE(hex(d1.data(), 8), hex(d2.data(), 8));
    } else {
        EXPECT_EQ(hex(d1.data(), 9), std::string(18, 'E')) << "derived keys written on failure";
    }
}

INSTANTIATE_TEST_SUITE_P(Card, Authentication, ::testing::ValuesIn(kAuthCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
