// Byte-exact command blocks of every card command without authentication,
// one table per family, checked frame by frame on the line.
#include <gtest/gtest.h>

#include <array>
#include <functional>
#include <string>

#include "card_line.h"
#include "command_bytes.h"
#include "orvel.h"

namespace card_test {
namespace {

struct BlockCase {
    std::string name;
    std::function<int()> call;
    std::vector<Reply> replies;
    std::vector<Bytes> blocks;  // what must reach the line, in order
    int result = 0;
};

class CommandBlockTest : public CardLineTest, public ::testing::WithParamInterface<BlockCase> {};

TEST_P(CommandBlockTest, SendsExactlyTheseFrames) {
    const auto& c = GetParam();
    reader().script(c.replies);
    EXPECT_EQ(c.call(), c.result);
    const auto frames = reader().frames();
    ASSERT_EQ(frames.size(), c.blocks.size());
    for (std::size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i], testing_support::hex_frame(c.blocks[i])) << "frame " << i;
    }
}

std::string case_name(const ::testing::TestParamInfo<BlockCase>& info) { return info.param.name; }

// Two-phase replies: "0x61 le", then the card's data.
std::vector<Reply> two_phase(std::uint8_t le, Bytes data = {}) {
    return {more_data_reply(le), ok_reply(std::move(data))};
}

// ---- Card information and file selection ---------------------------------

std::vector<BlockCase> info_cases() {
    std::vector<BlockCase> cases;
    const std::pair<std::uint8_t, std::uint8_t> lengths[] = {
        {0x00, 0x00}, {0xA0, 0x08}, {0xA1, 0x08}, {0xA2, 0x08}, {0xA3, 0x04},
        {0xA4, 0x0D}, {0x06, 0x02}, {0x55, 0x00}, {0xA5, 0x00}};
    for (const auto& entry : lengths) {
        const std::uint8_t p2 = entry.first, le = entry.second;
        char name[32];
        std::snprintf(name, sizeof name, "GetInfoP2_%02X", p2);
        cases.push_back({name, [p2] { std::array<unsigned char, 16> out{}; return OrvelGetInfo(kPort, 0x80, 0x02, p2, out.data()); },
                         {ok_reply()}, {{0x60, 0x06, 0xDB, 0x80, 0xC0, 0x02, p2, le}}});
    }
    cases.push_back({"SelFilHighByteFirst", [] { return OrvelSelFil(kPort, 0x00, 0x00, 0x02, 0x3F01); },
                     two_phase(0x10),
                     {{0x60, 0x08, 0xDA, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x3F, 0x01}, get_response(0x10)}});
    cases.push_back({"SelFilP3AsGiven", [] { return OrvelSelFil(kPort, 0x02, 0x04, 0x07, 0xA1B2); },
                     two_phase(0x02),
                     {{0x60, 0x08, 0xDA, 0x00, 0xA4, 0x02, 0x04, 0x07, 0xA1, 0xB2}, get_response(0x02)}});
    // A first reply with byte 4 0x00 still brings the follow-up, with Le 0x00.
    cases.push_back({"FollowUpWithLeZero", [] { return OrvelSelFil(kPort, 0x00, 0x00, 0x02, 0x0002); },
                     {ok_reply(), ok_reply()},
                     {{0x60, 0x08, 0xDA, 0x00, 0xA4, 0x00, 0x00, 0x02, 0x00, 0x02}, get_response(0x00)}});
    cases.push_back({"SetStatusAlwaysEightBytes",
                     [] { const Bytes d = counting(8, 0xA0); return OrvelSetStatus(kPort, 0x03, d.data()); },
                     two_phase(0x04),
                     {cat({{0x60, 0x0E, 0xDA, 0x80, 0xD8, 0xFF, 0xFF, 0x03}, counting(8, 0xA0)}), get_response(0x04)}});
    cases.push_back({"SwrPrt", [] { return OrvelSwrPrt(kPort, 0x12, 0x34); }, two_phase(0x01),
                     {{0x60, 0x06, 0xDA, 0x80, 0x14, 0x12, 0x34, 0x00}, get_response(0x01)}});
    return cases;
}
INSTANTIATE_TEST_SUITE_P(InfoAndSelection, CommandBlockTest, ::testing::ValuesIn(info_cases()), case_name);

