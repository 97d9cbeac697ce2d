// The shipped library on pseudo-terminals: open and close, transfers and their
// time-outs, queues, the receive event and ACK_Check, end to end.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "tarvex.h"

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing_support::map_port;
using testing_support::PtyPair;
using testing_support::unmap_port;
using Bytes = std::vector<std::uint8_t>;

constexpr long long kLateMarginMs = 400;
constexpr unsigned char kAck = 0x06, kNak = 0x15;

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

class PtyPort : public testing::Test {
protected:
    static constexpr int kPort = 5;
    static constexpr int kReadTimeoutMs = 100;

    void SetUp() override {
        map_port(kPort, pty_.slave_path());
        COM_Initialize(kPort, 9600, 8, 'N', 1, kReadTimeoutMs);
    }
    void TearDown() override {
        COM_Close(kPort);
        unmap_port(kPort);
    }

    void open() { ASSERT_EQ(COM_Open(kPort), 1); }

    // pty delivery is asynchronous: wait until the receive queue holds n.
    static bool wait_rx(std::uint32_t n) {
        const auto until = Clock::now() + milliseconds(2000);
        while (Clock::now() < until) {
            if (Get_RxBufferSize(kPort) == n) return true;
            std::this_thread::sleep_for(milliseconds(2));
        }
        return false;
    }

    PtyPair pty_;
};

TEST_F(PtyPort, OpenTwiceCloseReopen) {
    open();
    EXPECT_TRUE(IsOpened(kPort));
    EXPECT_NE(GetCommHandle(kPort), nullptr);
    EXPECT_EQ(COM_Open(kPort), -99);
    EXPECT_TRUE(IsOpened(kPort));
    EXPECT_TRUE(COM_Close(kPort));
    EXPECT_FALSE(IsOpened(kPort));
    EXPECT_EQ(GetCommHandle(kPort), nullptr);
    EXPECT_TRUE(COM_Close(kPort));
    EXPECT_EQ(COM_Open(kPort), 1) << "the device was released";
}

TEST_F(PtyPort, SameDeviceUnderAnotherPortNumberIsBusy) {
    open();
    constexpr int kOther = 6;
    map_port(kOther, pty_.slave_path());
    EXPECT_EQ(COM_Open(kOther), 0);
    EXPECT_FALSE(IsOpened(kOther));
    unmap_port(kOther);
}

TEST_F(PtyPort, NonexistentDeviceGivesZero) {
    constexpr int kMissing = 9;
    map_port(kMissing, "/nonexistent/tty");
    EXPECT_EQ(COM_Open(kMissing), 0);
    EXPECT_FALSE(IsOpened(kMissing));
    EXPECT_EQ(GetCommHandle(kMissing), nullptr);
    unmap_port(kMissing);
    unmap_port(0);
    EXPECT_EQ(COM_Open(0), 0) << "COM0 without a mapping names no device";
}

struct RefusedCase {
    const char* name;
    int data_bits;
    char parity;
    char stop_bits;
};

class RefusedAtOpen : public PtyPort, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedAtOpen, GivesMinusOneAndClosesAgain) {
    const auto& c = GetParam();
    COM_Initialize(kPort, 9600, c.data_bits, c.parity, c.stop_bits, 0);
    EXPECT_EQ(COM_Open(kPort), -1);
    EXPECT_FALSE(IsOpened(kPort));
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    EXPECT_EQ(COM_Open(kPort), 1) << "the refused open released the device";
}

INSTANTIATE_TEST_SUITE_P(Table, RefusedAtOpen,
                         testing::Values(RefusedCase{"ByteSizeZero", 0, 'N', 1},
                                         RefusedCase{"OneAndHalfStopBitsWithEight", 8, 'N', 0},
                                         RefusedCase{"SevenBitsOnPty", 7, 'N', 1},
                                         RefusedCase{"EvenParityOnPty", 8, 'E', 1}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(PtyPort, SettingRefusedKeepsThePortWorking) {
    open();
    EXPECT_EQ(COM_Setting(kPort, 9600, 7, 'N', 1, kReadTimeoutMs), -1);
    EXPECT_TRUE(IsOpened(kPort));
    EXPECT_EQ(COM_Setting(kPort, 256000, 8, 'N', 2, kReadTimeoutMs), 1);
    pty_.write_master(Bytes{0x33});
    unsigned char b = 0;
    EXPECT_TRUE(COM_Read(kPort, &b, 1));
    EXPECT_EQ(b, 0x33);
}

TEST_F(PtyPort, ReadOfTwoOfFourBytesTimesOutWithTheTwoInTheBuffer) {
    open();
    pty_.write_master(Bytes{0xA1, 0xA2});
    std::array<unsigned char, 4> buf{};
    const auto start = Clock::now();
    EXPECT_FALSE(COM_Read(kPort, buf.data(), 4));
    const auto took = elapsed_ms(start);
    EXPECT_GE(took, 500 * 4 + kReadTimeoutMs) << "never early";
    EXPECT_LT(took, 500 * 4 + kReadTimeoutMs + kLateMarginMs);
    EXPECT_EQ(buf[0], 0xA1);
    EXPECT_EQ(buf[1], 0xA2);
    EXPECT_EQ(Get_RxBufferSize(kPort), 0u) << "the two bytes left the queue";
}

TEST_F(PtyPort, OneByteReadTimeOutBounds) {
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    open();
    unsigned char b = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(COM_Read(kPort, &b, 1));
    const auto took = elapsed_ms(start);
    EXPECT_GE(took, 500);
    EXPECT_LT(took, 500 + kLateMarginMs);
}

TEST_F(PtyPort, ReadOfZeroBytesIsTrue) {
    open();
    EXPECT_TRUE(COM_Read(kPort, nullptr, 0));
}

TEST_F(PtyPort, ReadReturnsOnceTheBytesArrive) {
    open();
    auto writer = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(30));
        pty_.write_master(Bytes{1, 2, 3});
    });
    std::array<unsigned char, 3> buf{};
    const auto start = Clock::now();
    EXPECT_TRUE(COM_Read(kPort, buf.data(), 3));
    EXPECT_LT(elapsed_ms(start), 1000);
    EXPECT_EQ(buf, (std::array<unsigned char, 3>{1, 2, 3}));
}

