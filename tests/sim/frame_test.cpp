// The reader's frame handling: malformed input gets a refusal, never a crash.
#include <gtest/gtest.h>

#include <random>

#include "hex.h"
#include "sim/reader.h"

namespace {

using sim::Bytes;
using sim_test::hex;

Bytes text(std::string_view s) { return Bytes(s.begin(), s.end()); }

struct ParseCase {
    const char* name;
    const char* text;  // characters before the terminator
    sim::FrameError error;
    std::uint8_t status;  // reader status of the answer (card powered)
};

class ParseFrame : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseFrame, ClassifiesAndAnswers) {
    const auto& c = GetParam();
    auto frame = sim::parse_frame(text(c.text));
    EXPECT_EQ(frame.error, c.error) << sim::describe(frame.error);
    sim::Card card;
    card.power_up();
    auto reply = sim::answer_frame(frame, card);
    ASSERT_GE(reply.size(), 4u);
    EXPECT_EQ(reply[2], c.status);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ParseFrame,
    ::testing::Values(ParseCase{"power_down", "60024D002F", sim::FrameError::none, sim::kStatusOk},
                      ParseCase{"power_up", "60046E02000008", sim::FrameError::none, sim::kStatusOk},
                      ParseCase{"empty", "", sim::FrameError::empty, sim::kStatusBadText},
                      ParseCase{"odd_length", "60024D002", sim::FrameError::odd_length, sim::kStatusBadText},
                      ParseCase{"lowercase", "60024d002f", sim::FrameError::not_hex, sim::kStatusBadText},
                      ParseCase{"garbage", "ZZ", sim::FrameError::not_hex, sim::kStatusBadText},
                      ParseCase{"too_short", "604D2D", sim::FrameError::too_short, sim::kStatusBadText},
                      ParseCase{"no_block_start", "61024D002E", sim::FrameError::bad_start, sim::kStatusBadText},
                      ParseCase{"bad_check", "60024D002E", sim::FrameError::bad_check, sim::kStatusBadCheck},
                      ParseCase{"bad_ln", "60034D002E", sim::FrameError::bad_ln, sim::kStatusBadLength},
                      ParseCase{"unknown_reader_command", "6002440026", sim::FrameError::none,
                                sim::kStatusUnknownCommand},
                      ParseCase{"power_up_wrong_parameters", "60046E0100000B", sim::FrameError::none,
                                sim::kStatusBadParameters},
                      ParseCase{"apdu_too_short", "6004DB80C002FD", sim::FrameError::none,
                                sim::kStatusBadParameters},
                      // SELECT of a file that does not exist: 6A 82 from the card
                      ParseCase{"card_error", "6008DA00A4000002FFFF14", sim::FrameError::none,
                                sim::kStatusCardError}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(ParseFrame, TooLongTextIsRefusedWithoutDecoding) {
    Bytes long_text(256, '0');
    EXPECT_EQ(sim::parse_frame(long_text).error, sim::FrameError::too_long);
}

TEST(Reader, CardExchangesNeedPower) {
    sim::Card card;
    auto frame = sim::parse_frame(text("6006DB80C002A10856"));
    ASSERT_TRUE(frame.ok());
    EXPECT_EQ(sim::answer_frame(frame, card)[2], sim::kStatusNotPowered);
    sim::answer_frame(sim::parse_frame(text("60046E02000008")), card);
    auto reply = sim::answer_frame(frame, card);
    // 0x60, LN, status 00, serial, 90 00, check character
    EXPECT_EQ(reply, sim::make_reply_block(0x00, hex("1032547698BADCFE 9000")));
    EXPECT_EQ(reply[1], 11);
    std::uint8_t check = 0;
    for (auto b : reply) check ^= b;
    EXPECT_EQ(check, 0);
    sim::answer_frame(sim::parse_frame(text("60024D002F")), card);
    EXPECT_EQ(sim::answer_frame(frame, card)[2], sim::kStatusNotPowered);
}

TEST(Reader, EncodesRepliesAsUppercaseHexWithTerminator) {
    auto wire = sim::encode_wire(hex("60 01 F1 90"));
    EXPECT_EQ(std::string(wire.begin(), wire.end()), std::string("6001F190\x03"));
}

// Whatever arrives, the answer is a well-formed reply block within the
// frame limit, and the card's persistent state is not corrupted.
TEST(Reader, RandomBytesGetWellFormedReplies) {
    std::mt19937 random(7);
    sim::Card card;
    card.power_up();
    const char alphabet[] = "0123456789ABCDEF6DAB0G\x03 a";
    for (int round = 0; round < 3000; ++round) {
        Bytes input(random() % 300);
        const bool hexish = round % 2 == 0;
        for (auto& b : input) {
            b = hexish ? static_cast<std::uint8_t>(alphabet[random() % (sizeof alphabet - 1)])
                       : static_cast<std::uint8_t>(random());
        }
        // Half of the rounds start like a real block, so deeper paths run too.
        if (round % 4 == 0 && input.size() > 6) {
            const char* head = round % 8 == 0 ? "6006DB" : "600ADA";
            std::copy(head, head + 6, input.begin());
        }
        auto frame = sim::parse_frame(input);
        auto reply = sim::answer_frame(frame, card);
        ASSERT_GE(reply.size(), 4u);
        ASSERT_LE(reply.size(), sim::kMaxFrameBytes);
        EXPECT_EQ(reply[0], sim::kBlockStart);
        EXPECT_EQ(reply[1], reply.size() - 3);
        std::uint8_t check = 0;
        for (auto b : reply) check ^= b;
        EXPECT_EQ(check, 0);
        if (!frame.ok()) {
            EXPECT_EQ(reply[2], sim::refusal_status(frame.error));
        }
    }
    EXPECT_LE(card.state().balance, sim::kMaxBalance);
}

}  // namespace
