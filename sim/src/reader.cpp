// The reader: power commands go to the card's contacts, card exchanges carry
// an APDU to the card and its answer back from reply offset 3.
#include "sim/reader.h"

#include <algorithm>

namespace sim {

namespace {

constexpr std::size_t kMinApduBytes = 5;  // CLA INS P1 P2 P3

Bytes refuse(std::uint8_t status) { return make_reply_block(status, {}); }

// Status 0x00 when the card answered 90 00 or 61 xx, 0xE7 for anything else.
std::uint8_t status_for(const CardResponse& response) {
    return response.status == sw::kOk || response.sw1() == (sw::kBytesAvailable >> 8) ? kStatusOk
                                                                                        : kStatusCardError;
}

}  // namespace

Bytes answer_frame(const ParsedFrame& frame, Card& card) {
    if (!frame.ok()) return refuse(refusal_status(frame.error));
    auto payload = frame.payload();
    switch (frame.reader_command()) {
        case kReaderPowerUp: {
            if (!std::ranges::equal(payload, kPowerUpParameters)) return refuse(kStatusBadParameters);
            Bytes atr = card.power_up();
            return make_reply_block(kStatusOk, atr);
        }
        case kReaderPowerDown:
            if (payload.size() != 1) return refuse(kStatusBadParameters);
            card.power_down();
            return make_reply_block(kStatusOk, {});
        case kReaderCardInput:
        case kReaderCardOutput: {
            if (!card.powered()) return refuse(kStatusNotPowered);
            if (payload.size() < kMinApduBytes) return refuse(kStatusBadParameters);
            CardResponse response = card.exchange(payload);
            return make_reply_block(status_for(response), response.bytes());
        }
        default: return refuse(kStatusUnknownCommand);
    }
}

}  // namespace sim
