// Fresh bytes from the operating system's cryptographically secure generator.
#pragma once

#include <cstdint>
#include <span>

namespace orvel {

// Fills out completely; returns false only if the system generator failed.
bool secure_random_bytes(std::span<std::uint8_t> out);

}  // namespace orvel
