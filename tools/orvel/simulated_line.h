// The built-in simulated reader and card behind a port number: starts the
// simulator on a fresh pseudo-terminal, maps the port to it and hands the
// frames it saw to the steps, decoded.
#pragma once

#include <sim/simulator.h>

#include <cstddef>
#include <memory>

#include "step_runner.h"

namespace orvel::tool {

class SimulatedLine : public FrameSource {
public:
    // Throws std::runtime_error when no pseudo-terminal can be had.
    // pace_baud paces the simulator's replies at that line rate (0: none).
    SimulatedLine(int port, unsigned pace_baud);

    std::vector<TracedFrame> take_frames() override;

    sim::Simulator& simulator() { return *simulator_; }
    const std::string& device() const { return simulator_->slave_path(); }

    // Characters that crossed the line so far, each way.
    std::size_t sent_bytes() const { return sent_bytes_; }
    std::size_t received_bytes() const { return received_bytes_; }
    std::size_t exchanges() const { return exchanges_; }

private:
    std::unique_ptr<sim::Simulator> simulator_;
    std::size_t sent_bytes_ = 0;
    std::size_t received_bytes_ = 0;
    std::size_t exchanges_ = 0;
};

}  // namespace orvel::tool
