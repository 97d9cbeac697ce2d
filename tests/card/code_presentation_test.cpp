// VERIFY and the composite card read against a scripted card: the exact
// blocks, the code enciphered with OpenSSL's DES, and the card's power and
// the caller's buffer after every result.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
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
using testing_support::hex_frame;

constexpr unsigned char kSentinel = 0xEE;
constexpr auto kUp = Step::power_up;
constexpr auto kDown = Step::power_down;
constexpr auto kRdBin = Step::read_binary;
constexpr auto kVerify = Step::verify;
constexpr auto kRdRec = Step::read_record;

class CodePresentationTest : public CardLineTest {
protected:
    ScriptedCard card;
};

// ---- OrvelVerify ---------------------------------------------------------

TEST_F(CodePresentationTest, VerifySendsOneBlockAndTakesAnyAcceptedReply) {
    // A card that refuses the code still gives an accepted reply: result 0.
    reader().script({ok_reply({}, 0x63, 0xC2)});
    const Block code{0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};

    EXPECT_EQ(OrvelVerify(kPort, 0x04, 0x85, code.data()), 0);

    ASSERT_TRUE(reader().wait_for_replies(1, std::chrono::seconds(2)));
    const auto frames = reader().frames();
    ASSERT_EQ(frames.size(), 1u);  // no follow-up
    EXPECT_EQ(frames[0], hex_frame({0x60, 0x0E, 0xDA, 0x04, 0x20, 0x00, 0x85, 0x08, 0x0F, 0x1E, 0x2D,
                                    0x3C, 0x4B, 0x5A, 0x69, 0x78}));
}

struct VerifyCase {
    const char* name;
    int fail_write_after;  // -1: no write fails
    bool refused;
    int expected;
    std::vector<Step> conversation;
};
void PrintTo(const VerifyCase& c, std::ostream* os) { *os << c.name; }

class VerifyResultTest : public CodePresentationTest, public ::testing::WithParamInterface<VerifyCase> {};

TEST_P(VerifyResultTest, PowersOffOnFailure) {
    const auto& c = GetParam();
    if (c.refused) card.refuse(kVerify);
    if (c.fail_write_after >= 0) fail_writes(1, c.fail_write_after);
    card.attach(reader());
    const Block code{};
    EXPECT_EQ(OrvelVerify(kPort, 0x00, 0x00, code.data()), c.expected);
    EXPECT_EQ(steps_of(blocks()), c.conversation);
}

