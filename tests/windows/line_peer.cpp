// The far end of a serial line for the line scenarios: a native program that
// holds a pseudo-terminal master and plays a script against whatever opens
// the slave (the Win32 layer under Wine, or the POSIX layer natively).
//
//   line_peer --port=N STEP...
//     expect=HEX   the next bytes from the line must be exactly these
//     send=HEX     put these bytes on the line
//
// It first prints TARVEX_COM<N>=<slave path> (the line the driver reads to
// map the port), then runs the steps in order. Exit status: 0 every step
// held and nothing followed; 1 a byte differed, came unscripted or a step was
// malformed; 2 the line stayed silent for too long. Because expectations are
// exact, a script that ends with
// expect=<end marker> also proves that nothing else (say, an extra resend)
// was sent before the marker.
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "pty_pair.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Long enough for the slowest silent stretch (the overrun measurement) on a
// loaded machine; the driver's own limit stops a peer that hangs anyway.
constexpr std::chrono::milliseconds kSilenceLimit{90000};
constexpr std::chrono::milliseconds kLingerQuiet{300};

std::optional<Bytes> parse_hex(std::string_view text) {
    if (text.size() % 2 != 0) return std::nullopt;
    Bytes out;
    for (std::size_t i = 0; i < text.size(); i += 2) {
        unsigned value = 0;
        for (char c : text.substr(i, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9') value |= static_cast<unsigned>(c - '0');
            else if (c >= 'A' && c <= 'F') value |= static_cast<unsigned>(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f') value |= static_cast<unsigned>(c - 'a' + 10);
            else return std::nullopt;
        }
        out.push_back(static_cast<std::uint8_t>(value));
    }
    return out;
}

std::string to_hex(const Bytes& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (std::uint8_t b : bytes) {
        out += kDigits[b >> 4];
        out += kDigits[b & 0x0F];
    }
    return out.empty() ? "(nothing)" : out;
}

int run(int argc, char** argv) {
    if (argc < 2 || std::string_view(argv[1]).substr(0, 7) != "--port=") {
        std::fprintf(stderr, "usage: line_peer --port=N [expect=HEX|send=HEX]...\n");
        return 1;
    }
    const std::string port(std::string_view(argv[1]).substr(7));

    testing_support::PtyPair line;
    std::printf("TARVEX_COM%s=%s\n", port.c_str(), line.slave_path().c_str());
    std::fflush(stdout);

    for (int i = 2; i < argc; ++i) {
        const std::string_view step(argv[i]);
        const auto equals = step.find('=');
        const auto bytes = equals == std::string_view::npos ? std::nullopt : parse_hex(step.substr(equals + 1));
        if (!bytes) {
            std::fprintf(stderr, "line_peer: malformed step '%s'\n", argv[i]);
            return 1;
        }
        const std::string_view verb = step.substr(0, equals);
        if (verb == "send") {
            line.write_master(*bytes);
        } else if (verb == "expect") {
            const Bytes got = line.read_master(bytes->size(), kSilenceLimit);
            if (got != *bytes) {
                std::fprintf(stderr, "line_peer: step %d (%s): got %s\n", i - 1, argv[i], to_hex(got).c_str());
                return got.size() < bytes->size() && std::equal(got.begin(), got.end(), bytes->begin()) ? 2 : 1;
            }
        } else {
            std::fprintf(stderr, "line_peer: unknown step '%s'\n", argv[i]);
            return 1;
        }
    }
    // Stay on the line a little: closing the master at once would hang the
    // line up before the client has read the last bytes sent. Anything that
    // arrives meanwhile was not in the script.
    const Bytes extra = line.drain_master(kLingerQuiet);
    if (!extra.empty()) {
        std::fprintf(stderr, "line_peer: after the last step: got %s\n", to_hex(extra).c_str());
        return 1;
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "line_peer: %s\n", e.what());
        return 1;
    }
}
