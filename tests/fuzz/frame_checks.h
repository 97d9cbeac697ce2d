// What every frame the card library puts on the line must look like, whatever
// the arguments: uppercase hex text of a block starting 0x60 whose LN matches
// its length and whose check character makes the XOR 0, ended by 0x03, at
// most 255 bytes in all.
#pragma once

#include <cstdint>
#include <optional>
#include <span>

namespace fuzz_checks {

// ln_from_caller: a command that takes LN from its caller (file creation,
// LN = P3 + 6) is held to that value instead of the block's length.
bool well_formed_frame(std::span<const std::uint8_t> wire, std::optional<std::uint8_t> ln_from_caller = {});

// Stops the run with a message (libFuzzer records the input).
[[noreturn]] void fail(const char* what);

inline void require(bool holds, const char* what) {
    if (!holds) fail(what);
}

}  // namespace fuzz_checks
