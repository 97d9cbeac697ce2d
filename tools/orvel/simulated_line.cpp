#include "simulated_line.h"

namespace orvel::tool {

SimulatedLine::SimulatedLine(int port, unsigned pace_baud) {
    sim::SimulatorOptions options;
    options.baud = pace_baud;
    simulator_ = std::make_unique<sim::Simulator>(std::move(options));
    simulator_->map_port(port);
}

std::vector<TracedFrame> SimulatedLine::take_frames() {
    // The simulator records a frame before it writes the reply, so every
    // exchange the library has finished is already here.
    std::vector<sim::FrameRecord> records = simulator_->frames();
    simulator_->clear_frames();
    std::vector<TracedFrame> frames;
    for (const auto& record : records) {
        ++exchanges_;
        sent_bytes_ += record.raw.size();
        received_bytes_ += record.reply_wire.size();
        Bytes sent = record.parsed.block;
        frames.push_back({true, sent, sim::describe_frame_in(record.number, record.parsed)});
        if (!record.reply_wire.empty()) {
            frames.push_back({false, record.reply_block,
                              sim::describe_reply(record.number, record.parsed, record.reply_block)});
        }
    }
    return frames;
}

}  // namespace orvel::tool
