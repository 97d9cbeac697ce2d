// The DES service on hex text: published known answers and the text
// interface's contract (what it reads, what it writes, which keys it takes).
#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "ciphon.h"
#include "guarded_buffer.h"

namespace {

using cipher_test::GuardedBuffer;

constexpr std::size_t kOutputExtent = 17;  // 16 characters and a NUL

struct KnownAnswer {
    const char* name;
    const char* key;
    const char* plain;
    const char* cipher;
};

// FIPS 46-3's worked example, the ECB examples of FIPS 81 and rows of the
// variable-plaintext, variable-key, permutation and substitution tests of
// NIST SP 800-17.
const KnownAnswer kKnownAnswers[] = {
    {"worked_example", "133457799BBCDFF1", "0123456789ABCDEF", "85E813540F0AB405"},
    {"fips81_block1", "0123456789ABCDEF", "4E6F772069732074", "3FA40E8A984D4815"},
    {"fips81_block2", "0123456789ABCDEF", "68652074696D6520", "6A271787AB8883F9"},
    {"fips81_block3", "0123456789ABCDEF", "666F7220616C6C20", "893D51EC4B563B53"},
    {"variable_plain_bit1", "0101010101010101", "8000000000000000", "95F8A5E5DD31D900"},
    {"variable_plain_bit2", "0101010101010101", "4000000000000000", "DD7F121CA5015619"},
    {"variable_plain_bit64", "0101010101010101", "0000000000000001", "166B40B44ABA4BD6"},
    {"variable_key_bit1", "8001010101010101", "0000000000000000", "95A8D72813DAA94D"},
    {"variable_key_bit2", "4001010101010101", "0000000000000000", "0EEC1487DD8C26D5"},
    {"permutation", "1046913489980131", "0000000000000000", "88D55E54F54C97B4"},
    {"substitution1", "7CA110454A1A6E57", "01A1D6D039776742", "690F5B0D9A26939B"},
    {"substitution2", "0131D9619DC1376E", "5CD54CA83DEF57DA", "7A389D10354BD271"},
};

void PrintTo(const KnownAnswer& v, std::ostream* os) { *os << v.name; }

class DesKnownAnswer : public ::testing::TestWithParam<KnownAnswer> {};

TEST_P(DesKnownAnswer, EncryptsAndDecryptsWithinSeventeenBytes) {
    const auto& v = GetParam();
    GuardedBuffer out(kOutputExtent);
    EXPECT_EQ(DESencrypt(v.plain, out.data(), v.key), 0);
    EXPECT_EQ(out.text(16), v.cipher);
    EXPECT_EQ(out.data()[16], '\0');
    EXPECT_TRUE(out.untouched_outside(kOutputExtent));

    GuardedBuffer back(kOutputExtent);
    EXPECT_EQ(DESdecrypt(v.cipher, back.data(), v.key), 0);
    EXPECT_EQ(back.text(16), v.plain);
    EXPECT_TRUE(back.untouched_outside(kOutputExtent));
}

INSTANTIATE_TEST_SUITE_P(Published, DesKnownAnswer, ::testing::ValuesIn(kKnownAnswers),
                         [](const auto& info) { return std::string(info.param.name); });

std::string des(int (*service)(const char*, char*, const char*), const std::string& input,
                const std::string& key) {
    char out[kOutputExtent];
    service(input.c_str(), out, key.c_str());
    return std::string(out, 16);
}

struct Direction {
    const char* name;
    int (*service)(const char*, char*, const char*);
};
void PrintTo(const Direction& d, std::ostream* os) { *os << d.name; }

class DesServiceText : public ::testing::TestWithParam<Direction> {};

TEST_P(DesServiceText, ReadsOnlyTheFirstSixteenInputCharacters) {
    const std::string block = "0123456789ABCDEF";
    const std::string key = "133457799BBCDFF1";
    EXPECT_EQ(des(GetParam().service, block + "FEDCBA9876543210", key), des(GetParam().service, block, key));
    EXPECT_EQ(des(GetParam().service, block + "ZZZZ", key), des(GetParam().service, block, key));
}

TEST_P(DesServiceText, IgnoresKeyParityBits) {
    const std::string block = "0123456789ABCDEF";
    // The same 56 key bits with every parity bit (the low bit of each byte)
    // flipped, and with all of them clear.
    EXPECT_EQ(des(GetParam().service, block, "123556789ABDDEF0"), des(GetParam().service, block, "133457799BBCDFF1"));
    EXPECT_EQ(des(GetParam().service, block, "0000000000000000"), des(GetParam().service, block, "0101010101010101"));
}

TEST_P(DesServiceText, DecodesLowercaseAndAnswersInUppercase) {
    const auto upper = des(GetParam().service, "4E6F772069732074", "0123456789ABCDEF");
    const auto lower = des(GetParam().service, "4e6f772069732074", "0123456789abcdef");
    EXPECT_EQ(lower, upper);
    EXPECT_EQ(upper.find_first_of("abcdef"), std::string::npos);
}

TEST_P(DesServiceText, StopsAtTheEndOfAShortText) {
    // Texts of exactly their own size on the heap: reading past the NUL
    // would be caught by the address sanitizer. Missing digits count as 0.
    std::vector<char> input = {'8', '0', '\0'};
    std::vector<char> key = {'0', '1', '0', '1', '0', '1', '0', '1', '\0'};
    char out[kOutputExtent];
    GetParam().service(input.data(), out, key.data());
    EXPECT_EQ(std::string(out, 16), des(GetParam().service, "8000000000000000", "0101010100000000"));
}

INSTANTIATE_TEST_SUITE_P(BothDirections, DesServiceText,
                         ::testing::Values(Direction{"encrypt", &DESencrypt},
                                           Direction{"decrypt", &DESdecrypt}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