TEST_F(PtyPort, WriteReachesTheOtherSide) {
    open();
    const Bytes msg = {0x36, 0x30, 0x03};
    EXPECT_TRUE(COM_Write(kPort, msg.data(), 3));
    EXPECT_EQ(pty_.read_master(3, milliseconds(2000)), msg);
}

TEST_F(PtyPort, RxBufferSizeCountsWithoutConsuming) {
    open();
    pty_.write_master(Bytes{7, 8, 9});
    ASSERT_TRUE(wait_rx(3));
    EXPECT_EQ(Get_RxBufferSize(kPort), 3u);
    std::array<unsigned char, 3> buf{};
    EXPECT_TRUE(COM_Read(kPort, buf.data(), 3));
    EXPECT_EQ(buf, (std::array<unsigned char, 3>{7, 8, 9}));
    EXPECT_EQ(Get_TxBufferSize(kPort), 0u);
    EXPECT_NE(SetRxEvent(kPort), 0);
}

TEST_F(PtyPort, PurgesEmptyTheQueues) {
    open();
    pty_.write_master(Bytes{1, 2, 3, 4});
    ASSERT_TRUE(wait_rx(4));
    EXPECT_NE(COM_RxBuffer_Clear(kPort), 0);
    EXPECT_EQ(Get_RxBufferSize(kPort), 0u);
    EXPECT_NE(COM_TxBuffer_Clear(kPort), 0);
    unsigned char b = 0;
    EXPECT_FALSE(COM_Read(kPort, &b, 1)) << "the purged bytes are gone";
}

TEST_F(PtyPort, WaitRxEventEndsWhenACharacterArrives) {
    open();
    auto writer = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        pty_.write_master(Bytes{0x55});
    });
    EXPECT_TRUE(WaitRxEvent(kPort));
    unsigned char b = 0;
    EXPECT_TRUE(COM_Read(kPort, &b, 1));
    EXPECT_EQ(b, 0x55);
}

TEST_F(PtyPort, HangupFailsAPendingReadAndWaitAtOnce) {
    COM_Initialize(kPort, 9600, 8, 'N', 1, 10000);
    open();
    auto unplug = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        pty_.hang_up();
    });
    unsigned char b = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(COM_Read(kPort, &b, 1));
    EXPECT_LT(elapsed_ms(start), 2000);
    unplug.get();
    EXPECT_FALSE(WaitRxEvent(kPort));
    EXPECT_TRUE(COM_Close(kPort));
}

// ---- ACK_Check ------------------------------------------------------------------

struct AckCase {
    const char* name;
    Bytes waiting;  // what the peer has sent before the call
    bool result;
    int copies_sent;
    unsigned char reply0;
};

class AckOnPty : public PtyPort, public testing::WithParamInterface<AckCase> {};

TEST_P(AckOnPty, Scenario) {
    const auto& c = GetParam();
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    open();
    if (!c.waiting.empty()) {
        pty_.write_master(c.waiting);
        ASSERT_TRUE(wait_rx(static_cast<std::uint32_t>(c.waiting.size())));
    }
    const Bytes msg = {0x60, 0x00, 0x03};
    std::array<unsigned char, 4> reply;
    reply.fill(0xEE);
    EXPECT_EQ(ACK_Check(kPort, msg.data(), reply.data(), 3), c.result);
    EXPECT_EQ(reply, (std::array<unsigned char, 4>{c.reply0, 0, 0, 0}));
    Bytes expected_sent;
    for (int i = 0; i < c.copies_sent; ++i) expected_sent.insert(expected_sent.end(), msg.begin(), msg.end());
    EXPECT_EQ(pty_.drain_master(milliseconds(100)), expected_sent);
}

INSTANTIATE_TEST_SUITE_P(Scenarios, AckOnPty,
                         testing::Values(AckCase{"AckFirstSendsNothing", {kAck}, true, 0, kAck},
                                         AckCase{"NakThenAckResendsOnce", {kNak, kAck}, true, 1, kAck},
                                         AckCase{"SilenceThreeTimesSendsNothing", {}, false, 0, 0},
                                         AckCase{"ThreeWrongBytesResendThrice", {kNak, kNak, 0x41}, false, 3, 0x41}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