// ---- Reads ------------------------------------------------------------------

std::vector<BlockCase> read_cases() {
    std::vector<BlockCase> cases;
    for (std::uint8_t le : {0x00, 0x08, 0x79}) {
        cases.push_back({"RdBinLe" + std::to_string(le),
                         [le] { std::array<unsigned char, 128> out{}; return OrvelRdBin(kPort, 0x00, 0x81, 0x02, le, out.data()); },
                         {ok_reply()}, {{0x60, 0x06, 0xDB, 0x00, 0xB0, 0x81, 0x02, le}}});
        cases.push_back({"RdRecLe" + std::to_string(le),
                         [le] { std::array<unsigned char, 128> out{}; return OrvelRdRec(kPort, 0x04, 0x01, 0x0C, le, out.data()); },
                         {ok_reply()}, {{0x60, 0x06, 0xDB, 0x04, 0xB2, 0x01, 0x0C, le}}});
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Reads, CommandBlockTest, ::testing::ValuesIn(read_cases()), case_name);

// ---- Plain writes -----------------------------------------------------------

Bytes plain_write(std::uint8_t cla, std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, std::size_t len) {
    return cat({{0x60, static_cast<std::uint8_t>(len + 6), 0xDA, cla, ins, p1, p2, static_cast<std::uint8_t>(len)},
                counting(len)});
}

std::vector<BlockCase> plain_write_cases() {
    std::vector<BlockCase> cases;
    const Key a = kKeyA, b = kKeyB;
    for (std::size_t len : {0, 4, 118}) {
        const auto l = static_cast<unsigned char>(len);
        const std::string n = std::to_string(len);
        cases.push_back({"UpdBinCla00Len" + n,
                         [len, a, b] { const Bytes d = counting(len); return OrvelUpdBin(kPort, 0x00, 0x01, 0x02, static_cast<int>(len), d.data(), a.data(), b.data()); },
                         two_phase(0x02), {plain_write(0x00, 0xD6, 0x01, 0x02, len), get_response(0x02)}});
        cases.push_back({"WrBinCla80Len" + n,
                         [l, len] { const Bytes d = counting(len); return OrvelWrBin(kPort, 0x80, 0x03, 0x04, l, d.data(), nullptr, nullptr); },
                         two_phase(0x00), {plain_write(0x80, 0xD0, 0x03, 0x04, len), get_response(0x00)}});
        cases.push_back({"UpdBinPurseLen" + n,
                         [len] { const Bytes d = counting(len); return OrvelUpdBinPurse(kPort, 0x00, 0x85, 0x00, static_cast<int>(len), d.data()); },
                         {ok_reply()}, {plain_write(0x00, 0xD6, 0x85, 0x00, len)}});
        cases.push_back({"WrBinPurseLen" + n,
                         [l, len] { const Bytes d = counting(len); return OrvelWrBinPurse(kPort, 0x00, 0x00, 0x10, l, d.data()); },
                         {ok_reply()}, {plain_write(0x00, 0xD0, 0x00, 0x10, len)}});
    }
    cases.push_back({"WriteEFKeySixteenBytes",
                     [] { const Bytes d = counting(16, 0x30); return OrvelWriteEFKey(kPort, 0x04, 0x81, 0x00, d.data()); },
                     {ok_reply()},
                     {cat({{0x60, 0x16, 0xDA, 0x04, 0xD6, 0x81, 0x00, 0x10}, counting(16, 0x30)})}});
    return cases;
}
INSTANTIATE_TEST_SUITE_P(PlainWrites, CommandBlockTest, ::testing::ValuesIn(plain_write_cases()), case_name);

// ---- MAC-variant writes -----------------------------------------------------

Bytes mac_write_header(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2, std::size_t len) {
    return cat({{0x60, static_cast<std::uint8_t>(len + 9), 0xDA, 0x04, ins, p1, p2, static_cast<std::uint8_t>(len + 3)},
                counting(len)});
}

std::vector<BlockCase> mac_write_cases() {
    std::vector<BlockCase> cases;
    const Key a = kKeyA, b = kKeyB;
    for (std::size_t len : {0, 4, 16, 115}) {
        const auto l = static_cast<unsigned char>(len);
        const std::string n = std::to_string(len);
        const Bytes upd = mac_write_header(0xD6, 0x00, 0x08, len);
        cases.push_back({"UpdBinLen" + n,
                         [len, a, b] { const Bytes d = counting(len); return OrvelUpdBin(kPort, 0x04, 0x00, 0x08, static_cast<int>(len), d.data(), a.data(), b.data()); },
                         two_phase(0x03, mac_answer(upd)), {with_mac(upd), get_response(0x03)}});
        const Bytes wr = mac_write_header(0xD0, 0x81, 0x00, len);
        cases.push_back({"WrBinLen" + n,
                         [l, len, a, b] { const Bytes d = counting(len); return OrvelWrBin(kPort, 0x04, 0x81, 0x00, l, d.data(), a.data(), b.data()); },
                         two_phase(0x03, mac_answer(wr)), {with_mac(wr), get_response(0x03)}});
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(MacWrites, CommandBlockTest, ::testing::ValuesIn(mac_write_cases()), case_name);

TEST(MacWriteLayout, FifteenAndOneHundredTwentySixByteBlocks) {
    const Bytes small = with_mac(mac_write_header(0xD6, 0x00, 0x00, 4));
    EXPECT_EQ(small.size(), 15u);
    EXPECT_EQ(small[1], 0x0D);
    EXPECT_EQ(small[7], 0x07);
    const Bytes largest = with_mac(mac_write_header(0xD6, 0x00, 0x00, 115));
    EXPECT_EQ(largest.size(), 126u);
    EXPECT_EQ(largest[1], 0x7C);
    EXPECT_EQ(largest[7], 0x76);
}

// ---- File creation ----------------------------------------------------------

Bytes create_block(std::uint8_t p1, std::uint8_t p3, std::uint16_t size, const Bytes& extra) {
    return cat({{0x60, static_cast<std::uint8_t>(p3 + 6), 0xDA, 0x84, 0xE0, p1, 0x00, p3},
                {0x12, 0x34, 0x56, 0x78, static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size),
                 0x9A, 0xBC, 0xDE, 0xF0, 0x0F, 0xED},
                extra});
}

std::vector<BlockCase> create_cases() {
    struct Row {
        const char* name;
        std::uint8_t p1, p3;
        std::uint16_t size;
        std::size_t extra;  // bytes of extra that must go out
    };
    const Row rows[] = {
        {"P1_00_NoExtraWhateverTheSize", 0x00, 15, 5, 0},
        {"P1_01_Size0", 0x01, 15, 0, 0},
        {"P1_01_Size5", 0x01, 20, 5, 5},
        {"P1_01_Size20CutTo16", 0x01, 31, 0x0014, 16},
        {"P3AsGivenLnFromP3", 0x01, 0x40, 2, 2},
    };
    std::vector<BlockCase> cases;
    const Key a = kKeyA, b = kKeyB;
    for (const Row& r : rows) {
        const Bytes block = create_block(r.p1, r.p3, r.size, counting(r.extra, 0xC0));
        cases.push_back({r.name,
                         [r, a, b] {
                             const Bytes extra = counting(20, 0xC0);
                             return OrvelCreate(kPort, 0x84, r.p1, r.p3, 0x1234, 0x56, 0x78, r.size, 0x9ABC,
                                                0xDEF0, 0x0FED, extra.data(), a.data(), b.data());
                         },
                         two_phase(0x05, mac_answer(block)), {with_mac(block), get_response(0x05)}});
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Create, CommandBlockTest, ::testing::ValuesIn(create_cases()), case_name);

TEST(CreateLayout, BlockLengths) {
    EXPECT_EQ(with_mac(create_block(0x00, 15, 5, {})).size(), 23u);
    EXPECT_EQ(with_mac(create_block(0x01, 20, 5, counting(5))).size(), 28u);
    EXPECT_EQ(with_mac(create_block(0x01, 31, 0x14, counting(16))).size(), 39u);
}

// ---- Purse operations -------------------------------------------------------

std::vector<BlockCase> purse_cases() {
    std::vector<BlockCase> cases;
    cases.push_back({"SelPKMasksP2",
                     [] {
                         const Bytes d = counting(8, 0x20);
                         std::array<unsigned char, 5> head{};
                         std::array<unsigned char, 4> tail{};
                         return OrvelSelPK(kPort, 0x80, 0x01, 0x1F, 0x77, d.data(), head.data(), tail.data());
                     },
                     two_phase(0x08, counting(8)),
                     {cat({{0x60, 0x10, 0xDA, 0x80, 0x30, 0x01, 0x0F, 0x0A, 0x00, 0x77}, counting(8, 0x20)}),
                      get_response(0x08)}});
    cases.push_back({"RdBalMasksP2",
                     [] {
                         const Bytes d = counting(4, 0x40);
                         std::array<unsigned char, 4> balance{};
                         std::array<unsigned char, 3> tail{};
                         return OrvelRdBal(kPort, 0x80, 0x1F, d.data(), balance.data(), tail.data());
                     },
                     two_phase(0x06, counting(6)),
                     {cat({{0x60, 0x0A, 0xDA, 0x80, 0x32, 0x00, 0x0F, 0x04}, counting(4, 0x40)}), get_response(0x06)}});
    cases.push_back({"CreditOneExchange",
                     [] {
                         const Bytes amount{0x00, 0x27, 0x10}, d = counting(8, 0x50);
                         return OrvelCredit(kPort, 0x80, 0x02, amount.data(), d.data());
                     },
                     {ok_reply()},
                     {cat({{0x60, 0x12, 0xDA, 0x80, 0x36, 0x02, 0x00, 0x0C, 0x00, 0x00, 0x27, 0x10}, counting(8, 0x50)})}});
    const std::pair<int, Bytes> debits[] = {
        {1000, {0x00, 0x03, 0xE8}}, {100000, {0x01, 0x86, 0xA0}}, {0, {0x00, 0x00, 0x00}}, {0xFFFFFF, {0xFF, 0xFF, 0xFF}}};
    for (const auto& debit : debits) {
        const int amount = debit.first;
        const Bytes& bytes = debit.second;
        cases.push_back({"DebitAmount" + std::to_string(amount),
                         [amount] {
                             const Bytes d = counting(4, 0x60);
                             std::array<unsigned char, 3> out{};
                             return OrvelDebit(kPort, 0x80, d.data(), amount, out.data());
                         },
                         two_phase(0x02, {0x11, 0x22}),
                         {cat({{0x60, 0x0B, 0xDA, 0x80, 0x34, 0x00}, bytes, counting(4, 0x60)}), get_response(0x02)}});
    }
    struct PurseValue {
        std::uint8_t short_id, p1;
        Bytes c;
        std::uint8_t c_check;
    };
    const PurseValue values[] = {{0x01, 0x81, {0x12, 0x34, 0x56}, 0x8F},
                                 {0x80, 0x00, {0x00, 0x00, 0x00}, 0xFF},
                                 {0xFF, 0x7F, {0xFF, 0x00, 0x0F}, 0x0F}};
    for (const auto& v : values) {
        char name[40];
        std::snprintf(name, sizeof name, "UpdatePurseValueShortId%02X", v.short_id);
        const Bytes record = cat({{0xA1, 0xA2, 0xA3, 0x5A, 0xB1, 0xB2, 0xB3, 0x00}, v.c, {v.c_check},
                                  {0xD1, 0xD2, 0xD3, static_cast<std::uint8_t>(0xD1 ^ 0xD2 ^ 0xD3 ^ 0xFF)},
                                  {0x00, 0x00, 0x00, 0x00}});
        cases.push_back({name,
                         [v] {
                             const Bytes a{0xA1, 0xA2, 0xA3}, b{0xB1, 0xB2, 0xB3}, d{0xD1, 0xD2, 0xD3};
                             return OrvelUpdatePurseValue(kPort, 0x5A, 0x0E02, v.short_id, a.data(), b.data(),
                                                          v.c.data(), d.data());
                         },
                         {more_data_reply(0x0A), ok_reply(), ok_reply()},
                         {{0x60, 0x08, 0xDA, 0x00, 0xA4, 0x02, 0x00, 0x02, 0x0E, 0x02}, get_response(0x0A),
                          cat({{0x60, 0x1A, 0xDA, 0x00, 0xD6, v.p1, 0x00, 0x14}, record})}});
    }
    return cases;
}
INSTANTIATE_TEST_SUITE_P(Purse, CommandBlockTest, ::testing::ValuesIn(purse_cases()), case_name);

// ---- What the commands hand back --------------------------------------------

using CommandOutputTest = CardLineTest;

struct ReadCopyCase {
    const char* name;
    std::uint8_t le;
    Bytes data;  // what the card returns before SW1 SW2
};

class ReadCopyTest : public CardLineTest, public ::testing::WithParamInterface<ReadCopyCase> {};

// Le bytes from reply offset 3 and a 0x00; when the card returns fewer, the
// copy runs on into SW1 SW2, the reply's check character, then zeros.
TEST_P(ReadCopyTest, CopiesLeBytesFromTheReplyAndAZero) {
    const auto& c = GetParam();
    const Reply reply = ok_reply(c.data);
    reader().script({reply});
    std::array<unsigned char, 160> out;
    out.fill(0xEE);
    ASSERT_EQ(OrvelRdBin(kPort, 0x00, 0x00, 0x00, c.le, out.data()), 0);
    Bytes expected = testing_support::decode_frame(reply.bytes);
    expected.erase(expected.begin(), expected.begin() + 3);
    expected.resize(c.le, 0x00);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + c.le), expected);
    EXPECT_EQ(out[c.le], 0x00);
    EXPECT_EQ(out[c.le + 1], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(Reads, ReadCopyTest,
                         ::testing::Values(ReadCopyCase{"LeZero", 0, counting(4)},
                                           ReadCopyCase{"Exact", 8, counting(8)},
                                           ReadCopyCase{"CardSendsMore", 4, counting(8)},
                                           ReadCopyCase{"CardSendsLess", 8, counting(2)},
                                           ReadCopyCase{"Largest", 121, counting(121)}),
                         [](const auto& info) { return std::string(info.param.name); });

class GetInfoCopyTest : public CardLineTest,
                        public ::testing::WithParamInterface<std::pair<std::uint8_t, std::size_t>> {};

TEST_P(GetInfoCopyTest, CopiesTheLengthItsP2AsksFor) {
    const auto [p2, le] = GetParam();
    reader().script({ok_reply(counting(16, 0x41))});
    std::array<unsigned char, 32> out;
    out.fill(0xEE);
    ASSERT_EQ(OrvelGetInfo(kPort, 0x80, 0x02, p2, out.data()), 0);
    EXPECT_EQ(Bytes(out.begin(), out.begin() + le), counting(le, 0x41));
    EXPECT_EQ(out[le], 0x00);
    EXPECT_EQ(out[le + 1], 0xEE);
}

INSTANTIATE_TEST_SUITE_P(P2, GetInfoCopyTest,
                         ::testing::Values(std::pair<std::uint8_t, std::size_t>{0x00, 0}, std::pair<std::uint8_t, std::size_t>{0xA1, 8},
                                           std::pair<std::uint8_t, std::size_t>{0xA3, 4}, std::pair<std::uint8_t, std::size_t>{0xA4, 13},
                                           std::pair<std::uint8_t, std::size_t>{0x06, 2}, std::pair<std::uint8_t, std::size_t>{0x99, 0}));

TEST_F(CommandOutputTest, SelPKHandsBackHeadAndTail) {
    reader().script(two_phase(0x08, counting(8, 0x31)));  // reply bytes 3..10 = 31..38
    const Bytes d = counting(8);
    std::array<unsigned char, 6> head;
    std::array<unsigned char, 5> tail;
    head.fill(0xEE);
    tail.fill(0xEE);
    ASSERT_EQ(OrvelSelPK(kPort, 0x80, 0x00, 0x01, 0x00, d.data(), head.data(), tail.data()), 0);
    EXPECT_EQ(Bytes(head.begin(), head.end()), (Bytes{0x31, 0x32, 0x33, 0x34, 0x00, 0xEE}));
    EXPECT_EQ(Bytes(tail.begin(), tail.end()), (Bytes{0x36, 0x37, 0x38, 0x00, 0xEE}));
}

TEST_F(CommandOutputTest, RdBalHandsBackBalanceAndTail) {
    reader().script(two_phase(0x06, {0x99, 0x00, 0x27, 0x10, 0x55, 0x66}));
    const Bytes d = counting(4);
    std::array<unsigned char, 5> balance;
    std::array<unsigned char, 4> tail;
    balance.fill(0xEE);
    tail.fill(0xEE);
    ASSERT_EQ(OrvelRdBal(kPort, 0x80, 0x01, d.data(), balance.data(), tail.data()), 0);
    EXPECT_EQ(Bytes(balance.begin(), balance.end()), (Bytes{0x00, 0x27, 0x10, 0x00, 0xEE}));
    EXPECT_EQ(Bytes(tail.begin(), tail.end()), (Bytes{0x55, 0x66, 0x00, 0xEE}));
}

TEST_F(CommandOutputTest, DebitHandsBackTheFollowUpsStatusAndTheByteAfterIt) {
    reader().script({more_data_reply(0x02), Reply::block(testing_support::reply_block(0xE7, Bytes{0x4A, 0x90, 0x00}))});
    const Bytes d = counting(4);
    std::array<unsigned char, 4> out;
    out.fill(0xEE);
    ASSERT_EQ(OrvelDebit(kPort, 0x80, d.data(), 1000, out.data()), 0);
    EXPECT_EQ(Bytes(out.begin(), out.end()), (Bytes{0xE7, 0x4A, 0x00, 0xEE}));
}

TEST_F(CommandOutputTest, FollowUpReplyShorterThanTheCopyReadsAsZeros) {
    // The follow-up's reply is only header, status and SW1 SW2 (and a check
    // character); RdBal copies offsets 4..8.
    reader().script({more_data_reply(0x00), Reply::text("600300900093\x03")});
    const Bytes d = counting(4);
    std::array<unsigned char, 4> balance;
    std::array<unsigned char, 3> tail;
    ASSERT_EQ(OrvelRdBal(kPort, 0x80, 0x01, d.data(), balance.data(), tail.data()), 0);
    EXPECT_EQ(Bytes(balance.begin(), balance.end()), (Bytes{0x00, 0x93, 0x00, 0x00}));
    EXPECT_EQ(Bytes(tail.begin(), tail.end()), (Bytes{0x00, 0x00, 0x00}));
}

}  // namespace
}  // namespace card_test
