// Faults the simulator can put on the line instead of a clean reply.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace sim {

enum class FaultKind : std::uint8_t {
    none,
    no_reply,       // the frame is handled, the reply never sent
    stall_once,     // the reply pauses once for `delay` after `position` characters
    stall_twice,    // two such pauses (at `position` and at `position2`)
    cut_reply,      // the reply stops after `position` characters, no terminator ever
    reader_status,  // the reply carries reader status `status` (check character recomputed)
    wrong_mac,      // the response MAC the card hands out is wrong
    corrupt_char,   // the character at `position` is replaced (by `replacement`, or the next hex digit)
    late_reply,     // the whole reply goes out only after `delay`
};

struct Fault {
    FaultKind kind = FaultKind::none;
    std::chrono::milliseconds delay{0};
    std::size_t position = 0;    // character index in the reply text (0 = first character)
    std::size_t position2 = 0;   // stall_twice: the second pause
    std::uint8_t status = 0;     // reader_status
    std::uint8_t replacement = 0;  // corrupt_char: 0 = the next hex digit

    static Fault none_() { return {}; }
    static Fault no_reply() { return {FaultKind::no_reply}; }
    // A stall must outlast the client's one-byte read time-out (500 ms + T).
    static Fault stall_once(std::chrono::milliseconds delay, std::size_t position = 4);
    static Fault stall_twice(std::chrono::milliseconds delay, std::size_t position = 4,
                             std::size_t position2 = 8);
    // Default: everything but the terminator.
    static Fault cut_reply(std::size_t position = SIZE_MAX);
    static Fault reader_status(std::uint8_t status);
    static Fault wrong_mac() { return {FaultKind::wrong_mac}; }
    // Default: the first character of reply byte 3 (first data byte or SW1).
    static Fault corrupt_char(std::size_t position = 6, std::uint8_t replacement = 0);
    // Should outlast the client's whole reply wait (two read time-outs).
    static Fault late_reply(std::chrono::milliseconds delay);
};

std::string describe(const Fault& fault);

// Which frames a command-matched fault applies to; unset fields match all.
struct FrameMatch {
    std::optional<std::uint8_t> reader_command;
    std::optional<std::uint8_t> cla;
    std::optional<std::uint8_t> ins;
};

}  // namespace sim
