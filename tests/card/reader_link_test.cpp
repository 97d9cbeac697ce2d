// The reader link on a pseudo-terminal: frames on the line, the reader-status
// rule, stalls and silence, stale replies, malformed and overlong replies.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <string>
#include <thread>

#include "card_line.h"
#include "line_faults.h"
#include "orvel.h"
#include "tarvex.h"

namespace card_test {
namespace {

using namespace std::chrono_literals;
using testing_support::hex_frame;
using testing_support::reply_block;

Bytes text(const std::string& s) { return Bytes(s.begin(), s.end()); }

class ReaderLinkTest : public CardLineTest {
protected:
    // Sends the power-down block as a request and reads the reply into buffer.
    int request(unsigned char* buffer) {
        std::array<unsigned char, 8> block{0x60, 0x02, 0x4D, 0x00};
        if (OrvelSendFrame(kPort, block.data(), 4) != 0) return -1;
        return OrvelRcvFrame(kPort, buffer);
    }
};

// ---- What goes on the line -----------------------------------------------

TEST_F(ReaderLinkTest, PowerUpAndDownSendTheirExactFrames) {
    reader().set_fallback(ok_reply());
    EXPECT_EQ(Gcr400PowerOn(kPort), 0);
    EXPECT_EQ(Gcr400PowerOff(kPort), 0);
    const auto frames = reader().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], text("60046E02000008\x03"));  // 15 bytes
    EXPECT_EQ(frames[1], text("60024D002F\x03"));      // 11 bytes
    EXPECT_EQ(reader().received().size(), 26u);
}

TEST_F(ReaderLinkTest, SendFrameWritesCheckCharacterAndZeroBehindTheBlockOnly) {
    std::array<unsigned char, 10> block;
    block.fill(0xAA);
    std::copy_n(kPowerDownBlock.begin(), 4, block.begin());
    ASSERT_EQ(OrvelSendFrame(kPort, block.data(), 4), 0);
    EXPECT_EQ(Bytes(block.begin(), block.begin() + 7), (Bytes{0x60, 0x02, 0x4D, 0x00, 0x2F, 0x00, 0xAA}));
}

TEST_F(ReaderLinkTest, SendFrameTakesTheLongestBlock) {
    std::array<unsigned char, 128> block{};
    block[0] = 0x60;
    block[1] = 124;
    for (int i = 2; i < 126; ++i) block[i] = static_cast<unsigned char>(i);
    const Bytes sent(block.begin(), block.begin() + 126);
    ASSERT_EQ(OrvelSendFrame(kPort, block.data(), 126), 0);
    ASSERT_TRUE(reader().wait_for_frames(1, 2s));
    EXPECT_EQ(reader().frames()[0], hex_frame(sent));
    EXPECT_EQ(reader().frames()[0].size(), 255u);
}

class SendFrameLengthTest : public ReaderLinkTest, public ::testing::WithParamInterface<int> {};

TEST_P(SendFrameLengthTest, LengthOutsideTheFrameLimitSendsNothing) {
    std::array<unsigned char, 256> block{};
    block.fill(0x41);
    const auto before = block;
    EXPECT_EQ(OrvelSendFrame(kPort, block.data(), GetParam()), 1);
    EXPECT_EQ(block, before);  // no check character written either
    // A power-down after it must be the first thing on the line.
    reader().set_fallback(ok_reply());
    ASSERT_EQ(Gcr400PowerOff(kPort), 0);
    EXPECT_EQ(reader().frames().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Lengths, SendFrameLengthTest, ::testing::Values(0, -1, 127, 200, 254));

// ---- How replies are judged ----------------------------------------------

struct ReplyCase {
    const char* name;
    Bytes line;  // what the reader sends
    int result;  // OrvelRcvFrame's verdict
};

std::vector<ReplyCase> reply_cases() {
    return {
        {"StatusOk", hex_frame(reply_block(0x00, Bytes{0x90, 0x00})), 0},
        {"StatusE7", hex_frame(reply_block(0xE7, Bytes{0x90, 0x00})), 0},
        {"ResponseWaitingWhateverTheStatus", hex_frame(reply_block(0x6F, Bytes{0x61, 0x10})), 0},
        {"OtherStatusRefused", hex_frame(reply_block(0x6F, Bytes{0x90, 0x00})), 2},
        {"LowercaseDigits", text("600300abcd\x03"), 0},
        {"ThreeBytesAreEnough", text("600100\x03"), 0},
        // Without a status byte a reply is refused, whatever the buffer held.
        {"LoneTerminatorRefused", text("\x03"), 2},
        {"TwoBytesRefused", text("6001\x03"), 2},
        {"OddCharacterCountIsNoFrame", text("60030\x03"), 1},
        // 254 characters, 127 bytes: the longest reply.
        {"LongestReply", hex_frame(reply_block(0x00, Bytes(123, 0x41))), 0},
        {"OverlongReplyIsNoFrame", text(std::string(256, '4') + "\x03"), 1},
    };
}

class ReplyRuleTest : public ReaderLinkTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyRuleTest, JudgesTheReplyAndWritesOnlyWhatItDecoded) {
    const auto& c = GetParam();
    reader().script({Reply{c.line}});
    // A zeroed reply buffer (what every command passes) with a guard behind
    // the 128 bytes the contract names.
    std::array<unsigned char, 256> buffer{};
    std::fill(buffer.begin() + 128, buffer.end(), 0xAA);
    EXPECT_EQ(request(buffer.data()), c.result);
    EXPECT_TRUE(std::all_of(buffer.begin() + 128, buffer.end(), [](auto b) { return b == 0xAA; }));
    if (c.result == 1) {
        EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 128, [](auto b) { return b == 0; }));
    } else {
        const Bytes decoded = testing_support::decode_frame(c.line);
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + decoded.size()), decoded);
        EXPECT_EQ(buffer[decoded.size()], 0x00);
    }
}

