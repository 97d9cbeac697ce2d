// The tool's card commands on the command line: one subcommand each, its
// options, its help with an example, and the check of its arguments.
#pragma once

#include <CLI/CLI.hpp>

#include <functional>
#include <vector>

#include "card_commands.h"

namespace orvel::tool {

// A command whose arguments have been checked, ready to run on a line.
using PreparedCommand = std::function<StepResult(const CardLine&)>;

struct CardSubcommand {
    CLI::App* app = nullptr;
    // Checks the arguments (throws ArgumentError) and binds them.
    std::function<PreparedCommand()> prepare;
};

std::vector<CardSubcommand> add_card_subcommands(CLI::App& app);

}  // namespace orvel::tool
