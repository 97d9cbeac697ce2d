// The card library's cipher helpers on hex text: two-key triple DES, the
// CBC-MAC, and the ExOr / MakeLrc / GetSum check-digit arithmetic.
//
// Triple-DES and MAC answers come from an independent implementation
// (OpenSSL's two-key EDE in ECB and CBC mode, zero IV), so that a swapped key
// half, a wrong step order or a wrong padding shows up here; the rows with
// equal key halves reduce to published single-DES answers.
#include <gtest/gtest.h>

#include <array>
#include <ostream>
#include <string>

#include "guarded_buffer.h"
#include "orvel.h"

namespace {

using cipher_test::GuardedBuffer;

constexpr std::size_t kTripleDesExtent = 17;  // 16 characters and a NUL
constexpr std::size_t kMacExtent = 16;        // no terminator

// ---- Triple DES -----------------------------------------------------------

struct TripleDesCase {
    const char* name;
    const char* key1;
    const char* key2;
    const char* plain;
    const char* cipher;
};

const TripleDesCase kTripleDesCases[] = {
    {"distinct_halves", "0123456789ABCDEF", "FEDCBA9876543210", "0123456789ABCDEF",
     "1A4D672DCA6CB335"},
    {"distinct_halves_swapped", "FEDCBA9876543210", "0123456789ABCDEF", "0123456789ABCDEF",
     "E02E4FD4DC850651"},
    {"worked_example_key", "133457799BBCDFF1", "0E329232EA6D0D73", "4E6F772069732074",
     "809806A181814C55"},
    {"rotated_key", "0123456789ABCDEF", "23456789ABCDEF01", "5468652071756663",
     "C44862F70CF2FBDC"},
    // Equal halves: E(k, D(k, E(k, x))) is single DES under k.
    {"equal_halves_is_single_des", "0123456789ABCDEF", "0123456789ABCDEF",
     "4E6F772069732074", "3FA40E8A984D4815"},
};

void PrintTo(const TripleDesCase& c, std::ostream* os) { *os << c.name; }

class TripleDes : public ::testing::TestWithParam<TripleDesCase> {};

TEST_P(TripleDes, EncryptionGivesTheKnownAnswerWithinSeventeenBytes) {
    const auto& c = GetParam();
    GuardedBuffer out(kTripleDesExtent);
    Triple_DES_Encryption(c.plain, out.data(), c.key1, c.key2);
    EXPECT_EQ(out.text(16), c.cipher);
    EXPECT_TRUE(out.untouched_outside(kTripleDesExtent));

    GuardedBuffer same(kTripleDesExtent);
    MakeTemSysKey(c.plain, c.key1, c.key2, same.data());
    EXPECT_EQ(same.text(16), c.cipher);
    EXPECT_TRUE(same.untouched_outside(kTripleDesExtent));
}

TEST_P(TripleDes, DecryptionUndoesItOnlyWithTheKeysExchanged) {
    const auto& c = GetParam();
    GuardedBuffer back(kTripleDesExtent);
    Triple_DES_Decryption(c.cipher, back.data(), c.key2, c.key1);
    EXPECT_EQ(back.text(16), c.plain);
    EXPECT_TRUE(back.untouched_outside(kTripleDesExtent));

    char same_order[kTripleDesExtent];
    Triple_DES_Decryption(c.cipher, same_order, c.key1, c.key2);
    if (std::string(c.key1) == c.key2) {
        EXPECT_EQ(std::string(same_order, 16), c.plain);
    } else {
        EXPECT_NE(std::string(same_order, 16), c.plain);
    }
}

TEST_P(TripleDes, ReadsOnlyTheFirstSixteenInputCharacters) {
    const auto& c = GetParam();
    const std::string longer = std::string(c.plain) + "0123456789ABCDEF";
    char out[kTripleDesExtent];
    Triple_DES_Encryption(longer.c_str(), out, c.key1, c.key2);
    EXPECT_EQ(std::string(out, 16), c.cipher);
}

INSTANTIATE_TEST_SUITE_P(Vectors, TripleDes, ::testing::ValuesIn(kTripleDesCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- MakeMac --------------------------------------------------------------

constexpr std::array<unsigned char, 8> kMacKey1 = {0x01, 0x23, 0x45, 0x67,
                                                   0x89, 0xAB, 0xCD, 0xEF};
constexpr std::array<unsigned char, 8> kMacKey2 = {0xFE, 0xDC, 0xBA, 0x98,
                                                   0x76, 0x54, 0x32, 0x10};

// Uppercase hex text of any length, the same for every run.
std::string pattern_text(std::size_t length) {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string text;
    for (std::size_t i = 0; i < length; ++i) text += digits[(i * 7 + 3) % 16];
    return text;
}

struct MacCase {
    const char* name;
    std::string text;
    const char* mac;
};

const MacCase kMacCases[] = {
    {"empty_is_the_initial_value", "", "0000000000000000"},
    {"one_block_no_padding", "0123456789ABCDEF", "1A4D672DCA6CB335"},
    {"seventeen_chars_pad_to_two_blocks", "84D60000040000001", "239EBDC75AD0B12A"},
    {"explicit_padding_same_mac", "84D60000040000001000000000000000", "239EBDC75AD0B12A"},
    {"sixteen_chars_differ", "84D6000004000000", "6659146B07EA50C4"},
    {"beyond_240_chars", pattern_text(241), "3B47E71F2B164F21"},
    {"512_chars", pattern_text(512), "7CDAC500687C0170"},
};

void PrintTo(const MacCase& c, std::ostream* os) { *os << c.name; }

class Mac : public ::testing::TestWithParam<MacCase> {};

TEST_P(Mac, WritesTheSixteenMacCharactersAndNothingMore) {
    const auto& c = GetParam();
    GuardedBuffer out(kMacExtent + 1);  // output[16] must stay as it was
    MakeMac(c.text.c_str(), out.data(), kMacKey1.data(), kMacKey2.data());
    EXPECT_EQ(out.text(16), c.mac);
    EXPECT_TRUE(out.untouched_outside(kMacExtent));
}

INSTANTIATE_TEST_SUITE_P(Texts, Mac, ::testing::ValuesIn(kMacCases),
                         [](const auto& info) { return info.param.name; });

TEST(MacProperties, OneBlockIsTripleDesOfThatBlock) {
    const std::string block = "84D6000004000000";
    char mac[kMacExtent];
    MakeMac(block.c_str(), mac, kMacKey1.data(), kMacKey2.data());
    char expected[kTripleDesExtent];
    Triple_DES_Encryption(block.c_str(), expected, "0123456789ABCDEF", "FEDCBA9876543210");
    EXPECT_EQ(std::string(mac, 16), std::string(expected, 16));
}

TEST(MacProperties, EveryBlockOfALongTextCounts) {
    // A change in the last character of a 300-character text changes the MAC.
    auto text = pattern_text(300);
    char first[kMacExtent];
    MakeMac(text.c_str(), first, kMacKey1.data(), kMacKey2.data());
    text.back() = text.back() == '0' ? '1' : '0';
    char second[kMacExtent];
    MakeMac(text.c_str(), second, kMacKey1.data(), kMacKey2.data());
    EXPECT_NE(std::string(first, 16), std::string(second, 16));
}

TEST(MacProperties, KeyOrderMatters) {
    const std::string text = "0123456789ABCDEF";
    char forward[kMacExtent];
    char swapped[kMacExtent];
    MakeMac(text.c_str(), forward, kMacKey1.data(), kMacKey2.data());
    MakeMac(text.c_str(), swapped, kMacKey2.data(), kMacKey1.data());
    EXPECT_EQ(std::string(swapped, 16), "E02E4FD4DC850651");
    EXPECT_NE(std::string(forward, 16), std::string(swapped, 16));
}

// ---- ExOr -----------------------------------------------------------------

struct ExOrCase {
    const char* name;
    const char* first;
    const char* second;
    const char* expected;
};

const ExOrCase kExOrCases[] = {
    {"all_f_complements", "0123456789ABCDEF", "FFFFFFFFFFFFFFFF", "FEDCBA9876543210"},
    {"all_zero_copies", "0123456789ABCDEF", "0000000000000000", "0123456789ABCDEF"},
    {"digit_pairs", "0F0F0F0F12345678", "F0F0F0F0ABCDEF01", "FFFFFFFFB9F9B979"},
    // Lowercase letters are not digits here: 'a' is worth 42.
    {"lowercase_with_digit", "aaaaaaaaaaaaaaaa", "1111111111111111", "bbbbbbbbbbbbbbbb"},
    {"lowercase_with_upper", "aaaaaaaaaaaaaaaa", "AAAAAAAAAAAAAAAA", "WWWWWWWWWWWWWWWW"},
};

void PrintTo(const ExOrCase& c, std::ostream* os) { *os << c.name; }

class ExOrDigits : public ::testing::TestWithParam<ExOrCase> {};

TEST_P(ExOrDigits, WritesSixteenCharactersNoTerminator) {
    const auto& c = GetParam();
    GuardedBuffer out(kMacExtent + 1);
    ExOr(c.first, out.data(), c.second);
    EXPECT_EQ(out.text(16), c.expected);
    EXPECT_TRUE(out.untouched_outside(16));
}

INSTANTIATE_TEST_SUITE_P(Operands, ExOrDigits, ::testing::ValuesIn(kExOrCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- MakeLrc --------------------------------------------------------------

struct LrcCase {
    const char* name;
    std::string text;
    int count;
    std::string expected;  // the text afterwards, up to the NUL written
    std::size_t extent;    // bytes the call may write: count + 3
};

LrcCase lrc_case(const char* name, std::string text, int count, std::string expected) {
    auto extent = static_cast<std::size_t>(count < 0 ? 0 : count) + 3;
    return {name, std::move(text), count, std::move(expected), extent};
}

const LrcCase kLrcCases[] = {
    lrc_case("two_bytes", "0102", 4, "010203"),
    lrc_case("two_bytes_letters", "A5F0", 4, "A5F055"),
    lrc_case("odd_count_skips_last_char", "010", 3, "01001"),
    lrc_case("empty", "", 0, "00"),
    // Above the old 256-character working copy: computed in place.
    lrc_case("beyond_256_chars", "A5" + std::string(298, '0'), 300,
             "A5" + std::string(298, '0') + "A5"),
    lrc_case("beyond_256_chars_cancel", std::string(200, '7') + std::string(200, '7'), 400,
             std::string(400, '7') + "00"),
    // A negative count would reach before the text; it counts as 0.
    lrc_case("negative_count_is_zero", "", -5, "00"),
};

void PrintTo(const LrcCase& c, std::ostream* os) { *os << c.name; }

class Lrc : public ::testing::TestWithParam<LrcCase> {};

TEST_P(Lrc, AppendsTwoDigitsAndANulWithinCountPlusThree) {
    const auto& c = GetParam();
    GuardedBuffer text(c.extent, c.text);
    MakeLrc(text.data(), c.count);
    EXPECT_EQ(std::string(text.data()), c.expected);
    EXPECT_TRUE(text.untouched_outside(c.extent));
}

INSTANTIATE_TEST_SUITE_P(Texts, Lrc, ::testing::ValuesIn(kLrcCases),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- GetSum ---------------------------------------------------------------

struct SumCase {
    const char* name;
    std::string input;
    std::string check;  // output[0..1]
};

const SumCase kSumCases[] = {
    {"eleven_bytes", "0000000102030405060708", "F7"},
    {"all_zero", std::string(22, '0'), "FF"},
    {"all_ff", std::string(22, 'F'), "00"},
    // Only the 22 characters count, whatever follows them.
    {"reads_exactly_22", std::string(22, '0') + "1234", "FF"},
    // The arithmetic is on 16-bit values: 0x01 is worth 0xFFCA and 0xFC
    // 0x00C5, their XOR 0xFF0F complements to 0xFF00, above 9, so the digit
    // is 0xFF00 + 0x37, low byte '7' (8-bit arithmetic would give '0').
    {"sixteen_bit_arithmetic", std::string("\x01" "0" "\xFC" "0") + std::string(18, '0'), "7F"},
};

void PrintTo(const SumCase& c, std::ostream* os) { *os << c.name; }

class Sum : public ::testing::TestWithParam<SumCase> {};

TEST_P(Sum, WritesTwoDigitsAndTwoNulsExactly) {
    const auto& c = GetParam();
    GuardedBuffer out(4);
    GetSum(c.input.c_str(), out.data());
    EXPECT_EQ(out.text(2), c.check);
    EXPECT_EQ(out.data()[2], '\0');
    EXPECT_EQ(out.data()[3], '\0');
    EXPECT_TRUE(out.untouched_outside(4));
}

INSTANTIATE_TEST_SUITE_P(Inputs, Sum, ::testing::ValuesIn(kSumCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
