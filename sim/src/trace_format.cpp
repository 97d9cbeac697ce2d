// One decoded line per frame in and out, for --trace and test logs.
#include <cstdio>
#include <string>

#include "sim/simulator.h"

namespace sim {

namespace {

std::string hex_byte(std::uint8_t b) {
    char text[4];
    std::snprintf(text, sizeof text, "%02X", b);
    return text;
}

std::string_view ins_name(std::uint8_t ins, std::uint8_t p1, std::uint8_t p2) {
    switch (ins) {
        case 0xA4: return "SELECT";
        case 0xB0: return "READ BINARY";
        case 0xB2: return "READ RECORD";
        case 0xC0: return p1 == 0 && p2 == 0 ? "GET RESPONSE" : "GET INFO";
        case 0xD6: return "UPDATE BINARY";
        case 0xD0: return "WRITE BINARY";
        case 0xE0: return "CREATE FILE";
        case 0x28: return "SELECT KEY FILE";
        case 0x20: return "VERIFY";
        case 0x30: return "SELECT PURSE KEY";
        case 0x32: return "READ BALANCE";
        case 0x34: return "DEBIT";
        case 0x36: return "CREDIT";
        case 0xD8: return "SET STATUS";
        case 0x14: return "ORDER 14";
        default: return "INS";
    }
}

std::string prefix(std::size_t number, const char* direction) {
    char text[32];
    std::snprintf(text, sizeof text, "#%zu %s ", number, direction);
    return text;
}

}  // namespace

std::string describe_frame_in(std::size_t number, const ParsedFrame& frame) {
    std::string line = prefix(number, "in ");
    if (!frame.ok()) {
        line += "bad frame: ";
        line += describe(frame.error);
        return line;
    }
    auto payload = frame.payload();
    switch (frame.reader_command()) {
        case kReaderPowerUp: return line + "power up " + to_hex(payload, " ");
        case kReaderPowerDown: return line + "power down " + to_hex(payload, " ");
        case kReaderCardInput:
        case kReaderCardOutput: {
            const bool input = frame.reader_command() == kReaderCardInput;
            line += input ? "card-input  " : "card-output ";
            if (payload.size() < 5) return line + "short APDU " + to_hex(payload, " ");
            line += std::string(ins_name(payload[1], payload[2], payload[3]));
            line += " CLA " + hex_byte(payload[0]) + " INS " + hex_byte(payload[1]) + " P1 " + hex_byte(payload[2]);
            if (payload[1] == 0x34 && input) {  // the debit block has no P2 / Lc
                line += " amount " + to_hex(payload.subspan(3, 3));
                if (payload.size() > 6) line += " data " + to_hex(payload.subspan(6));
                return line;
            }
            line += " P2 " + hex_byte(payload[3]) + (input ? " Lc " : " Le ") + hex_byte(payload[4]);
            if (payload.size() > 5) line += " data " + to_hex(payload.subspan(5));
            return line;
        }
        default: return line + "reader command " + hex_byte(frame.reader_command()) + " " + to_hex(payload, " ");
    }
}

std::string describe_reply(std::size_t number, const ParsedFrame& frame, std::span<const std::uint8_t> reply_block) {
    std::string line = prefix(number, "out");
    if (reply_block.size() < 4) return line + "nothing";
    const std::uint8_t status = reply_block[2];
    auto rest = reply_block.subspan(3, reply_block.size() - 4);
    line += "status " + hex_byte(status);
    if (status != kStatusOk && status != kStatusCardError) {
        if (!frame.ok()) return line + " (refused: " + std::string(describe(frame.error)) + ")";
        switch (status) {
            case kStatusUnknownCommand: return line + " (refused: unknown reader command)";
            case kStatusNotPowered: return line + " (refused: card not powered)";
            case kStatusBadParameters: return line + " (refused: bad parameters)";
            default: break;
        }
    }
    if (!frame.ok()) return line;
    switch (frame.reader_command()) {
        case kReaderPowerUp: return rest.empty() ? line : line + " ATR " + to_hex(rest);
        case kReaderCardInput:
        case kReaderCardOutput:
            if (rest.size() >= 2) {
                if (rest.size() > 2) line += " data " + to_hex(rest.first(rest.size() - 2));
                line += " SW " + hex_byte(rest[rest.size() - 2]) + " " + hex_byte(rest[rest.size() - 1]);
            }
            return line;
        default: return rest.empty() ? line : line + " " + to_hex(rest);
    }
}

}  // namespace sim
