// Key-file selection, authentication and the authenticated selection of
// 0x3F01 against a scripted card: the exact blocks, where the challenge comes
// from, the cryptogram check, the derived keys (computed with OpenSSL) and
// the card's power after every result.
#include <gtest/gtest.h>

#include <sys/random.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstring>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "auth_card_responder.h"
#include "auth_reference_crypto.h"
#include "card_line.h"
#include "line_faults.h"
#include "orvel.h"
#include "scripted_reader.h"

// ---- The system generator as the library sees it -------------------------
//
// The program exports its own getrandom, which the card library's calls
// reach before the C library's. It forwards to the kernel unless a test has
// queued bytes or a failure.
namespace {

struct GeneratorControl {
    std::mutex mutex;
    std::deque<std::vector<std::uint8_t>> queued;
    int failures = 0;
    int calls = 0;
};

GeneratorControl& generator() {
    static GeneratorControl control;
    return control;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) ssize_t getrandom(void* buffer, size_t length,
                                                                    unsigned int flags) {
    auto& control = generator();
    {
        std::lock_guard lock(control.mutex);
        ++control.calls;
        if (control.failures > 0) {
            --control.failures;
            errno = EIO;
            return -1;
        }
        if (!control.queued.empty()) {
            auto bytes = std::move(control.queued.front());
            control.queued.pop_front();
            const std::size_t n = std::min(length, bytes.size());
            std::memcpy(buffer, bytes.data(), n);
            return static_cast<ssize_t>(n);
        }
    }
    return syscall(SYS_getrandom, buffer, length, flags);
}

namespace card_test {
namespace {

using auth_reference::Block;
using auth_reference::Buffer9;
using auth_reference::kSentinel;
using auth_reference::sentinel_buffer;
using auth_reference::terminated;
using testing_support::hex_frame;


class AuthTest : public CardLineTest {
protected:
    void SetUp() override {
        CardLineTest::SetUp();
        std::lock_guard lock(generator().mutex);
        generator().queued.clear();
        generator().failures = 0;
        generator().calls = 0;
    }

    static void queue_generator_bytes(std::vector<std::uint8_t> bytes) {
        std::lock_guard lock(generator().mutex);
        generator().queued.push_back(std::move(bytes));
    }
    static void fail_generator(int times) {
        std::lock_guard lock(generator().mutex);
        generator().failures = times;
    }
    static int generator_calls() {
        std::lock_guard lock(generator().mutex);
        return generator().calls;
    }

    int authenticate(const Block& key_a, const Block& key_b) {
        return OrvelAuth(kPort, key_a.data(), key_b.data(), derived1.data(), derived2.data());
    }

