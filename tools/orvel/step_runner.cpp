#include "step_runner.h"

#include <chrono>

namespace orvel::tool {

StepResult run_step(const std::string& action, const std::string& function, const StepCall& call,
                    FrameSource* frames) {
    StepResult step;
    step.action = action;
    step.function = function;
    if (frames) frames->take_frames();  // drop anything left from before this step
    auto start = std::chrono::steady_clock::now();
    step.code = call(step.values);
    step.milliseconds = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    if (frames) step.frames = frames->take_frames();
    judge(step);
    return step;
}

}  // namespace orvel::tool
