// Runs the orvel program as a child process and collects what it printed.
#pragma once

#include <map>
#include <string>
#include <vector>

namespace tool_test {

struct ToolRun {
    int exit_status = -1;
    std::string out;
    std::string err;
    std::vector<std::string> out_lines() const;
};

// Runs orvel with these arguments; `environment` entries are set on top of
// the test's own environment.
ToolRun run_orvel(const std::vector<std::string>& args, const std::map<std::string, std::string>& environment = {});

}  // namespace tool_test
