#include "sim/frame.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::size_t kMinFrameBytes = 4;  // block start, LN, reader command, check character

int hex_value(std::uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;  // lowercase is refused: the client writes uppercase
}

constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

std::string_view describe(FrameError error) {
    switch (error) {
        case FrameError::none: return "ok";
        case FrameError::empty: return "empty frame";
        case FrameError::odd_length: return "odd number of characters";
        case FrameError::not_hex: return "not hex text";
        case FrameError::too_short: return "frame too short";
        case FrameError::too_long: return "frame too long";
        case FrameError::bad_start: return "no block start";
        case FrameError::bad_check: return "bad check character";
        case FrameError::bad_ln: return "LN does not match";
    }
    return "unknown";
}

std::uint8_t refusal_status(FrameError error) {
    switch (error) {
        case FrameError::none: return kStatusOk;
        case FrameError::bad_check: return kStatusBadCheck;
        case FrameError::bad_ln: return kStatusBadLength;
        default: return kStatusBadText;
    }
}

ParsedFrame parse_frame(std::span<const std::uint8_t> text) {
    ParsedFrame frame;
    if (text.empty()) {
        frame.error = FrameError::empty;
        return frame;
    }
    if (text.size() > 2 * kMaxFrameBytes) {
        frame.error = FrameError::too_long;
        return frame;
    }
    if (text.size() % 2 != 0) {
        frame.error = FrameError::odd_length;
        return frame;
    }
    Bytes bytes;
    bytes.reserve(text.size() / 2);
    for (std::size_t i = 0; i < text.size(); i += 2) {
        int high = hex_value(text[i]);
        int low = hex_value(text[i + 1]);
        if (high < 0 || low < 0) {
            frame.error = FrameError::not_hex;
            frame.block = std::move(bytes);
            return frame;
        }
        bytes.push_back(static_cast<std::uint8_t>(high << 4 | low));
    }
    std::uint8_t check = 0;
    for (auto b : bytes) check ^= b;
    frame.block.assign(bytes.begin(), bytes.end() - 1);
    if (bytes.size() < kMinFrameBytes) {
        frame.error = FrameError::too_short;
    } else if (bytes[0] != kBlockStart) {
        frame.error = FrameError::bad_start;
    } else if (check != 0) {
        frame.error = FrameError::bad_check;
    } else if (frame.block[1] != frame.block.size() - 2) {
        frame.error = FrameError::bad_ln;
    } else {
        frame.error = FrameError::none;
    }
    return frame;
}

Bytes make_reply_block(std::uint8_t status, std::span<const std::uint8_t> rest) {
    const std::size_t room = kMaxFrameBytes - 4;  // start, LN, status, check character
    rest = rest.first(std::min(rest.size(), room));
    Bytes block;
    block.reserve(rest.size() + 4);
    block.push_back(kBlockStart);
    block.push_back(static_cast<std::uint8_t>(rest.size() + 1));
    block.push_back(status);
    block.insert(block.end(), rest.begin(), rest.end());
    std::uint8_t check = 0;
    for (auto b : block) check ^= b;
    block.push_back(check);
    return block;
}

Bytes encode_wire(std::span<const std::uint8_t> block) {
    Bytes wire;
    wire.reserve(block.size() * 2 + 1);
    for (auto b : block) {
        wire.push_back(static_cast<std::uint8_t>(kHexDigits[b >> 4]));
        wire.push_back(static_cast<std::uint8_t>(kHexDigits[b & 0x0F]));
    }
    wire.push_back(kFrameEnd);
    return wire;
}

std::string to_hex(std::span<const std::uint8_t> bytes, std::string_view separator) {
    std::string text;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        if (i > 0) text += separator;
        text += kHexDigits[bytes[i] >> 4];
        text += kHexDigits[bytes[i] & 0x0F];
    }
    return text;
}

}  // namespace sim
