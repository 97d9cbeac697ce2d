#include "line_stand_in.h"

#include <algorithm>
#include <cstdlib>

#include "tarvex.h"

namespace fuzz_line {
namespace {

std::span<const std::uint8_t> served;
std::size_t position = 0;
std::uint32_t failing_writes = 0;
std::vector<std::vector<std::uint8_t>> frames;

}  // namespace

void reset(std::span<const std::uint8_t> line, std::uint32_t write_failures) {
    served = line;
    position = 0;
    failing_writes = write_failures;
    frames.clear();
}

const std::vector<std::vector<std::uint8_t>>& written_frames() { return frames; }
std::size_t bytes_served() { return position; }

}  // namespace fuzz_line

// The card library reaches only this port; any other number is a fault in
// the library (it passes the caller's port through unchanged).
extern "C" bool COM_Read(int port, unsigned char* buf, uint32_t count) {
    using namespace fuzz_line;
    if (port != kPort || buf == nullptr) std::abort();
    for (uint32_t i = 0; i < count; ++i) {
        if (position >= served.size()) return false;
        const std::uint8_t byte = served[position++];
        if (byte == kReadTimeoutMarker) return false;
        buf[i] = byte;
    }
    return true;
}

extern "C" bool COM_Write(int port, const unsigned char* buf, uint32_t count) {
    using namespace fuzz_line;
    if (port != kPort || buf == nullptr) std::abort();
    const std::size_t index = frames.size();
    frames.emplace_back(buf, buf + count);
    return index >= 32 || (failing_writes & (1u << index)) == 0;
}

// Replies arrive after the send in this stand-in, so there is nothing stale
// to drop.
extern "C" int COM_RxBuffer_Clear(int port) {
    if (port != fuzz_line::kPort) std::abort();
    return 1;
}
