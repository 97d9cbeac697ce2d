// CRC-16, both CRC-32 forms and byte order: documented values, a bitwise
// reference implementation on random data, and the exact bytes written.
#include <gtest/gtest.h>

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "tarvex.h"

namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr std::uint8_t kCanary = 0xA5;

class CrcTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        make_crc_table();
        make_crc32_table();
    }
};

// Bitwise references, independent of the tables.
std::uint16_t reference_crc16(const Bytes& data) {
    std::uint16_t r = 0;
    for (std::uint8_t b : data) {
        r ^= static_cast<std::uint16_t>(b << 8);
        for (int i = 0; i < 8; ++i) r = (r & 0x8000) ? static_cast<std::uint16_t>((r << 1) ^ 0x1021) : static_cast<std::uint16_t>(r << 1);
    }
    return r;
}

std::uint32_t reference_crc32_register(const Bytes& data) {
    std::uint32_t r = 0;
    for (std::uint8_t b : data) {
        r ^= b;
        for (int i = 0; i < 8; ++i) r = (r & 1) ? (r >> 1) ^ 0xEDB88320u : r >> 1;
    }
    return r;
}

std::uint8_t adjusted(std::uint8_t b) { return b < 0x20 ? static_cast<std::uint8_t>(b + 0x20) : b; }

Bytes digits() { return {'1', '2', '3', '4', '5', '6', '7', '8', '9'}; }

struct MakeCase {
    const char* name;
    enum Kind { crc16, crc32, crc32bin } kind;
    Bytes data;
    Bytes appended;
};

class CrcMake : public CrcTest, public testing::WithParamInterface<MakeCase> {};