INSTANTIATE_TEST_SUITE_P(Replies, ReplyRuleTest, ::testing::ValuesIn(reply_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ReaderLinkTest, OverlongReplyIsConsumedUpToItsTerminator) {
    Bytes line = text(std::string(300, 'F') + "\x03");
    const Bytes next = hex_frame(reply_block(0x00, Bytes{0x90, 0x00}));
    line.insert(line.end(), next.begin(), next.end());
    reader().script({Reply{line}});
    std::array<unsigned char, 128> buffer{};
    EXPECT_EQ(request(buffer.data()), 1);
    // The frame after the overlong one is read whole, from its first byte.
    EXPECT_EQ(OrvelRcvFrame(kPort, buffer.data()), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 5), (Bytes{0x60, 0x03, 0x00, 0x90, 0x00}));
}

struct PowerCase {
    const char* name;
    Bytes reply;
    int result;
};

class PowerStatusTest : public ReaderLinkTest,
                        public ::testing::WithParamInterface<std::tuple<bool, PowerCase>> {};

TEST_P(PowerStatusTest, PowerNeedsReaderStatusZero) {
    const auto& [up, c] = GetParam();
    reader().script({Reply::block(c.reply)});
    EXPECT_EQ(up ? Gcr400PowerOn(kPort) : Gcr400PowerOff(kPort), c.result);
}

INSTANTIATE_TEST_SUITE_P(
    Statuses, PowerStatusTest,
    ::testing::Combine(::testing::Bool(),
                       ::testing::Values(PowerCase{"Ok", reply_block(0x00, Bytes{0x90, 0x00}), 0},
                                         PowerCase{"E7", reply_block(0xE7, Bytes{0x90, 0x00}), 3},
                                         PowerCase{"ResponseWaiting", reply_block(0x6F, Bytes{0x61, 0x00}), 3},
                                         PowerCase{"Refused", reply_block(0x6F, Bytes{0x90, 0x00}), 2},
                                         PowerCase{"TooShort", Bytes{0x60, 0x00}, 2})),
    [](const auto& info) {
        return std::string(std::get<0>(info.param) ? "Up" : "Down") + std::get<1>(info.param).name;
    });

TEST_F(ReaderLinkTest, PowerUpGivesOneWhenTheFrameIsNotWritten) {
    fail_writes(1);
    EXPECT_EQ(Gcr400PowerOn(kPort), 1);
    EXPECT_TRUE(reader().received().empty());
}

// ---- Stalls, silence and late replies ------------------------------------

TEST_F(ReaderLinkTest, ReplyStallingOnceIsReceivedWhole) {
    const Bytes line = hex_frame(reply_block(0x00, Bytes{0x12, 0x90, 0x00}));
    reader().script({Reply{line, {}, {5}, kStall}});
    std::array<unsigned char, 128> buffer{};
    EXPECT_EQ(request(buffer.data()), 0);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 6), (Bytes{0x60, 0x04, 0x00, 0x12, 0x90, 0x00}));
}

TEST_F(ReaderLinkTest, ReplyStallingTwiceIsLost) {
    const Bytes line = hex_frame(reply_block(0x00, Bytes{0x12, 0x90, 0x00}));
    reader().script({Reply{line, {}, {3, 7}, kStall}});
    std::array<unsigned char, 128> buffer{};
    EXPECT_EQ(request(buffer.data()), 1);
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.end(), [](auto b) { return b == 0; }));
}

TEST_F(ReaderLinkTest, SilentLineGivesOneAfterTwoReadTimeouts) {
    std::array<unsigned char, 128> buffer{};
    std::array<unsigned char, 8> block{0x60, 0x02, 0x4D, 0x00};
    ASSERT_EQ(OrvelSendFrame(kPort, block.data(), 4), 0);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(OrvelRcvFrame(kPort, buffer.data()), 1);
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 2 * kOneByteTimeout);
    EXPECT_LT(elapsed, 2 * kOneByteTimeout + 5s);
}

TEST_F(ReaderLinkTest, LateReplyIsNotTakenForTheNextAnswer) {
    // The answer to the first power-up comes after the link gave up on it
    // and sits in the receive queue when the second power-up is sent.
    Reply late = ok_reply();
    late.delay = 2 * kOneByteTimeout + 300ms;
    reader().script({late, Reply::block(reply_block(0xE7, Bytes{0x90, 0x00}))});
    EXPECT_EQ(Gcr400PowerOn(kPort), 2);
    ASSERT_TRUE(reader().wait_for_replies(1, 5s));
    std::this_thread::sleep_for(100ms);  // let the late bytes reach the queue
    EXPECT_EQ(Gcr400PowerOn(kPort), 3);  // the E7 answer, not the stale 0x00
}

}  // namespace
}  // namespace card_test
