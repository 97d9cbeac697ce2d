// Transport behaviour on a real line, the same on every platform layer: each
// test is one scenario, run by line_driver.sh against a native line_peer that
// plays the matching script (listed beside the test in CMakeLists.txt). The
// peer checks what the library put on the line; the test checks results,
// buffers and time-outs. Every scenario ends by sending kEndMarker, so the
// peer's exact expectations also prove nothing extra was sent before it; the
// peer's answer to the marker proves it got that far.
#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "line_scenarios.h"
#include "orvel.h"
#include "tarvex.h"

namespace line_scenarios {

int port_from_environment() {
    const char* value = std::getenv("ORVEL_TEST_PORT");
    return value != nullptr && *value != '\0' ? std::atoi(value) : -1;
}

void LineScenario::SetUp() {
    port_ = port_from_environment();
    if (port_ < 0) GTEST_SKIP() << "needs a peer on the line: run through line_driver.sh";
    COM_Initialize(port_, 9600, 8, 'N', 1, read_timeout_ms());
    ASSERT_EQ(COM_Open(port_), 1) << "COM" << port_;
}

void LineScenario::TearDown() {
    if (port_ >= 0) COM_Close(port_);
}

void LineScenario::send(std::initializer_list<unsigned char> bytes) const {
    const std::basic_string<unsigned char> data(bytes);
    ASSERT_TRUE(COM_Write(port_, data.data(), static_cast<std::uint32_t>(data.size())));
}

void LineScenario::finish() const {
    // The peer answers the marker: closing the port discards output the far
    // end has not read yet, so the test waits for proof that it arrived. (No
    // reconfiguring here: that would purge what is still on its way.)
    send({kEndMarker});
    unsigned char echo = 0;
    for (int attempt = 0; attempt < kEndMarkerReads && echo != kEndMarker; ++attempt) {
        COM_Read(port_, &echo, 1);
    }
    EXPECT_EQ(echo, kEndMarker) << "the peer did not reach the end of its script";
}

}  // namespace line_scenarios

namespace {

using line_scenarios::LineScenario;
using Clock = std::chrono::steady_clock;

long long ms_since(Clock::time_point start) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// Generous for a loaded 2-core machine; "not early" is checked exactly.
constexpr long long kLateMarginMs = 3000;

class Transport : public LineScenario {
protected:
    int read_timeout_ms() const override { return 100; }
};

// Peer: expect=47 send=AABB expect=5A send=5A
TEST_F(Transport, PartialReadTimesOutAfterFullBudget) {
    std::array<unsigned char, 4> buf{};
    send({'G'});
    const auto start = Clock::now();
    EXPECT_FALSE(COM_Read(port(), buf.data(), 4));
    const long long elapsed = ms_since(start);
    const long long budget = 500 * 4 + read_timeout_ms();
    EXPECT_GE(elapsed, budget);
    EXPECT_LT(elapsed, budget + kLateMarginMs);
    // The two bytes that came are in the buffer and gone from the queue.
    EXPECT_EQ(buf[0], 0xAA);
    EXPECT_EQ(buf[1], 0xBB);
    EXPECT_EQ(Get_RxBufferSize(port()), 0u);
    finish();
}

// Peer: expect=47 send=010203 expect=5A send=5A
TEST_F(Transport, WaitingBytesAreCountedAndStayQueued) {
    send({'G'});
    const auto start = Clock::now();
    std::uint32_t waiting = 0;
    while ((waiting = Get_RxBufferSize(port())) < 3 && ms_since(start) < 10000) {
    }
    EXPECT_EQ(waiting, 3u);
    EXPECT_EQ(Get_RxBufferSize(port()), 3u);
    std::array<unsigned char, 3> buf{};
    EXPECT_TRUE(COM_Read(port(), buf.data(), 3));
    EXPECT_EQ(buf, (std::array<unsigned char, 3>{1, 2, 3}));
    EXPECT_TRUE(COM_Read(port(), buf.data(), 0));
    finish();
}

class SilentLine : public LineScenario {
protected:
    int read_timeout_ms() const override { return 200; }
};

// Peer: expect=5A send=5A
TEST_F(SilentLine, FrameReadGivesUpAfterTwoByteTimeouts) {
    std::array<unsigned char, 128> reply{};
    const auto start = Clock::now();
    EXPECT_EQ(OrvelRcvFrame(port(), reply.data()), 1);
    const long long elapsed = ms_since(start);
    const long long budget = 2 * (500 + read_timeout_ms());
    EXPECT_GE(elapsed, budget);
    EXPECT_LT(elapsed, budget + kLateMarginMs);
    finish();
}

struct AckCase {
    const char* name;
    bool acknowledged;
    unsigned char last_byte;      // reply[0] on return
    int silent_reads;             // full one-byte time-outs spent waiting
};

// Peer scripts, by case name (the message is "MSG", 4D5347):
//   first_ack:      expect=M send=06 expect=5A send=5A
//   nak_then_ack:   expect=M send=15 expect=M send=06 expect=5A send=5A
//   silent:         expect=M expect=5A send=5A
//   three_wrong:    expect=M (send=15 expect=M) x3 expect=5A send=5A
constexpr AckCase kAckCases[] = {
    {"first_ack", true, 0x06, 0},
    {"nak_then_ack", true, 0x06, 0},
    {"silent", false, 0x00, 3},
    {"three_wrong", false, 0x15, 0},
};

class AckCheck : public LineScenario, public ::testing::WithParamInterface<AckCase> {
protected:
    int read_timeout_ms() const override { return 100; }
};

TEST_P(AckCheck, WaitsAndResends) {
    const AckCase& c = GetParam();
    static constexpr unsigned char kMessage[] = {'M', 'S', 'G'};
    send({'M', 'S', 'G'});
    // Four bytes are the contract; the guard bytes behind them must survive.
    std::array<unsigned char, 8> reply;
    reply.fill(0xEE);
    const auto start = Clock::now();
    EXPECT_EQ(ACK_Check(port(), kMessage, reply.data(), 3), c.acknowledged);
    EXPECT_GE(ms_since(start), c.silent_reads * (500 + read_timeout_ms()));
    EXPECT_EQ(reply, (std::array<unsigned char, 8>{c.last_byte, 0, 0, 0, 0xEE, 0xEE, 0xEE, 0xEE}));
    finish();
}

INSTANTIATE_TEST_SUITE_P(Line, AckCheck, ::testing::ValuesIn(kAckCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
