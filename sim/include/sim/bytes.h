// Byte containers shared by the simulated reader and card.
#pragma once

#include <array>
#include <cstdint>
#include <vector>

namespace sim {

using Bytes = std::vector<std::uint8_t>;
using Key8 = std::array<std::uint8_t, 8>;
using Block8 = std::array<std::uint8_t, 8>;

}  // namespace sim
