// Runs one library call as a step: times it, gathers the frames that crossed
// the line meanwhile (when a trace is available) and judges its result code.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "step_report.h"

namespace orvel::tool {

// Where traced frames come from: the built-in simulator reports every frame
// it receives and sends; a real port has no such tap.
class FrameSource {
public:
    virtual ~FrameSource() = default;
    // The frames seen since the last call, oldest first.
    virtual std::vector<TracedFrame> take_frames() = 0;
};

// The call fills in the values it got back and returns the result code.
using StepCall = std::function<int(std::vector<StepValue>& values)>;

StepResult run_step(const std::string& action, const std::string& function, const StepCall& call,
                    FrameSource* frames);

}  // namespace orvel::tool
