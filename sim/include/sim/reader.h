// The simulated reader: one parsed frame in, one reply block out.
#pragma once

#include "sim/card.h"
#include "sim/frame.h"

namespace sim {

inline constexpr std::uint8_t kPowerUpParameters[] = {0x02, 0x00, 0x00};

// Answers a frame for the card: power up and down, card exchanges, and
// refusals for malformed frames, unknown commands and an unpowered card.
// Returns the reply block with its check character.
Bytes answer_frame(const ParsedFrame& frame, Card& card);

}  // namespace sim