    ScriptedCard card;
    Buffer9 derived1 = sentinel_buffer();
    Buffer9 derived2 = sentinel_buffer();
};

// ---- OrvelSelFK ----------------------------------------------------------

// The follow-up asks for 12 bytes with CLA 0x80 whatever Le the first reply
// announced.
class SelectKeyFileBlocksTest : public AuthTest, public ::testing::WithParamInterface<std::uint8_t> {};

TEST_P(SelectKeyFileBlocksTest, SendsChallengeThenFixedFollowUp) {
    card.announced_length = GetParam();
    card.attach(reader());
    const Block challenge{0xC0, 0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0xC7};
    std::array<unsigned char, 5> cryptogram;
    std::array<unsigned char, 9> card_random;
    cryptogram.fill(kSentinel);
    card_random.fill(kSentinel);

    ASSERT_EQ(OrvelSelFK(kPort, 0x12, 0x34, challenge.data(), cryptogram.data(), card_random.data()), 0);

    const auto frames = reader().frames();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(frames[0], hex_frame({0x60, 0x0E, 0xDA, 0x80, 0x28, 0x12, 0x34, 0x08, 0xC0, 0xC1, 0xC2,
                                    0xC3, 0xC4, 0xC5, 0xC6, 0xC7}));
    EXPECT_EQ(frames[1], hex_frame({0x60, 0x06, 0xDB, 0x80, 0xC0, 0x00, 0x00, 0x0C}));

    // Reply bytes 3..6 are the cryptogram and 7..14 the card random, with no
    // terminator after either.
    const auto expected_cryptogram = card.cryptogram_for(challenge);
    EXPECT_TRUE(std::equal(expected_cryptogram.begin(), expected_cryptogram.end(), cryptogram.begin()));
    EXPECT_EQ(cryptogram[4], kSentinel);
    EXPECT_TRUE(std::equal(card.card_random.begin(), card.card_random.end(), card_random.begin()));
    EXPECT_EQ(card_random[8], kSentinel);
}

INSTANTIATE_TEST_SUITE_P(AnnouncedLength, SelectKeyFileBlocksTest,
                         ::testing::Values(0x00, 0x05, 0x0C, 0x20));

struct SelFkCase {
    const char* name;
    int fail_write_after;  // -1: no write fails
    std::optional<Step> refused;
    int expected;
    std::vector<Step> conversation;
};
void PrintTo(const SelFkCase& c, std::ostream* os) { *os << c.name; }

class SelectKeyFileResultTest : public AuthTest, public ::testing::WithParamInterface<SelFkCase> {};

TEST_P(SelectKeyFileResultTest, ResultAndNoPowerChange) {
    const auto& c = GetParam();
    if (c.refused) card.refuse(*c.refused);
    if (c.fail_write_after >= 0) fail_writes(1, c.fail_write_after);
    card.attach(reader());
    const Block challenge{1, 2, 3, 4, 5, 6, 7, 8};
    std::array<unsigned char, 4> cryptogram;
    std::array<unsigned char, 8> card_random;
    cryptogram.fill(kSentinel);
    card_random.fill(kSentinel);

    EXPECT_EQ(OrvelSelFK(kPort, 0x00, 0x01, challenge.data(), cryptogram.data(), card_random.data()),
              c.expected);
    EXPECT_EQ(steps_of(blocks()), c.conversation);  // never a power frame
    if (c.expected != 0) {
        EXPECT_TRUE(std::all_of(cryptogram.begin(), cryptogram.end(), [](auto b) { return b == kSentinel; }));
        EXPECT_TRUE(std::all_of(card_random.begin(), card_random.end(), [](auto b) { return b == kSentinel; }));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Results, SelectKeyFileResultTest,
    ::testing::Values(
        SelFkCase{"accepted", -1, {}, 0, {Step::select_key_file, Step::key_file_response}},
        SelFkCase{"send_fails", 0, {}, 1, {}},
        SelFkCase{"reply_refused", -1, Step::select_key_file, 2, {Step::select_key_file}},
        SelFkCase{"follow_up_send_fails", 1, {}, 3, {Step::select_key_file}},
        SelFkCase{"follow_up_reply_refused", -1, Step::key_file_response, 4,
                  {Step::select_key_file, Step::key_file_response}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- OrvelAuth -----------------------------------------------------------

TEST_F(AuthTest, ChallengeIsTheGeneratorsBytesInOrderWithP1P2ZeroOne) {
    queue_generator_bytes({0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0x07, 0x18});
    card.attach(reader());

    ASSERT_EQ(authenticate(card.key_a, card.key_b), 0);

    const auto sent = blocks();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0], (Bytes{0x60, 0x0E, 0xDA, 0x80, 0x28, 0x00, 0x01, 0x08, 0xA1, 0xB2, 0xC3, 0xD4,
                              0xE5, 0xF6, 0x07, 0x18}));
    EXPECT_EQ(sent[1], (Bytes{0x60, 0x06, 0xDB, 0x80, 0xC0, 0x00, 0x00, 0x0C}));
}

TEST_F(AuthTest, DerivedKeysAreTheCardRandomUnderBothKeyOrders) {
    card.attach(reader());
    ASSERT_EQ(authenticate(card.key_a, card.key_b), 0);
    const auto keys = card.session_keys();
    EXPECT_EQ(derived1, terminated(keys.derived1));
    EXPECT_EQ(derived2, terminated(keys.derived2));
    EXPECT_NE(keys.derived1, keys.derived2);  // the fixture's key halves differ
}

TEST_F(AuthTest, FailingGeneratorSendsNothingAndGivesOne) {
    fail_generator(1);
    card.attach(reader());
    EXPECT_EQ(authenticate(card.key_a, card.key_b), 1);
    EXPECT_TRUE(reader().frames().empty());
    EXPECT_EQ(derived1, sentinel_buffer());
    EXPECT_EQ(derived2, sentinel_buffer());
}

TEST_F(AuthTest, EveryCallDrawsAFreshChallengeAlsoWhenTheSelectionFails) {
    card.refuse(Step::select_key_file);
    card.attach(reader());

    EXPECT_EQ(authenticate(card.key_a, card.key_b), 1);
    EXPECT_EQ(generator_calls(), 1);
    EXPECT_EQ(authenticate(card.key_a, card.key_b), 0);
    EXPECT_EQ(generator_calls(), 2);

    const auto challenges = card.challenges();
    ASSERT_EQ(challenges.size(), 2u);
    EXPECT_NE(challenges[0], challenges[1]);
}

struct AuthRejectCase {
    const char* name;
    bool wrong_key;
    bool answer_low_half;  // the card answers bytes 0..3 of the check value
    std::optional<Step> refused;
    int fail_write_after;
    int expected;
};
void PrintTo(const AuthRejectCase& c, std::ostream* os) { *os << c.name; }

class AuthRejectTest : public AuthTest, public ::testing::WithParamInterface<AuthRejectCase> {};

TEST_P(AuthRejectTest, LeavesDerivedKeysAndPowerAlone) {
    const auto& c = GetParam();
    card.answer_low_half = c.answer_low_half;
    if (c.refused) card.refuse(*c.refused);
    if (c.fail_write_after >= 0) fail_writes(1, c.fail_write_after);
    card.attach(reader());
    Block key_a = card.key_a;
    if (c.wrong_key) key_a[7] ^= 0x02;  // a bit DES does not ignore

    EXPECT_EQ(authenticate(key_a, card.key_b), c.expected);
    EXPECT_EQ(derived1, sentinel_buffer());
    EXPECT_EQ(derived2, sentinel_buffer());
    for (Step step : steps_of(blocks())) {
        EXPECT_NE(step, Step::power_down);
        EXPECT_NE(step, Step::power_up);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rejections, AuthRejectTest,
    ::testing::Values(AuthRejectCase{"wrong_key", true, false, {}, -1, 2},
                      AuthRejectCase{"cryptogram_from_low_half_of_check_value", false, true, {}, -1, 2},
                      AuthRejectCase{"selection_send_fails", false, false, {}, 0, 1},
                      AuthRejectCase{"selection_refused", false, false, Step::select_key_file, -1, 1},
                      AuthRejectCase{"follow_up_send_fails", false, false, {}, 1, 1},
                      AuthRejectCase{"follow_up_refused", false, false, Step::key_file_response, -1, 1}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- OrvelInfoFile -------------------------------------------------------

struct InfoFileCase {
    const char* name;
    std::vector<std::pair<Step, int>> refused;  // step, times from its first occurrence
    bool wrong_key;
    int expected;
    std::vector<Step> conversation;
};
void PrintTo(const InfoFileCase& c, std::ostream* os) { *os << c.name; }

class InfoFileTest : public AuthTest, public ::testing::WithParamInterface<InfoFileCase> {};

TEST_P(InfoFileTest, ResultAndPowerState) {
    const auto& c = GetParam();
    for (const auto& [step, times] : c.refused) card.refuse(step, 1, times);
    card.attach(reader());
    Block key_a = card.key_a;
    if (c.wrong_key) key_a[0] ^= 0x10;

    EXPECT_EQ(OrvelInfoFile(kPort, key_a.data(), card.key_b.data(), derived1.data(), derived2.data()),
              c.expected);
    const auto sent = blocks();
    EXPECT_EQ(steps_of(sent), c.conversation);
    if (c.expected == 0) {
        const auto keys = card.session_keys();
        EXPECT_EQ(derived1, terminated(keys.derived1));
        EXPECT_EQ(derived2, terminated(keys.derived2));
        const auto select = std::find_if(sent.begin(), sent.end(),
                                         [](const Bytes& b) { return step_of(b) == Step::select_file; });
        ASSERT_NE(select, sent.end());
        EXPECT_EQ(*select, (Bytes{0x60, 0x08, 0xDA, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x01}));
    } else {
        EXPECT_EQ(derived1, sentinel_buffer());
        EXPECT_EQ(derived2, sentinel_buffer());
    }
}

constexpr auto kUp = Step::power_up;
constexpr auto kDown = Step::power_down;
constexpr auto kSel = Step::select_file;
constexpr auto kGr = Step::get_response;
constexpr auto kKey = Step::select_key_file;
constexpr auto kKeyGr = Step::key_file_response;

INSTANTIATE_TEST_SUITE_P(
    Results, InfoFileTest,
    ::testing::Values(
        // Success leaves the card powered with 0x3F01 selected.
        InfoFileCase{"authenticated", {}, false, 0, {kUp, kSel, kGr, kKey, kKeyGr}},
        InfoFileCase{"power_up_retried_once", {{kUp, 1}}, false, 0, {kUp, kUp, kSel, kGr, kKey, kKeyGr}},
        // Never powered: nothing to power off.
        InfoFileCase{"power_up_fails_twice", {{kUp, 2}}, false, 1, {kUp, kUp}},
        InfoFileCase{"selection_refused", {{kSel, 1}}, false, 2, {kUp, kSel, kDown}},
        InfoFileCase{"selection_follow_up_refused", {{kGr, 1}}, false, 2, {kUp, kSel, kGr, kDown}},
        InfoFileCase{"key_file_selection_refused", {{kKey, 1}}, false, 3, {kUp, kSel, kGr, kKey, kDown}},
        InfoFileCase{"cryptogram_mismatch", {}, true, 3, {kUp, kSel, kGr, kKey, kKeyGr, kDown}}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace card_test
