// Wire frames of the reader: parsing what the client sends and building what
// the reader answers. Pure functions over bytes: any input is handled, none
// makes them crash, hang or read or write out of bounds.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "sim/bytes.h"

namespace sim {

inline constexpr std::uint8_t kBlockStart = 0x60;
inline constexpr std::uint8_t kFrameEnd = 0x03;
inline constexpr std::uint8_t kReaderPowerUp = 0x6E;
inline constexpr std::uint8_t kReaderPowerDown = 0x4D;
inline constexpr std::uint8_t kReaderCardInput = 0xDA;
inline constexpr std::uint8_t kReaderCardOutput = 0xDB;

// Longest block with its check character the reader takes or sends (254 hex
// characters before the terminator).
inline constexpr std::size_t kMaxFrameBytes = 127;

// Reader status bytes. 0x00 and 0xE7 are what the client accepts; the others
// are this reader's refusals.
inline constexpr std::uint8_t kStatusOk = 0x00;
inline constexpr std::uint8_t kStatusCardError = 0xE7;       // card answered other than 90 00 / 61 xx
inline constexpr std::uint8_t kStatusBadCheck = 0xF1;        // check character wrong
inline constexpr std::uint8_t kStatusBadLength = 0xF2;       // LN does not match the block
inline constexpr std::uint8_t kStatusBadText = 0xF3;         // odd length, not hex, too short/long, no 0x60
inline constexpr std::uint8_t kStatusUnknownCommand = 0xF4;  // reader command not known
inline constexpr std::uint8_t kStatusNotPowered = 0xF5;      // card exchange while the card is off
inline constexpr std::uint8_t kStatusBadParameters = 0xF6;   // payload too short for the reader command

enum class FrameError : std::uint8_t {
    none,
    empty,        // terminator alone
    odd_length,   // odd number of characters before the terminator
    not_hex,      // a character that is not 0-9 or A-F (lowercase too: the client sends uppercase)
    too_short,    // fewer than 4 bytes (block start, LN, reader command, check character)
    too_long,     // more than 127 bytes (254 characters)
    bad_start,    // first byte not 0x60
    bad_check,    // XOR of the block and its check character not 0
    bad_ln,       // LN is not the block length less two
};

std::string_view describe(FrameError error);
// Reader status the reader answers a malformed frame with.
std::uint8_t refusal_status(FrameError error);

struct ParsedFrame {
    FrameError error = FrameError::empty;
    Bytes block;  // decoded block without its check character (as far as it decodes)

    bool ok() const { return error == FrameError::none; }
    std::uint8_t reader_command() const { return block.size() > 2 ? block[2] : 0; }
    // Bytes after the reader command: the APDU of a card exchange.
    std::span<const std::uint8_t> payload() const {
        return block.size() > 3 ? std::span<const std::uint8_t>(block).subspan(3)
                                : std::span<const std::uint8_t>();
    }
};

// Parses the characters of one frame, without its 0x03 terminator.
ParsedFrame parse_frame(std::span<const std::uint8_t> text);

// Builds a reply block: 0x60, LN, status, rest, check character. rest is cut
// so that the block stays within kMaxFrameBytes.
Bytes make_reply_block(std::uint8_t status, std::span<const std::uint8_t> rest);

// Uppercase hex text of the block followed by 0x03.
Bytes encode_wire(std::span<const std::uint8_t> block);

// Uppercase hex of bytes, with a separator between bytes when given.
std::string to_hex(std::span<const std::uint8_t> bytes, std::string_view separator = "");

}  // namespace sim
