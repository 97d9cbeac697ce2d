#include "step_report.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "result_meanings.h"

namespace orvel::tool {

void judge(StepResult& step) {
    step.meaning = result_meaning(step.function, step.code);
    step.ok = step.code == success_code(step.function) && step.note.empty();
}

void print_step_line(std::ostream& out, int number, const StepResult& step, bool with_frames) {
    char head[160];
    std::snprintf(head, sizeof head, "%3d. %-38s %-22s %3d  ", number, step.action.c_str(), step.function.c_str(), step.code);
    out << head << (step.ok ? "" : "FAILED: ") << step.meaning;
    for (const auto& value : step.values) {
        out << "  " << value.name << '=' << to_hex(value.bytes);
        if (value.number) out << " (" << *value.number << ')';
    }
    if (!step.note.empty()) out << "  [" << step.note << ']';
    out << '\n';
    if (with_frames) {
        for (const auto& frame : step.frames) {
            out << (frame.to_reader ? "        -> " : "        <- ") << frame.described << '\n';
        }
    }
}

void print_step_json(std::ostream& out, int number, const StepResult& step, bool with_frames) {
    nlohmann::ordered_json j;
    j["step"] = number;
    j["action"] = step.action;
    j["function"] = step.function;
    j["result"] = step.code;
    j["ok"] = step.ok;
    j["meaning"] = step.meaning;
    nlohmann::ordered_json values = nlohmann::ordered_json::object();
    nlohmann::ordered_json numbers = nlohmann::ordered_json::object();
    for (const auto& value : step.values) {
        values[value.name] = to_hex(value.bytes);
        if (value.number) numbers[value.name] = *value.number;
    }
    j["values"] = values;
    if (!numbers.empty()) j["numbers"] = numbers;
    if (!step.note.empty()) j["note"] = step.note;
    if (with_frames) {
        nlohmann::ordered_json frames = nlohmann::ordered_json::array();
        for (const auto& frame : step.frames) {
            frames.push_back({{"direction", frame.to_reader ? "to reader" : "from reader"},
                              {"block", to_hex(frame.block)},
                              {"decoded", frame.described}});
        }
        j["frames"] = frames;
    }
    j["ms"] = std::round(step.milliseconds * 1000.0) / 1000.0;
    out << j.dump() << '\n';
}

}  // namespace orvel::tool
