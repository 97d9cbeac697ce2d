// Block check characters, hex text and BCD: pure functions on caller buffers.
#include "tarvex.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvex {
namespace {

// The converters were sized for working buffers of 256 characters: hex text
// of at most 127 bytes (254 digits and the NUL), and at most 256 digits to
// decode. Counts beyond these are clamped so that no count can make them
// write more than the header promises; negative counts convert nothing.
constexpr int kMaxHexTextBytes = 127;
constexpr int kMaxDecodedChars = 256;

struct CheckCharacters {
    std::uint8_t xor_value = 0;
    std::uint8_t sum_value = 0;
};

// A count of zero or less covers no bytes, so the check characters sit at
// block[0].
std::size_t covered_length(int count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

CheckCharacters check_characters(std::span<const std::uint8_t> block) {
    CheckCharacters cc;
    for (std::uint8_t b : block) {
        cc.xor_value ^= b;
        cc.sum_value = static_cast<std::uint8_t>(cc.sum_value + b);
    }
    return cc;
}

char digit_character(unsigned nibble) {
    return static_cast<char>(nibble <= 9 ? nibble + 0x30 : nibble + 0x37);
}

// Every character yields a value: digits by their low four bits, letters of
// either case by (c + 9) & 0x0F. Nothing is rejected.
std::uint8_t digit_value(char c) {
    auto u = static_cast<std::uint8_t>(c);
    return static_cast<std::uint8_t>(u <= 0x39 ? (u & 0x0F) : ((u + 9) & 0x0F));
}

void encode_hex(char* dst, const unsigned char* src, std::size_t count) {
    for (std::size_t i = 0; i < count; ++i) {
        dst[2 * i] = digit_character(src[i] >> 4);
        dst[2 * i + 1] = digit_character(src[i] & 0x0F);
    }
}

// Decodes count characters into count/2 + count%2 bytes and returns that
// number. An odd count leaves the last byte's low nibble at 0: only the
// count characters given are read.
std::size_t decode_hex(unsigned char* dst, const char* src, int count) {
    const auto chars = static_cast<std::size_t>(std::clamp(count, 0, kMaxDecodedChars));
    const std::size_t bytes = chars / 2 + chars % 2;
    for (std::size_t i = 0; i < bytes; ++i) {
        const std::uint8_t high = digit_value(src[2 * i]);
        const std::uint8_t low = (2 * i + 1 < chars) ? digit_value(src[2 * i + 1]) : 0;
        dst[i] = static_cast<unsigned char>(high << 4 | low);
    }
    return bytes;
}

}  // namespace
}  // namespace tarvex

using tarvex::check_characters;
using tarvex::covered_length;

extern "C" {

void Make_1Byte_BCC(unsigned char* block, int count) {
    const std::size_t n = covered_length(count);
    const auto cc = check_characters({block, n});
    block[n] = cc.xor_value;
    block[n + 1] = 0x00;
}

void Make_2Byte_BCC(unsigned char* block, int count) {
    const std::size_t n = covered_length(count);
    const auto cc = check_characters({block, n});
    block[n] = cc.xor_value;
    block[n + 1] = cc.sum_value;
    block[n + 2] = 0x00;
}

bool Check_1Byte_BCC(const unsigned char* block, int count) {
    const std::size_t n = covered_length(count);
    return block[n] == check_characters({block, n}).xor_value;
}

bool Check_2Byte_BCC(const unsigned char* block, int count) {
    const std::size_t n = covered_length(count);
    const auto cc = check_characters({block, n});
    return block[n] == cc.xor_value && block[n + 1] == cc.sum_value;
}

void Bcd_To_Ascii(char* dst, const unsigned char* src, int count) {
    tarvex::encode_hex(dst, src, covered_length(count));
}

void Ascii_To_HexStr(char* dst, const unsigned char* src, int count) {
    const auto n = static_cast<std::size_t>(std::clamp(count, 0, tarvex::kMaxHexTextBytes));
    tarvex::encode_hex(dst, src, n);
    dst[2 * n] = '\0';
}

void Ascii_To_Bcd(unsigned char* dst, const char* src, int count) { tarvex::decode_hex(dst, src, count); }

void HexStr_To_Ascii(unsigned char* dst, const char* src, int count) {
    const std::size_t n = tarvex::decode_hex(dst, src, count);
    dst[n] = 0x00;
}

}  // extern "C"
