// `orvel demo`: a whole card session against the built-in simulator, one
// line per step, and a one-line summary.
#pragma once

#include <iosfwd>

#include "port_line.h"

namespace orvel::tool {

struct DemoOptions {
    LineSettings line;
    bool trace = false;
    bool json = false;
    bool pace = false;  // the simulator answers at the line rate, as a real reader would
};

// Returns the exit status: 0 when every step succeeded.
int run_demo(const DemoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace orvel::tool
