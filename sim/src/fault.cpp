#include "sim/fault.h"

#include <cstdio>

namespace sim {

Fault Fault::stall_once(std::chrono::milliseconds delay, std::size_t position) {
    Fault f{FaultKind::stall_once};
    f.delay = delay;
    f.position = position;
    return f;
}

Fault Fault::stall_twice(std::chrono::milliseconds delay, std::size_t position, std::size_t position2) {
    Fault f{FaultKind::stall_twice};
    f.delay = delay;
    f.position = position;
    f.position2 = position2;
    return f;
}

Fault Fault::cut_reply(std::size_t position) {
    Fault f{FaultKind::cut_reply};
    f.position = position;
    return f;
}

Fault Fault::reader_status(std::uint8_t status) {
    Fault f{FaultKind::reader_status};
    f.status = status;
    return f;
}

Fault Fault::corrupt_char(std::size_t position, std::uint8_t replacement) {
    Fault f{FaultKind::corrupt_char};
    f.position = position;
    f.replacement = replacement;
    return f;
}

Fault Fault::late_reply(std::chrono::milliseconds delay) {
    Fault f{FaultKind::late_reply};
    f.delay = delay;
    return f;
}

std::string describe(const Fault& fault) {
    char text[96];
    const auto ms = static_cast<long long>(fault.delay.count());
    switch (fault.kind) {
        case FaultKind::none: return "none";
        case FaultKind::no_reply: return "no reply";
        case FaultKind::stall_once:
            std::snprintf(text, sizeof text, "stall %lld ms after %zu characters", ms, fault.position);
            return text;
        case FaultKind::stall_twice:
            std::snprintf(text, sizeof text, "stall twice %lld ms after %zu and %zu characters", ms, fault.position,
                          fault.position2);
            return text;
        case FaultKind::cut_reply:
            if (fault.position == SIZE_MAX) return "reply cut before its terminator";
            std::snprintf(text, sizeof text, "reply cut after %zu characters", fault.position);
            return text;
        case FaultKind::reader_status:
            std::snprintf(text, sizeof text, "reader status %02X", fault.status);
            return text;
        case FaultKind::wrong_mac: return "wrong response MAC";
        case FaultKind::corrupt_char:
            std::snprintf(text, sizeof text, "character %zu corrupted", fault.position);
            return text;
        case FaultKind::late_reply:
            std::snprintf(text, sizeof text, "late reply after %lld ms", ms);
            return text;
    }
    return "unknown";
}

}  // namespace sim
