// orvel: work with an electronic-purse card in a serial card reader from a
// shell, or watch a whole session against the built-in simulator.
#include <CLI/CLI.hpp>
#include <nlohmann/json.hpp>

#include <iostream>
#include <memory>
#include <optional>

#include "card_command_line.h"
#include "demo_session.h"
#include "exit_status.h"
#include "port_line.h"
#include "simulated_line.h"

#include <sim/card_state.h>

namespace orvel::tool {

namespace {

constexpr int kMaxPort = 200;
constexpr long long kMaxReadTimeoutMs = 60000;

struct GlobalOptions {
    std::string port = "1";
    std::string baud = "9600";
    std::string timeout = "500";
    bool sim = false;
    bool json = false;
    bool trace = false;
    bool pace = false;
};

LineSettings check_line_settings(const GlobalOptions& g) {
    LineSettings line;
    line.port = static_cast<int>(parse_integer("--port", g.port, 0, kMaxPort));
    long long baud = parse_integer("--baud", g.baud, 1, 1000000);
    if (!is_supported_baud(baud)) {
        throw ArgumentError(kExitOutOfRange, "--baud: " + g.baud + " is not a rate the serial library sets (" +
                                                 supported_bauds_text() + ").");
    }
    line.baud = static_cast<int>(baud);
    line.read_timeout_ms = static_cast<int>(parse_integer("--timeout", g.timeout, 0, kMaxReadTimeoutMs));
    return line;
}

int refuse(const std::string& sentence, int status, bool json) {
    std::cerr << "orvel: " << sentence << '\n';
    if (json) std::cout << nlohmann::ordered_json{{"error", sentence}, {"exit", status}}.dump() << '\n';
    return status;
}

int run_commands(const GlobalOptions& g, const LineSettings& settings, const std::vector<PreparedCommand>& commands) {
    std::unique_ptr<SimulatedLine> simulated;
    if (g.sim) {
        try {
            simulated = std::make_unique<SimulatedLine>(settings.port, g.pace ? static_cast<unsigned>(settings.baud) : 0);
        } catch (const std::exception& e) {
            return refuse(std::string("--sim: the simulator did not start: ") + e.what() + ".", kExitSimulatorFailed, g.json);
        }
    }
    CardLine line{settings.port, simulated.get()};
    StepResult opened = open_port(settings, line.frames);
    if (!opened.ok) {
        if (opened.code == 0) close_port(settings.port, nullptr);  // opened but not configured: release it
        return refuse(port_open_failure_sentence(settings.port, opened.code), kExitPortWontOpen, g.json);
    }
    int status = kExitOk;
    int number = 0;
    for (const auto& command : commands) {
        StepResult step = command(line);
        ++number;
        if (g.json) {
            print_step_json(std::cout, number, step, g.trace);
        } else {
            print_step_line(std::cout, number, step, g.trace);
        }
        if (!step.ok) {
            status = kExitCommandFailed;
            break;  // a session stops where the card stopped following
        }
    }
    close_port(settings.port, nullptr);
    return status;
}

}  // namespace

// What --sim and the demo start with, from the simulator itself.
std::string simulated_card_text() {
    const sim::CardState card = sim::default_card();
    auto hex = [](const auto& bytes) { return to_hex(bytes.data(), bytes.size()); };
    return "The simulator's card (--sim, demo): serial number " + hex(card.serial) + ", authentication keys " +
           hex(card.auth_key_a) + " / " + hex(card.auth_key_b) + ",\nMAC keys " + hex(card.mac_key_a) + " / " +
           hex(card.mac_key_b) + ", balance " + std::to_string(card.balance) +
           ";\nfiles 3F01 (application), 0003 card data, 0004 free data, 0005 purse value. It starts powered off.\n";
}

int run(int argc, char** argv) {
    CLI::App app{"orvel: work with an electronic-purse card in a serial card reader, or run the built-in demo.\n"
                 "Give one or more commands (each once); they run in order on one open port and stop at the first\n"
                 "that fails."};
    app.name("orvel");
    app.fallthrough();
    app.footer(
        "Ports: port number n opens COMn, the device in the environment variable TARVEX_COM<n>\n"
        "(for example TARVEX_COM3=/dev/ttyUSB0), else /dev/ttyS<n-1>.\n"
        + simulated_card_text() +
        "Exit status: 0 success; 1 a card command failed; 2 usage; 3 malformed hex; 4 wrong length;\n"
        "5 value out of range; 6 port did not open; 7 simulator did not start.\n"
        "Examples:\n"
        "  orvel demo --trace\n"
        "  orvel --port 3 --baud 9600 power-on info select 3F01\n"
        "  orvel --sim --json power-on balance");

    GlobalOptions g;
    app.add_option("--port", g.port, "port number n, 0 to 200 (opens COMn)")->capture_default_str()->type_name("N");
    app.add_option("--baud", g.baud, "line rate (110 ... 256000)")->capture_default_str()->type_name("RATE");
    app.add_option("--timeout", g.timeout, "read time-out constant in ms, 0 to 60000 (a read of n bytes waits 500*n + this)")
        ->capture_default_str()
        ->type_name("MS");
    app.add_flag("--sim", g.sim, "run against the built-in simulated reader and card instead of a device");
    app.add_flag("--json", g.json, "print each result as one JSON object per line");
    app.add_flag("--trace", g.trace, "also print the frames on the line, decoded (with --sim and demo)");
    app.add_flag("--pace", g.pace, "with --sim and demo: the simulator answers at the line rate, as a real reader would");

    CLI::App* demo = app.add_subcommand("demo", "Run a complete card session against the built-in simulator.");
    demo->footer("Example:\n  orvel demo --trace");
    std::string refuse_exchange = "0";
    demo->add_option("--refuse-exchange", refuse_exchange,
                     "let the simulated reader refuse exchange N (from 1) to show a failing step")
        ->type_name("N");
    std::vector<CardSubcommand> commands = add_card_subcommands(app);
    app.require_subcommand(1, 0);

    if (argc <= 1) {
        std::cout << app.help();
        return kExitUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp& e) {
        return app.exit(e);
    } catch (const CLI::CallForAllHelp& e) {
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::vector<std::string> unknown = app.remaining();
        if (app.get_subcommands().empty() && !unknown.empty()) {
            return refuse("\"" + unknown.front() + "\" is not a command of orvel (see orvel --help).", kExitUsage, g.json);
        }
        return refuse(std::string(e.what()) + " (see orvel --help).", kExitUsage, g.json);
    }

    try {
        std::vector<CLI::App*> chosen = app.get_subcommands();
        // CLI11 takes each command once; a repeat would otherwise be dropped.
        std::vector<std::string> left = app.remaining();
        for (CLI::App* sub : chosen) {
            if (sub->count() > 1) left.push_back(sub->get_name());
            for (const auto& arg : sub->remaining()) left.push_back(arg);
        }
        if (!left.empty()) {
            throw ArgumentError(kExitUsage, "\"" + left.front() +
                                                "\" was not expected: each command can be given once per call of orvel.");
        }
        LineSettings settings = check_line_settings(g);
        if (demo->parsed()) {
            if (chosen.size() > 1) throw ArgumentError(kExitUsage, "demo runs on its own, without other commands.");
            auto refused = static_cast<std::size_t>(parse_integer("--refuse-exchange", refuse_exchange, 0, 1000000));
            return run_demo({settings, g.trace, g.json, g.pace, refused}, std::cout, std::cerr);
        }
        if (g.trace && !g.sim) {
            throw ArgumentError(kExitUsage, "--trace needs --sim: frames are seen only on the simulator's side.");
        }
        // Check every argument of every command before the port is opened.
        std::vector<PreparedCommand> prepared;
        for (CLI::App* sub : chosen) {
            for (const auto& command : commands) {
                if (command.app == sub) prepared.push_back(command.prepare());
            }
        }
        return run_commands(g, settings, prepared);
    } catch (const ArgumentError& e) {
        return refuse(e.what(), e.status(), g.json);
    }
}

}  // namespace orvel::tool

int main(int argc, char** argv) { return orvel::tool::run(argc, argv); }
