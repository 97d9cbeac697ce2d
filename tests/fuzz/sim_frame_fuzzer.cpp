// The simulated reader under arbitrary client bytes: the input is cut at
// each 0x03 into frames, each parsed and answered by one card that keeps its
// state across the input. Every answer must be a sound reply block (0x60, LN
// the count after it less the check character, XOR 0, at most 127 bytes)
// that encodes to uppercase hex text and 0x03; a frame that does not parse
// is refused with the status its error names.
#include <algorithm>
#include <cstdint>
#include <span>

#include "frame_checks.h"
#include "sim/card.h"
#include "sim/frame.h"
#include "sim/reader.h"

namespace {

using fuzz_checks::require;

void check_reply(const sim::Bytes& block) {
    require(block.size() >= 4 && block.size() <= sim::kMaxFrameBytes, "reply block size");
    require(block[0] == sim::kBlockStart, "reply block start");
    require(block[1] == block.size() - 3, "reply LN");
    std::uint8_t check = 0;
    for (std::uint8_t b : block) check ^= b;
    require(check == 0, "reply check character");
    const sim::Bytes wire = sim::encode_wire(block);
    require(wire.size() == 2 * block.size() + 1 && wire.back() == sim::kFrameEnd, "reply wire length");
    require(std::all_of(wire.begin(), wire.end() - 1,
                        [](std::uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }),
            "reply wire is not uppercase hex");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    sim::Card card(sim::default_card(), /*random_seed=*/size);
    const std::span<const std::uint8_t> input(data, size);
    std::size_t start = 0;
    while (start < input.size()) {
        const auto end = std::find(input.begin() + static_cast<std::ptrdiff_t>(start), input.end(), sim::kFrameEnd);
        const std::size_t stop = static_cast<std::size_t>(end - input.begin());
        const sim::ParsedFrame frame = sim::parse_frame(input.subspan(start, stop - start));
        if (frame.ok()) require(frame.block.size() >= 3 && frame.block[0] == sim::kBlockStart, "parsed block");
        const sim::Bytes reply = sim::answer_frame(frame, card);
        check_reply(reply);
        if (!frame.ok()) require(reply[2] == sim::refusal_status(frame.error), "malformed frame not refused");
        start = stop + 1;
    }
    return 0;
}
