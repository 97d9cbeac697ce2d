// Single-block DES (FIPS 46-3) on 64-bit values. A block or key is held with
// its first byte in the most significant position, so FIPS bit 1 is bit 63.
#pragma once

#include <array>
#include <cstdint>

namespace ciphon {

// The sixteen 48-bit round keys of one DES key. Each round key keeps its
// eight 6-bit groups in the low six bits of eight bytes, group 1 in the most
// significant byte, ready to be XORed with the expanded half block.
struct KeySchedule {
    std::array<std::uint64_t, 16> round_keys{};
};

// Parity bits (the low bit of each key byte) are ignored, as PC-1 drops them.
KeySchedule make_key_schedule(std::uint64_t key);

std::uint64_t encrypt_block(std::uint64_t block, const KeySchedule& schedule);
std::uint64_t decrypt_block(std::uint64_t block, const KeySchedule& schedule);

}  // namespace ciphon
