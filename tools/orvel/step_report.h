// One library call as the tool reports it: what it did, the result code and
// its meaning, the values returned, and (with --trace) the frames on the
// line. Printed as one readable line or as one JSON object per line.
#pragma once

#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>
#include <vector>

#include "argument_parsing.h"

namespace orvel::tool {

struct StepValue {
    std::string name;
    Bytes bytes;
    std::optional<long long> number;  // also shown in decimal (balances, amounts)
};

struct TracedFrame {
    bool to_reader = true;
    Bytes block;             // decoded block, check character included
    std::string described;   // one readable line
};

struct StepResult {
    std::string action;    // what the step did, e.g. "select file 3F01"
    std::string function;  // the library function called
    int code = 0;
    std::string meaning;
    bool ok = false;
    std::vector<StepValue> values;
    std::string note;  // a check the tool made itself, when it failed
    std::vector<TracedFrame> frames;
    double milliseconds = 0;
};

// Fills meaning and ok from the function's result code.
void judge(StepResult& step);

// "  3. read the serial number   OrvelGetInfo   0  information read  serial=..."
void print_step_line(std::ostream& out, int number, const StepResult& step, bool with_frames);

// {"step":3,"action":...,"function":...,"result":0,"ok":true,"meaning":...,
//  "values":{...},"frames":[...],"ms":...} on one line.
void print_step_json(std::ostream& out, int number, const StepResult& step, bool with_frames);

}  // namespace orvel::tool
