// `orvel demo`: a whole card session against the built-in simulator, one
// line per step, and a one-line summary.
#pragma once

#include <cstddef>
#include <iosfwd>

#include "port_line.h"

namespace orvel::tool {

struct DemoOptions {
    LineSettings line;
    bool trace = false;
    bool json = false;
    bool pace = false;  // the simulator answers at the line rate, as a real reader would
    // When nonzero, the simulated reader refuses this exchange (counted from
    // 1), to show what a failing step looks like.
    std::size_t refuse_exchange = 0;
};

// Returns the exit status: 0 when every step succeeded.
int run_demo(const DemoOptions& options, std::ostream& out, std::ostream& err);

}  // namespace orvel::tool
