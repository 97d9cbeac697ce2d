#include "hex_block.h"

namespace ciphon {
namespace {

constexpr int kBlockDigits = 16;
constexpr char kUpperDigits[] = "0123456789ABCDEF";

inline unsigned digit_value(unsigned char c) {
    // Letters sit 9 above their value in their low four bits.
    return c <= '9' ? c & 0x0Fu : (c + 9u) & 0x0Fu;
}

}  // namespace

std::uint64_t decode_block(const char* text) {
    std::uint64_t block = 0;
    int i = 0;
    for (; i < kBlockDigits && text[i] != '\0'; ++i) {
        block = (block << 4) | digit_value(static_cast<unsigned char>(text[i]));
    }
    return i == kBlockDigits ? block : block << (4 * (kBlockDigits - i));
}

void encode_block(std::uint64_t block, char* out) {
    for (int i = 0; i < kBlockDigits; ++i) {
        out[i] = kUpperDigits[(block >> (60 - 4 * i)) & 0x0F];
    }
    out[kBlockDigits] = '\0';
}

}  // namespace ciphon
