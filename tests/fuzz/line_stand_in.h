// A stand-in for the serial line under the card library: COM_Read serves the
// fuzz input as the bytes arriving on the line, COM_Write records each frame
// the library sends (and fails chosen ones), COM_RxBuffer_Clear is counted.
// The framing helpers are the real ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace fuzz_line {

// In the served bytes, this value is no character: the read that meets it
// times out (the byte is consumed), so stalls mid-reply can be fuzzed too.
inline constexpr std::uint8_t kReadTimeoutMarker = 0xFE;
inline constexpr int kPort = 3;

// Starts a fresh exchange: `line` is served to COM_Read; write number i
// (from 0) fails when bit i of write_failures is set.
void reset(std::span<const std::uint8_t> line, std::uint32_t write_failures);

// Every frame COM_Write was asked to send (also the failed ones).
const std::vector<std::vector<std::uint8_t>>& written_frames();
std::size_t bytes_served();

}  // namespace fuzz_line
