// The simulated reader with a card in it, on the master side of a fresh
// pseudo-terminal, served by a thread of its own. Clients open slave_path()
// (or the port that map_port names) through the serial line library.
//
// Every instance is independent: its own pseudo-terminal, thread, card and
// random generator. All accessors may be called from any thread while it
// serves. Frames are recorded and the card updated before the reply is
// written, so once a client holds a reply, frames() and card() show it.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/card.h"
#include "sim/card_state.h"
#include "sim/fault.h"
#include "sim/frame.h"

namespace sim {

// One frame the reader received, and what it did about it.
struct FrameRecord {
    std::size_t number = 0;   // exchange number, from 1
    Bytes raw;                // characters received, terminator included (at most 600 kept)
    ParsedFrame parsed;
    Bytes reply_block;        // reply block with check character as built (before line faults)
    Bytes reply_wire;         // what was put on the line (after faults); empty for no_reply
    Fault fault;              // fault applied, kind none if none
};

using TraceSink = std::function<void(const std::string& line)>;

struct SimulatorOptions {
    CardState card = default_card();
    unsigned baud = 0;                          // pace output at 10 bits a byte; 0 = no pacing
    std::optional<std::uint64_t> random_seed;   // card randoms; unset = from std::random_device
    TraceSink trace;                            // one decoded line per frame in and out
    std::size_t keep_frames = SIZE_MAX;         // frames() keeps at most this many, the newest
};

class Simulator {
public:
    explicit Simulator(SimulatorOptions options = {});  // throws std::runtime_error without a pty
    ~Simulator();                                       // stops serving
    Simulator(const Simulator&) = delete;
    Simulator& operator=(const Simulator&) = delete;

    const std::string& slave_path() const;
    // Sets TARVEX_COM<port> to slave_path(). setenv is process-wide: call it
    // before starting threads that open ports.
    void map_port(int port) const;

    // Applies fault to the reply of exchange `exchange_number` (from 1).
    void inject(std::size_t exchange_number, Fault fault);
    // Applies fault to the next `times` frames that match.
    void inject_on(FrameMatch match, Fault fault, int times = 1);
    void clear_faults();

    std::vector<FrameRecord> frames() const;
    void clear_frames();                 // the exchange count keeps running
    std::size_t exchange_count() const;  // frames received so far
    // Waits until at least count frames were handled; false on time-out.
    bool wait_for_exchanges(std::size_t count, std::chrono::milliseconds timeout) const;

    CardState card() const;
    void set_card(CardState state);
    void set_trace(TraceSink sink);

    void stop();  // idempotent; the destructor calls it

    struct Impl;

private:
    std::unique_ptr<Impl> impl_;
};

// Trace lines, exposed for the program and for tests.
std::string describe_frame_in(std::size_t number, const ParsedFrame& frame);
std::string describe_reply(std::size_t number, const ParsedFrame& frame, std::span<const std::uint8_t> reply_block);

}  // namespace sim
