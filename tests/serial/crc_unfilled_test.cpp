// The CRC functions before the application fills the tables: every register
// stays 0. A program of its own, so no other test has filled them.
#include <gtest/gtest.h>

#include <array>

#include "tarvex.h"

namespace {

TEST(CrcUnfilledTables, RegistersStayZero) {
    std::array<unsigned char, 8> block{'a', 'b', 'c', 0, 0, 0, 0, 0};
    Make_CRC(block.data(), 3);
    EXPECT_EQ(block[3], 0x20);
    EXPECT_EQ(block[4], 0x20);
    EXPECT_TRUE(Check_CRC(block.data(), 3));

    Make_CRC32(block.data(), 3);
    EXPECT_EQ((std::array<unsigned char, 4>{block[3], block[4], block[5], block[6]}),
              (std::array<unsigned char, 4>{0, 0, 0, 0}));
    EXPECT_TRUE(Check_CRC32(block.data(), 3));

    Make_CRC32Bin(block.data(), 3);
    EXPECT_EQ((std::array<unsigned char, 4>{block[3], block[4], block[5], block[6]}),
              (std::array<unsigned char, 4>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_FALSE(Check_CRC32Bin(block.data(), 3));  // accepts nothing
}

}  // namespace
