#include "argument_parsing.h"

#include <algorithm>
#include <charconv>
#include <cstdio>

namespace orvel::tool {

namespace {

int hex_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

std::string quoted(std::string_view text) { return "\"" + std::string(text) + "\""; }

std::string byte_count(std::size_t n) { return std::to_string(n) + (n == 1 ? " byte" : " bytes"); }

// The hex digits of text, without spaces and the optional 0x prefix.
std::string hex_digits(std::string_view name, std::string_view text) {
    std::string digits;
    std::string_view rest = text;
    while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
    if (rest.size() >= 2 && rest[0] == '0' && (rest[1] == 'x' || rest[1] == 'X')) rest.remove_prefix(2);
    for (char c : rest) {
        if (c == ' ') continue;
        if (hex_digit_value(c) < 0) {
            throw ArgumentError(kExitMalformedHex, std::string(name) + ": " + quoted(text) +
                                                       " is not hex text (the character '" + std::string(1, c) +
                                                       "' is not a digit 0-9 or A-F).");
        }
        digits.push_back(c);
    }
    return digits;
}

}  // namespace

Bytes parse_hex(std::string_view name, std::string_view text) {
    std::string digits = hex_digits(name, text);
    if (digits.size() % 2 != 0) {
        throw ArgumentError(kExitMalformedHex, std::string(name) + ": " + quoted(text) + " has an odd number of hex digits (" +
                                                   std::to_string(digits.size()) + "); each byte takes two.");
    }
    Bytes out;
    out.reserve(digits.size() / 2);
    for (std::size_t i = 0; i < digits.size(); i += 2) {
        out.push_back(static_cast<std::uint8_t>(hex_digit_value(digits[i]) * 16 + hex_digit_value(digits[i + 1])));
    }
    return out;
}

Bytes parse_hex_exact(std::string_view name, std::string_view text, std::size_t size) {
    Bytes out = parse_hex(name, text);
    if (out.size() != size) {
        throw ArgumentError(kExitWrongLength, std::string(name) + " must be " + byte_count(size) + " (" +
                                                  std::to_string(2 * size) + " hex digits), not " +
                                                  byte_count(out.size()) + ".");
    }
    return out;
}

Bytes parse_hex_up_to(std::string_view name, std::string_view text, std::size_t max_size) {
    Bytes out = parse_hex(name, text);
    if (out.size() > max_size) {
        throw ArgumentError(kExitWrongLength, std::string(name) + " holds " + byte_count(out.size()) +
                                                  "; at most " + byte_count(max_size) + " fit in one command.");
    }
    return out;
}

Key parse_key(std::string_view name, std::string_view text) {
    Bytes bytes = parse_hex_exact(name, text, 8);
    Key key{};
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

unsigned parse_hex_value(std::string_view name, std::string_view text, unsigned max) {
    std::string digits = hex_digits(name, text);
    if (digits.empty()) {
        throw ArgumentError(kExitMalformedHex, std::string(name) + ": " + quoted(text) + " holds no hex digit.");
    }
    unsigned long value = 0;
    for (char c : digits) {
        value = value * 16 + static_cast<unsigned long>(hex_digit_value(c));
        if (value > max) {
            char max_text[16];
            std::snprintf(max_text, sizeof max_text, "%X", max);
            throw ArgumentError(kExitOutOfRange, std::string(name) + ": " + quoted(text) +
                                                     " is out of range (hex 0 to " + max_text + ").");
        }
    }
    return static_cast<unsigned>(value);
}

long long parse_integer(std::string_view name, std::string_view text, long long min, long long max) {
    long long value = 0;
    const char* first = text.data();
    const char* last = text.data() + text.size();
    auto [end, error] = std::from_chars(first, last, value);
    if (error == std::errc::invalid_argument || end != last || text.empty()) {
        throw ArgumentError(kExitUsage, std::string(name) + ": " + quoted(text) + " is not a decimal integer.");
    }
    if (error == std::errc::result_out_of_range || value < min || value > max) {
        throw ArgumentError(kExitOutOfRange, std::string(name) + ": " + std::string(text) + " is out of range (" +
                                                 std::to_string(min) + " to " + std::to_string(max) + ").");
    }
    return value;
}

std::string to_hex(const std::uint8_t* data, std::size_t size) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(2 * size);
    for (std::size_t i = 0; i < size; ++i) {
        out.push_back(kDigits[data[i] >> 4]);
        out.push_back(kDigits[data[i] & 0x0F]);
    }
    return out;
}

}  // namespace orvel::tool
