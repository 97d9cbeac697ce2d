// Expected blocks for the card command tests.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <vector>

#include "reference_mac.h"
#include "scripted_reader.h"

namespace card_test {

using testing_support::Bytes;

// Concatenates byte sequences.
inline Bytes cat(std::initializer_list<Bytes> parts) {
    Bytes out;
    for (const auto& part : parts) out.insert(out.end(), part.begin(), part.end());
    return out;
}

// n bytes counting up from first.
inline Bytes counting(std::size_t n, std::uint8_t first = 0x01) {
    Bytes out(n);
    for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<std::uint8_t>(first + i);
    return out;
}

inline Bytes get_response(std::uint8_t le, std::uint8_t cla = 0x00) {
    return {0x60, 0x06, 0xDB, cla, 0xC0, 0x00, 0x00, le};
}

inline const Key kKeyA{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
inline const Key kKeyB{0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

// A block whose APDU (offset 3 on) is MAC-protected: the block as given,
// then MAC bytes 5..7 of the reference MAC over its APDU.
inline Bytes with_mac(const Bytes& block, const Key& a = kKeyA, const Key& b = kKeyB) {
    const Mac mac = reference_mac(std::span(block).subspan(3), a, b);
    return cat({block, Bytes(mac.begin() + 5, mac.end())});
}

// The three bytes the card sends back to pass the response check.
inline Bytes mac_answer(const Bytes& block, const Key& a = kKeyA, const Key& b = kKeyB) {
    const Mac mac = reference_mac(std::span(block).subspan(3), a, b);
    return Bytes(mac.begin(), mac.begin() + 3);
}

}  // namespace card_test
