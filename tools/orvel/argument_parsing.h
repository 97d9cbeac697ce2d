// Turns command-line text into the values the card commands take: hex bytes,
// fixed-size keys, bounded integers. Every check runs before the port is
// opened, so a bad argument never reaches the card.
#pragma once

#include <array>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "exit_status.h"

namespace orvel::tool {

using Bytes = std::vector<std::uint8_t>;
using Key = std::array<std::uint8_t, 8>;

// An argument the tool refuses: one sentence naming it, and the exit status.
class ArgumentError : public std::runtime_error {
public:
    ArgumentError(ExitStatus status, const std::string& sentence)
        : std::runtime_error(sentence), status_(status) {}
    ExitStatus status() const { return status_; }

private:
    ExitStatus status_;
};

// Hex text to bytes. Spaces and an optional "0x" prefix are allowed;
// either letter case. Throws kExitMalformedHex for any other character or
// an odd number of digits.
Bytes parse_hex(std::string_view name, std::string_view text);

// Hex text of exactly `size` bytes; kExitWrongLength otherwise.
Bytes parse_hex_exact(std::string_view name, std::string_view text, std::size_t size);

// Hex text of at most `max_size` bytes; kExitWrongLength otherwise.
Bytes parse_hex_up_to(std::string_view name, std::string_view text, std::size_t max_size);

// An 8-byte key (16 hex digits).
Key parse_key(std::string_view name, std::string_view text);

// A value of at most `max` given in hex (one byte: up to FF; a file
// identifier: up to FFFF). kExitOutOfRange when it does not fit.
unsigned parse_hex_value(std::string_view name, std::string_view text, unsigned max);

// A decimal integer in [min, max]. kExitOutOfRange outside it or when it does
// not fit in a long long; kExitUsage when it is not a number at all.
long long parse_integer(std::string_view name, std::string_view text, long long min, long long max);

// Bytes as uppercase hex text, no separators.
std::string to_hex(const std::uint8_t* data, std::size_t size);
inline std::string to_hex(const Bytes& bytes) { return to_hex(bytes.data(), bytes.size()); }

}  // namespace orvel::tool
