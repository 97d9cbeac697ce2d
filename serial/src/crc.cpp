// CRC-16, the two CRC-32 forms and byte-order conversions.
#include "tarvex.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

namespace tarvex {
namespace {

constexpr std::uint16_t kCrc16Polynomial = 0x1021;      // MSB first
constexpr std::uint32_t kCrc32Polynomial = 0xEDB88320u;  // reflected IEEE 802.3
constexpr std::uint32_t kCrc32BinResidue = 0xDEBB20E3u;
// CRC-16 bytes below this are raised by it so they never read as control
// characters on the line.
constexpr std::uint8_t kCrc16ControlOffset = 0x20;
constexpr std::size_t kCrc32Bytes = 4;

// Zero until the application fills them; a zero table keeps every register
// at 0, which is the documented behaviour before make_crc_table.
std::array<std::uint16_t, 256> crc16_table{};
std::array<std::uint32_t, 256> crc32_table{};

std::size_t covered_length(int count) { return count > 0 ? static_cast<std::size_t>(count) : 0; }

struct Crc16Bytes {
    std::uint8_t high;
    std::uint8_t low;
};

std::uint8_t adjust_crc16_byte(std::uint8_t b) {
    return b < kCrc16ControlOffset ? static_cast<std::uint8_t>(b + kCrc16ControlOffset) : b;
}

Crc16Bytes crc16_bytes(std::span<const std::uint8_t> data) {
    std::uint16_t r = 0;
    for (std::uint8_t b : data) {
        r = static_cast<std::uint16_t>((r << 8) ^ crc16_table[((r >> 8) ^ b) & 0xFF]);
    }
    return {adjust_crc16_byte(static_cast<std::uint8_t>(r >> 8)),
            adjust_crc16_byte(static_cast<std::uint8_t>(r & 0xFF))};
}

std::uint32_t crc32_register(std::span<const std::uint8_t> data) {
    std::uint32_t r = 0;
    for (std::uint8_t b : data) r = (r >> 8) ^ crc32_table[(r ^ b) & 0xFF];
    return r;
}

}  // namespace
}  // namespace tarvex

using tarvex::crc16_bytes;
using tarvex::crc32_register;

extern "C" {

void make_crc_table(void) {
    for (std::size_t i = 0; i < tarvex::crc16_table.size(); ++i) {
        auto r = static_cast<std::uint16_t>(i << 8);
        for (int bit = 0; bit < 8; ++bit) {
            r = (r & 0x8000) ? static_cast<std::uint16_t>((r << 1) ^ tarvex::kCrc16Polynomial)
                             : static_cast<std::uint16_t>(r << 1);
        }
        tarvex::crc16_table[i] = r;
    }
}

void make_crc32_table(void) {
    for (std::size_t i = 0; i < tarvex::crc32_table.size(); ++i) {
        std::uint32_t r = 0;
        auto d = static_cast<std::uint32_t>(i);
        for (int bit = 0; bit < 8; ++bit) {
            r = ((r ^ d) & 1) ? (r >> 1) ^ tarvex::kCrc32Polynomial : r >> 1;
            d >>= 1;
        }
        tarvex::crc32_table[i] = r;
    }
}

// A negative count covers no bytes. Counts above 65535 are covered in full:
// the CRC always describes the block[0..count-1] the caller named.
void Make_CRC(unsigned char* block, int count) {
    const std::size_t n = tarvex::covered_length(count);
    const auto crc = crc16_bytes({block, n});
    block[n] = crc.high;
    block[n + 1] = crc.low;
}

bool Check_CRC(const unsigned char* block, int count) {
    const std::size_t n = tarvex::covered_length(count);
    const auto crc = crc16_bytes({block, n});
    return block[n] == crc.high && block[n + 1] == crc.low;
}

void Make_CRC32(unsigned char* block, uint32_t count) {
    Long_To_ByteMSBLSB(crc32_register({block, count}), block + count);
}

bool Check_CRC32(const unsigned char* block, uint32_t count) {
    return Byte_To_LongMSBLSB(block + count) == crc32_register({block, count});
}

void Make_CRC32Bin(unsigned char* block, uint32_t count) {
    const std::uint32_t value = ~crc32_register({block, count});
    for (std::size_t i = 0; i < tarvex::kCrc32Bytes; ++i) {
        block[count + i] = static_cast<unsigned char>(value >> (8 * i));
    }
}

bool Check_CRC32Bin(const unsigned char* block, uint32_t count) {
    const std::size_t total = std::size_t{count} + tarvex::kCrc32Bytes;
    return crc32_register({block, total}) == tarvex::kCrc32BinResidue;
}

uint32_t Byte_To_LongLSBMSB(const unsigned char* src) {
    return std::uint32_t{src[0]} | std::uint32_t{src[1]} << 8 | std::uint32_t{src[2]} << 16 |
           std::uint32_t{src[3]} << 24;
}

uint32_t Byte_To_LongMSBLSB(const unsigned char* src) {
    return std::uint32_t{src[0]} << 24 | std::uint32_t{src[1]} << 16 | std::uint32_t{src[2]} << 8 |
           std::uint32_t{src[3]};
}

void Long_To_ByteLSBMSB(uint32_t value, unsigned char* dst) {
    for (std::size_t i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(value >> (8 * i));
    dst[4] = 0x00;
}

void Long_To_ByteMSBLSB(uint32_t value, unsigned char* dst) {
    for (std::size_t i = 0; i < 4; ++i) dst[i] = static_cast<unsigned char>(value >> (8 * (3 - i)));
}

}  // extern "C"
