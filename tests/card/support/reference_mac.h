// The MAC of the card commands computed independently with OpenSSL: a CBC
// MAC with two-key triple DES (key A outside, key B in the middle), a zero
// initial value and zero padding to whole blocks.
#pragma once

#include <array>
#include <cstdint>
#include <span>

namespace card_test {

using Mac = std::array<std::uint8_t, 8>;
using Key = std::array<std::uint8_t, 8>;

Mac reference_mac(std::span<const std::uint8_t> message, const Key& key_a, const Key& key_b);

}  // namespace card_test
