// Block check characters, hex text and BCD: documented values, the bytes
// each function may write and no more, and clamped counts.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "tarvex.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kCanary = 0xA5;
constexpr std::size_t kArena = 600;

// A buffer filled with a canary value, so a test can prove which bytes a
// function wrote and that it wrote no others.
struct Arena {
    std::array<std::uint8_t, kArena> bytes;
    Arena() { bytes.fill(kCanary); }
    unsigned char* data() { return bytes.data(); }
    char* chars() { return reinterpret_cast<char*>(bytes.data()); }
    // Index of the last byte that is not the canary, plus one.
    std::size_t written_extent() const {
        for (std::size_t i = bytes.size(); i > 0; --i) {
            if (bytes[i - 1] != kCanary) return i;
        }
        return 0;
    }
};

// ---- Check character makers -------------------------------------------------

struct MakeCase {
    const char* name;
    void (*make)(unsigned char*, int);
    Bytes block;
    int count;
    Bytes expected;  // the whole arena prefix after the call
};

class BccMake : public testing::TestWithParam<MakeCase> {};

TEST_P(BccMake, WritesCheckCharactersAndTerminatorOnly) {
    const auto& c = GetParam();
    Arena a;
    std::copy(c.block.begin(), c.block.end(), a.bytes.begin());
    c.make(a.data(), c.count);
    ASSERT_EQ(a.written_extent(), c.expected.size());
    EXPECT_EQ(Bytes(a.bytes.begin(), a.bytes.begin() + c.expected.size()), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BccMake,
    testing::Values(
        MakeCase{"OneByteReaderBlock", Make_1Byte_BCC, {0x60, 0x04, 0x6E, 0x02, 0x00, 0x00}, 6,
                 {0x60, 0x04, 0x6E, 0x02, 0x00, 0x00, 0x08, 0x00}},
        MakeCase{"OneByteCountZero", Make_1Byte_BCC, {0x55}, 0, {0x00, 0x00}},
        MakeCase{"OneByteNegativeCountActsAsZero", Make_1Byte_BCC, {0x55}, -7, {0x00, 0x00}},
        MakeCase{"TwoByteXorThenSum", Make_2Byte_BCC, {0x01, 0x02, 0xFF}, 3, {0x01, 0x02, 0xFF, 0xFC, 0x02, 0x00}},
        MakeCase{"TwoByteCountZero", Make_2Byte_BCC, {0x55}, 0, {0x00, 0x00, 0x00}},
        MakeCase{"TwoByteNegativeCountActsAsZero", Make_2Byte_BCC, {0x55}, -1, {0x00, 0x00, 0x00}},
        MakeCase{"TwoByteSumWrapsModulo256", Make_2Byte_BCC, {0x80, 0x80, 0x01}, 3,
                 {0x80, 0x80, 0x01, 0x01, 0x01, 0x00}}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Check character checkers -----------------------------------------------

struct CheckCase {
    const char* name;
    bool (*check)(const unsigned char*, int);
    Bytes block;  // data followed by the stored check characters
    int count;
    bool expected;
};

class BccCheck : public testing::TestWithParam<CheckCase> {};

TEST_P(BccCheck, ComparesStoredCharacters) {
    const auto& c = GetParam();
    EXPECT_EQ(c.check(c.block.data(), c.count), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Tables, BccCheck,
    testing::Values(
        CheckCase{"OneByteMatch", Check_1Byte_BCC, {0x60, 0x04, 0x6E, 0x02, 0x00, 0x00, 0x08}, 6, true},
        CheckCase{"OneByteMismatch", Check_1Byte_BCC, {0x60, 0x04, 0x6E, 0x02, 0x00, 0x00, 0x09}, 6, false},
        CheckCase{"OneByteCountZeroAcceptsZero", Check_1Byte_BCC, {0x00}, 0, true},
        CheckCase{"OneByteCountZeroRejectsNonZero", Check_1Byte_BCC, {0x01}, 0, false},
        CheckCase{"OneByteNegativeCountLooksAtFirstByte", Check_1Byte_BCC, {0x00}, -3, true},
        CheckCase{"TwoByteMatch", Check_2Byte_BCC, {0x01, 0x02, 0xFF, 0xFC, 0x02}, 3, true},
        CheckCase{"TwoByteXorRightSumWrong", Check_2Byte_BCC, {0x01, 0x02, 0xFF, 0xFC, 0x03}, 3, false},
        CheckCase{"TwoByteSumRightXorWrong", Check_2Byte_BCC, {0x01, 0x02, 0xFF, 0xFD, 0x02}, 3, false},
        CheckCase{"TwoByteCountZero", Check_2Byte_BCC, {0x00, 0x00}, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(BccRoundTrip, EveryMadeBlockChecks) {
    std::mt19937 rng(7);
    for (int n : {1, 2, 17, 126, 255}) {
        std::vector<unsigned char> block(static_cast<std::size_t>(n) + 3);
        for (int i = 0; i < n; ++i) block[static_cast<std::size_t>(i)] = static_cast<unsigned char>(rng());
        Make_2Byte_BCC(block.data(), n);
        EXPECT_TRUE(Check_2Byte_BCC(block.data(), n)) << n;
        EXPECT_TRUE(Check_1Byte_BCC(block.data(), n)) << n;
        block[0] ^= 0x40;
        EXPECT_FALSE(Check_1Byte_BCC(block.data(), n)) << n;
    }
}

// ---- Bytes to hex text ------------------------------------------------------

struct EncodeCase {
    const char* name;
    void (*encode)(char*, const unsigned char*, int);
    Bytes source;
    int count;
    std::string expected;  // every character written, a NUL included
};

class HexEncode : public testing::TestWithParam<EncodeCase> {};

TEST_P(HexEncode, WritesDigitsAndNoMore) {
    const auto& c = GetParam();
    Arena a;
    c.encode(a.chars(), c.source.data(), c.count);
    ASSERT_EQ(a.written_extent(), c.expected.size());
    EXPECT_EQ(std::string(a.chars(), c.expected.size()), c.expected);
}

Bytes sequence(std::size_t n) {
    Bytes b(n);
    for (std::size_t i = 0; i < n; ++i) b[i] = static_cast<std::uint8_t>(i * 37 + 11);
    return b;
}

std::string printf_hex(const Bytes& b, std::size_t n) {
    std::string s;
    char pair[3];
    for (std::size_t i = 0; i < n; ++i) {
        std::snprintf(pair, sizeof pair, "%02X", b[i]);
        s += pair;
    }
    return s;
}

const Bytes kLongSource = sequence(300);

INSTANTIATE_TEST_SUITE_P(
    Tables, HexEncode,
    testing::Values(
        EncodeCase{"HexStrReaderFrame", Ascii_To_HexStr, {0x60, 0x02, 0x4D, 0x00, 0x2F}, 5,
                   std::string("60024D002F") + '\0'},
        EncodeCase{"HexStrCountZeroWritesNul", Ascii_To_HexStr, {0x12}, 0, std::string(1, '\0')},
        EncodeCase{"HexStrNegativeCountWritesNul", Ascii_To_HexStr, {0x12}, -5, std::string(1, '\0')},
        EncodeCase{"HexStrLargestCount", Ascii_To_HexStr, kLongSource, 127,
                   printf_hex(kLongSource, 127) + '\0'},
        EncodeCase{"HexStrCountAboveLimitClampedTo127", Ascii_To_HexStr, kLongSource, 300,
                   printf_hex(kLongSource, 127) + '\0'},
        EncodeCase{"BcdNoTerminator", Bcd_To_Ascii, {0x12, 0xAB}, 2, "12AB"},
        EncodeCase{"BcdCountZeroWritesNothing", Bcd_To_Ascii, {0x12}, 0, ""},
        EncodeCase{"BcdNegativeCountWritesNothing", Bcd_To_Ascii, {0x12}, -1, ""},
        EncodeCase{"BcdHasNoLimit", Bcd_To_Ascii, kLongSource, 200, printf_hex(kLongSource, 200)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexEncodeAllBytes, UppercaseDigitsAsPrintf) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
    std::array<char, 513> text{};
    Bcd_To_Ascii(text.data(), all.data(), 256);
    EXPECT_EQ(std::string(text.data(), 512), printf_hex(all, 256));
}

// ---- Hex text to bytes ------------------------------------------------------

struct DecodeCase {
    const char* name;
    void (*decode)(unsigned char*, const char*, int);
    std::string source;
    int count;
    Bytes expected;  // every byte written, the terminator included
};

class HexDecode : public testing::TestWithParam<DecodeCase> {};

TEST_P(HexDecode, WritesBytesAndNoMore) {
    const auto& c = GetParam();
    Arena a;
    c.decode(a.data(), c.source.c_str(), c.count);
    // The canary itself can be a decoded value; compare the prefix and make
    // sure nothing beyond it changed.
    EXPECT_EQ(Bytes(a.bytes.begin(), a.bytes.begin() + c.expected.size()), c.expected);
    for (std::size_t i = c.expected.size(); i < a.bytes.size(); ++i) {
        ASSERT_EQ(a.bytes[i], kCanary) << "wrote at index " << i;
    }
}

std::string repeated_digits(std::size_t n) {
    std::string s;
    for (std::size_t i = 0; i < n; ++i) s += "0123456789abcdef"[i % 16];
    return s;
}

Bytes decoded_digits(std::size_t chars) {
    Bytes b;
    const std::string s = repeated_digits(chars);
    for (std::size_t i = 0; i < chars; i += 2) {
        b.push_back(static_cast<std::uint8_t>(std::stoi(s.substr(i, 2), nullptr, 16)));
    }
    return b;
}

Bytes with_zero(Bytes b) {
    b.push_back(0x00);
    return b;
}

INSTANTIATE_TEST_SUITE_P(
    Tables, HexDecode,
    testing::Values(
        DecodeCase{"HexStrLowercase", HexStr_To_Ascii, "3f01", 4, {0x3F, 0x01, 0x00}},
        DecodeCase{"HexStrMixedCase", HexStr_To_Ascii, "aBcD", 4, {0xAB, 0xCD, 0x00}},
        DecodeCase{"HexStrNonDigitG", HexStr_To_Ascii, "G1", 2, {0x01, 0x00}},
        DecodeCase{"HexStrColonAndSpace", HexStr_To_Ascii, ": g9", 4, {0x30, 0x09, 0x00}},
        DecodeCase{"HexStrCountZero", HexStr_To_Ascii, "12", 0, {0x00}},
        DecodeCase{"HexStrNegativeCount", HexStr_To_Ascii, "12", -4, {0x00}},
        DecodeCase{"HexStrOddCountLowNibbleZero", HexStr_To_Ascii, "123", 3, {0x12, 0x30, 0x00}},
        DecodeCase{"HexStrOddCountIgnoresNextChar", HexStr_To_Ascii, "12FF", 3, {0x12, 0xF0, 0x00}},
        DecodeCase{"HexStrLargestCount", HexStr_To_Ascii, repeated_digits(256), 256,
                   with_zero(decoded_digits(256))},
        DecodeCase{"HexStrCountAboveLimitClampedTo256", HexStr_To_Ascii, repeated_digits(400), 400,
                   with_zero(decoded_digits(256))},
        DecodeCase{"BcdNoTerminator", Ascii_To_Bcd, "1234", 4, {0x12, 0x34}},
        DecodeCase{"BcdCountZero", Ascii_To_Bcd, "12", 0, {}},
        DecodeCase{"BcdNegativeCount", Ascii_To_Bcd, "12", -1, {}},
        DecodeCase{"BcdOddCountLowNibbleZero", Ascii_To_Bcd, "ABC", 3, {0xAB, 0xC0}},
        DecodeCase{"BcdCountAboveLimitClampedTo256", Ascii_To_Bcd, repeated_digits(300), 300,
                   decoded_digits(256)}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(HexRoundTrip, EncodedTextDecodesToTheSameBytes) {
    std::mt19937 rng(11);
    for (int n : {1, 8, 64, 127}) {
        Bytes src(static_cast<std::size_t>(n));
        for (auto& b : src) b = static_cast<std::uint8_t>(rng());
        std::vector<char> text(2 * src.size() + 1);
        Ascii_To_HexStr(text.data(), src.data(), n);
        Bytes back(src.size() + 1, 0xEE);
        HexStr_To_Ascii(back.data(), text.data(), 2 * n);
        EXPECT_EQ(Bytes(back.begin(), back.end() - 1), src);
        EXPECT_EQ(back.back(), 0x00);
    }
}

}  // namespace
