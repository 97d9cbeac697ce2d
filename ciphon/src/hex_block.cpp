#include "hex_block.h"

#include <array>

namespace ciphon {
namespace {

constexpr int kBlockDigits = 16;

// Digit value of every character: '0'-'9' give 0-9, and above '9' letters
// sit 9 above their value in their low four bits. The NUL is marked so the
// decoder stops there.
constexpr std::uint8_t kEndOfText = 0x10;
constexpr auto kDigitValues = [] {
    std::array<std::uint8_t, 256> values{};
    for (unsigned c = 0; c < 256; ++c) {
        values[c] = static_cast<std::uint8_t>(c <= '9' ? c & 0x0F : (c + 9) & 0x0F);
    }
    values[0] = kEndOfText;
    return values;
}();

// Two uppercase digits per byte value, so encoding takes one lookup a byte.
constexpr auto kDigitPairs = [] {
    constexpr char digits[] = "0123456789ABCDEF";
    std::array<std::array<char, 2>, 256> pairs{};
    for (unsigned v = 0; v < 256; ++v) pairs[v] = {digits[v >> 4], digits[v & 0x0F]};
    return pairs;
}();

}  // namespace

std::uint64_t decode_block(const char* text) {
    // Each digit goes straight to its place, so the digits do not wait on
    // each other; the scan stops at a NUL and never reads past it.
    std::uint64_t block = 0;
#pragma GCC unroll 16
    for (int i = 0; i < kBlockDigits; ++i) {
        std::uint64_t value = kDigitValues[static_cast<unsigned char>(text[i])];
        if (value == kEndOfText) break;
        block |= value << (60 - 4 * i);
    }
    return block;
}

void encode_block(std::uint64_t block, char* out) {
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        const auto& pair = kDigitPairs[(block >> (56 - 8 * i)) & 0xFF];
        out[2 * i] = pair[0];
        out[2 * i + 1] = pair[1];
    }
    out[kBlockDigits] = '\0';
}

}  // namespace ciphon
