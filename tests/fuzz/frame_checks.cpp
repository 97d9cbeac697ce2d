#include "frame_checks.h"

#include <cstdio>
#include <cstdlib>
#include <optional>
#include <vector>

namespace fuzz_checks {
namespace {

constexpr std::uint8_t kTerminator = 0x03;
constexpr std::uint8_t kBlockStart = 0x60;
constexpr std::size_t kMaxWireBytes = 255;

std::optional<std::uint8_t> upper_hex_digit(std::uint8_t c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint8_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint8_t>(c - 'A' + 10);
    return std::nullopt;
}

}  // namespace

bool well_formed_frame(std::span<const std::uint8_t> wire, std::optional<std::uint8_t> ln_from_caller) {
    if (wire.size() < 3 || wire.size() > kMaxWireBytes || wire.back() != kTerminator) return false;
    const auto text = wire.first(wire.size() - 1);
    if (text.size() % 2 != 0) return false;
    std::vector<std::uint8_t> block;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        const auto high = upper_hex_digit(text[i]);
        const auto low = upper_hex_digit(text[i + 1]);
        if (!high || !low) return false;
        block.push_back(static_cast<std::uint8_t>(*high << 4 | *low));
    }
    // block start, LN, and at least the check character
    if (block.size() < 2 || block[0] != kBlockStart) return false;
    std::uint8_t check = 0;
    for (std::uint8_t b : block) check ^= b;
    if (check != 0) return false;
    return ln_from_caller ? block[1] == *ln_from_caller : block[1] == block.size() - 3;
}

void fail(const char* what) {
    std::fprintf(stderr, "violated: %s\n", what);
    std::abort();
}

}  // namespace fuzz_checks