TEST_P(CrcMake, AppendsTheDocumentedBytesAndNothingElse) {
    const auto& c = GetParam();
    std::vector<unsigned char> block(c.data.size() + 16, kCanary);
    std::copy(c.data.begin(), c.data.end(), block.begin());
    const auto n = c.data.size();
    switch (c.kind) {
        case MakeCase::crc16: Make_CRC(block.data(), static_cast<int>(n)); break;
        case MakeCase::crc32: Make_CRC32(block.data(), static_cast<uint32_t>(n)); break;
        case MakeCase::crc32bin: Make_CRC32Bin(block.data(), static_cast<uint32_t>(n)); break;
    }
    EXPECT_EQ(Bytes(block.begin() + static_cast<long>(n), block.begin() + static_cast<long>(n + c.appended.size())),
              c.appended);
    for (std::size_t i = n + c.appended.size(); i < block.size(); ++i) ASSERT_EQ(block[i], kCanary) << i;
    switch (c.kind) {
        case MakeCase::crc16: EXPECT_TRUE(Check_CRC(block.data(), static_cast<int>(n))); break;
        case MakeCase::crc32: EXPECT_TRUE(Check_CRC32(block.data(), static_cast<uint32_t>(n))); break;
        case MakeCase::crc32bin: EXPECT_TRUE(Check_CRC32Bin(block.data(), static_cast<uint32_t>(n))); break;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Tables, CrcMake,
    testing::Values(MakeCase{"Crc16Digits", MakeCase::crc16, digits(), {0x31, 0xC3}},
                    MakeCase{"Crc16SingleOneHighByteRaised", MakeCase::crc16, {0x01}, {0x30, 0x21}},
                    MakeCase{"Crc16TableEntry255", MakeCase::crc16, {0xFF}, {0x20 + 0x1E, 0xF0}},
                    MakeCase{"Crc16SingleZero", MakeCase::crc16, {0x00}, {0x20, 0x20}},
                    MakeCase{"Crc16Empty", MakeCase::crc16, {}, {0x20, 0x20}},
                    MakeCase{"Crc32Digits", MakeCase::crc32, digits(), {0x2D, 0xFD, 0x2D, 0x88}},
                    MakeCase{"Crc32TableEntry1", MakeCase::crc32, {0x01}, {0x77, 0x07, 0x30, 0x96}},
                    MakeCase{"Crc32TableEntry255", MakeCase::crc32, {0xFF}, {0x2D, 0x02, 0xEF, 0x8D}},
                    MakeCase{"Crc32Empty", MakeCase::crc32, {}, {0x00, 0x00, 0x00, 0x00}},
                    MakeCase{"Crc32BinDigits", MakeCase::crc32bin, digits(), {0x77, 0xD2, 0x02, 0xD2}},
                    MakeCase{"Crc32BinEmpty", MakeCase::crc32bin, {}, {0xFF, 0xFF, 0xFF, 0xFF}}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(CrcTest, Crc16NegativeCountCoversNothing) {
    std::array<unsigned char, 4> block{0x12, 0x34, kCanary, kCanary};
    Make_CRC(block.data(), -3);
    EXPECT_EQ(block, (std::array<unsigned char, 4>{0x20, 0x20, kCanary, kCanary}));
    EXPECT_TRUE(Check_CRC(block.data(), -3));
}

TEST_F(CrcTest, Crc16AdjustedByteAcceptsBothComputedValues) {
    // {0x01} computes high byte 0x10, stored as 0x30.
    const std::array<unsigned char, 3> raised{0x01, 0x30, 0x21};
    EXPECT_TRUE(Check_CRC(raised.data(), 1));
    // A single byte whose CRC-16 high byte is 0x30 as computed.
    int found = -1;
    for (int b = 0; b < 256 && found < 0; ++b) {
        if ((reference_crc16({static_cast<std::uint8_t>(b)}) >> 8) == 0x30) found = b;
    }
    ASSERT_GE(found, 0);
    const auto crc = reference_crc16({static_cast<std::uint8_t>(found)});
    const std::array<unsigned char, 3> plain{static_cast<unsigned char>(found), 0x30, adjusted(crc & 0xFF)};
    EXPECT_TRUE(Check_CRC(plain.data(), 1));
}

TEST_F(CrcTest, ChecksRejectOneChangedBit) {
    Bytes block = digits();
    block.resize(9 + 4);
    Make_CRC(block.data(), 9);
    block[4] ^= 0x01;
    EXPECT_FALSE(Check_CRC(block.data(), 9));
    block[4] ^= 0x01;
    Make_CRC32(block.data(), 9);
    block[12] ^= 0x80;
    EXPECT_FALSE(Check_CRC32(block.data(), 9));
    block[12] ^= 0x80;
    Make_CRC32Bin(block.data(), 9);
    block[0] ^= 0x02;
    EXPECT_FALSE(Check_CRC32Bin(block.data(), 9));
}

TEST_F(CrcTest, MatchesBitwiseReferenceOnRandomBlocks) {
    std::mt19937 rng(2024);
    for (std::size_t n : {1u, 2u, 31u, 256u, 1000u, 70000u}) {
        Bytes data(n);
        for (auto& b : data) b = static_cast<std::uint8_t>(rng());
        Bytes block = data;
        block.resize(n + 4);

        Make_CRC(block.data(), static_cast<int>(n));
        const auto crc16 = reference_crc16(data);
        EXPECT_EQ(block[n], adjusted(static_cast<std::uint8_t>(crc16 >> 8))) << n;
        EXPECT_EQ(block[n + 1], adjusted(static_cast<std::uint8_t>(crc16 & 0xFF))) << n;

        Make_CRC32(block.data(), static_cast<uint32_t>(n));
        EXPECT_EQ(Byte_To_LongMSBLSB(block.data() + n), reference_crc32_register(data)) << n;

        Make_CRC32Bin(block.data(), static_cast<uint32_t>(n));
        EXPECT_EQ(Byte_To_LongLSBMSB(block.data() + n), ~reference_crc32_register(data)) << n;
        EXPECT_TRUE(Check_CRC32Bin(block.data(), static_cast<uint32_t>(n))) << n;
    }
}

TEST_F(CrcTest, RepeatedTableFillGivesSameResults) {
    Bytes block = digits();
    block.resize(9 + 4);
    make_crc_table();
    make_crc32_table();
    Make_CRC32(block.data(), 9);
    EXPECT_EQ(Byte_To_LongMSBLSB(block.data() + 9), 0x2DFD2D88u);
}

// ---- Byte order -------------------------------------------------------------

TEST(ByteOrder, FourBytesToValue) {
    const std::array<unsigned char, 4> src{0x78, 0x56, 0x34, 0x12};
    EXPECT_EQ(Byte_To_LongLSBMSB(src.data()), 0x12345678u);
    EXPECT_EQ(Byte_To_LongMSBLSB(src.data()), 0x78563412u);
}

TEST(ByteOrder, ValueToBytesWritesDocumentedLength) {
    std::array<unsigned char, 6> lsb;
    lsb.fill(kCanary);
    Long_To_ByteLSBMSB(0x12345678u, lsb.data());
    EXPECT_EQ(lsb, (std::array<unsigned char, 6>{0x78, 0x56, 0x34, 0x12, 0x00, kCanary}));

    std::array<unsigned char, 6> msb;
    msb.fill(kCanary);
    Long_To_ByteMSBLSB(0x12345678u, msb.data());
    EXPECT_EQ(msb, (std::array<unsigned char, 6>{0x12, 0x34, 0x56, 0x78, kCanary, kCanary}));
}

TEST(ByteOrder, RoundTripsExtremes) {
    for (std::uint32_t v : {0u, 1u, 0x80000000u, 0xFFFFFFFFu, 0xDEADBEEFu}) {
        std::array<unsigned char, 5> b{};
        Long_To_ByteLSBMSB(v, b.data());
        EXPECT_EQ(Byte_To_LongLSBMSB(b.data()), v);
        Long_To_ByteMSBLSB(v, b.data());
        EXPECT_EQ(Byte_To_LongMSBLSB(b.data()), v);
    }
}

}  // namespace
