// Hex text to bytes for test tables ("04 D6 00 00" or "04D60000").
#pragma once

#include <cctype>
#include <string_view>

#include "sim/bytes.h"

namespace sim_test {

inline sim::Bytes hex(std::string_view text) {
    sim::Bytes out;
    int high = -1;
    for (char c : text) {
        if (std::isspace(static_cast<unsigned char>(c))) continue;
        int v = std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : std::toupper(static_cast<unsigned char>(c)) - 'A' + 10;
        if (high < 0) {
            high = v;
        } else {
            out.push_back(static_cast<std::uint8_t>(high << 4 | v));
            high = -1;
        }
    }
    return out;
}

template <std::size_t N>
std::array<std::uint8_t, N> array_of(std::string_view text) {
    std::array<std::uint8_t, N> out{};
    auto bytes = hex(text);
    std::copy_n(bytes.begin(), std::min(N, bytes.size()), out.begin());
    return out;
}

}  // namespace sim_test