INSTANTIATE_TEST_SUITE_P(Results, VerifyResultTest,
                         ::testing::Values(VerifyCase{"accepted", -1, false, 0, {kVerify}},
                                           VerifyCase{"send_fails", 0, false, 1, {kDown}},
                                           VerifyCase{"reply_refused", -1, true, 2, {kVerify, kDown}}),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- OrvelBCardRead ------------------------------------------------------

TEST_F(CodePresentationTest, CardReadPresentsTheCardDataEncipheredUnderTheKey) {
    card.attach(reader());
    const Block key{0x13, 0x34, 0x57, 0x79, 0x9B, 0xBC, 0xDF, 0xF1};
    std::array<unsigned char, 9> out;
    out.fill(kSentinel);

    ASSERT_EQ(OrvelBCardRead(kPort, key.data(), out.data()), 0);

    const auto sent = blocks();
    ASSERT_EQ(steps_of(sent), (std::vector<Step>{kUp, kRdBin, kVerify, kRdRec, kDown}));
    EXPECT_EQ(sent[1], (Bytes{0x60, 0x06, 0xDB, 0x00, 0xB0, 0x00, 0x00, 0x08}));
    Bytes verify{0x60, 0x0E, 0xDA, 0x00, 0x20, 0x00, 0x00, 0x08};
    const Block code = auth_reference::des_encrypt(key, card.card_data);
    verify.insert(verify.end(), code.begin(), code.end());
    EXPECT_EQ(sent[2], verify);
    EXPECT_EQ(sent[3], (Bytes{0x60, 0x06, 0xDB, 0x00, 0xB2, 0x01, 0x02, 0x08}));

    EXPECT_TRUE(std::equal(card.record.begin(), card.record.end(), out.begin()));
    EXPECT_EQ(out[8], kSentinel);  // no terminator
}

enum class OutAfter { untouched, head_cleared, record };

struct Refusal {
    Step step;
    int occurrence;
    int times;
};

struct CardReadCase {
    const char* name;
    std::vector<Refusal> refused;
    int fail_write_after;  // -1: no write fails
    int fail_write_count;
    int expected;
    std::vector<Step> conversation;
    OutAfter out;
};
void PrintTo(const CardReadCase& c, std::ostream* os) { *os << c.name; }

class CardReadResultTest : public CodePresentationTest, public ::testing::WithParamInterface<CardReadCase> {};

TEST_P(CardReadResultTest, ResultPowerStateAndBuffer) {
    const auto& c = GetParam();
    for (const auto& r : c.refused) card.refuse(r.step, r.occurrence, r.times);
    if (c.fail_write_after >= 0) fail_writes(c.fail_write_count, c.fail_write_after);
    card.attach(reader());
    const Block key{0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    std::array<unsigned char, 8> out;
    out.fill(kSentinel);

    EXPECT_EQ(OrvelBCardRead(kPort, key.data(), out.data()), c.expected);
    EXPECT_EQ(steps_of(blocks()), c.conversation);

    std::array<unsigned char, 8> expected_out;
    switch (c.out) {
        case OutAfter::untouched: expected_out.fill(kSentinel); break;
        case OutAfter::head_cleared:
            expected_out.fill(kSentinel);
            std::fill_n(expected_out.begin(), 4, 0x00);
            break;
        case OutAfter::record: std::copy(card.record.begin(), card.record.end(), expected_out.begin()); break;
    }
    EXPECT_EQ(out, expected_out);
}

INSTANTIATE_TEST_SUITE_P(
    Results, CardReadResultTest,
    ::testing::Values(
        CardReadCase{"read", {}, -1, 0, 0, {kUp, kRdBin, kVerify, kRdRec, kDown}, OutAfter::record},
        CardReadCase{"power_up_retried_once", {{kUp, 1, 1}}, -1, 0, 0,
                     {kUp, kUp, kRdBin, kVerify, kRdRec, kDown}, OutAfter::record},
        // Never powered: not powered off, buffer untouched.
        CardReadCase{"power_up_fails_twice", {{kUp, 1, 2}}, -1, 0, 1, {kUp, kUp}, OutAfter::untouched},
        CardReadCase{"read_binary_refused", {{kRdBin, 1, 1}}, -1, 0, 1, {kUp, kRdBin, kDown},
                     OutAfter::head_cleared},
        // VERIFY powers off once itself, the composite read once more.
        CardReadCase{"verify_refused", {{kVerify, 1, 1}}, -1, 0, 2, {kUp, kRdBin, kVerify, kDown, kDown},
                     OutAfter::head_cleared},
        CardReadCase{"verify_send_fails", {}, 2, 1, 2, {kUp, kRdBin, kDown, kDown}, OutAfter::head_cleared},
        CardReadCase{"read_record_refused", {{kRdRec, 1, 1}}, -1, 0, 3, {kUp, kRdBin, kVerify, kRdRec, kDown},
                     OutAfter::head_cleared},
        // The record is read: a failing power-down is retried once and then
        // ignored.
        CardReadCase{"power_down_refused_once", {{kDown, 1, 1}}, -1, 0, 0,
                     {kUp, kRdBin, kVerify, kRdRec, kDown, kDown}, OutAfter::record},
        CardReadCase{"power_down_refused_twice", {{kDown, 1, 2}}, -1, 0, 0,
                     {kUp, kRdBin, kVerify, kRdRec, kDown, kDown}, OutAfter::record},
        CardReadCase{"power_down_sends_fail_twice", {}, 4, 2, 0, {kUp, kRdBin, kVerify, kRdRec},
                     OutAfter::record}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace card_test
