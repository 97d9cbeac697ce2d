// The challenge source on Windows: BCryptGenRandom fills every byte asked for
// and gives fresh bytes on each call.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "secure_random.h"

namespace {

TEST(SecureRandomWin32, FillsFreshBytes) {
    std::array<std::uint8_t, 64> first{}, second{};
    ASSERT_TRUE(orvel::secure_random_bytes(first));
    ASSERT_TRUE(orvel::secure_random_bytes(second));
    // 64 zero bytes or two equal draws would take a broken generator.
    EXPECT_NE(first, second);
    EXPECT_TRUE(std::any_of(first.begin(), first.end(), [](std::uint8_t b) { return b != 0; }));
}

TEST(SecureRandomWin32, WritesOnlyTheSpanItIsGiven) {
    std::array<std::uint8_t, 16> buffer;
    buffer.fill(0xEE);
    ASSERT_TRUE(orvel::secure_random_bytes(std::span(buffer).subspan(4, 8)));
    EXPECT_TRUE(std::all_of(buffer.begin(), buffer.begin() + 4, [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_TRUE(std::all_of(buffer.begin() + 12, buffer.end(), [](std::uint8_t b) { return b == 0xEE; }));
    EXPECT_TRUE(orvel::secure_random_bytes({}));
}

}  // namespace
