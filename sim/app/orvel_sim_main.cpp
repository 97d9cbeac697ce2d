// orvel-sim: the simulated reader and card on a fresh pseudo-terminal.
// Prints the line to export (TARVEX_COM<n>=<slave path>) and serves one client
// after another until SIGINT or SIGTERM.
#include <CLI/CLI.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <mutex>
#include <optional>
#include <string>

#include "sim/simulator.h"

namespace {

// Parses 16 hex digits into 8 bytes.
std::optional<sim::Key8> parse_key(const std::string& text) {
    if (text.size() != 16) return std::nullopt;
    sim::Key8 key{};
    for (std::size_t i = 0; i < 8; ++i) {
        unsigned value = 0;
        for (std::size_t j = 0; j < 2; ++j) {
            const char c = text[2 * i + j];
            unsigned digit = 0;
            if (c >= '0' && c <= '9') digit = static_cast<unsigned>(c - '0');
            else if (c >= 'A' && c <= 'F') digit = static_cast<unsigned>(c - 'A' + 10);
            else if (c >= 'a' && c <= 'f') digit = static_cast<unsigned>(c - 'a' + 10);
            else return std::nullopt;
            value = value << 4 | digit;
        }
        key[i] = static_cast<std::uint8_t>(value);
    }
    return key;
}

// A CLI11 option that takes 8 bytes as 16 hex digits into target.
void add_key_option(CLI::App& app, const std::string& name, sim::Key8& target, const std::string& help) {
    app.add_option_function<std::string>(
           name,
           [&target, name](const std::string& text) {
               auto key = parse_key(text);
               if (!key) throw CLI::ValidationError(name, "expects 16 hex digits");
               target = *key;
           },
           help)
        ->type_name("HEX");
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Simulated card reader with an electronic-purse card in it, on a pseudo-terminal"};
    sim::SimulatorOptions options;
    int port = 7;
    bool trace = false;
    std::uint32_t balance = options.card.balance;
    std::optional<std::uint64_t> seed;
    app.add_option("--port", port, "port number shown in the line to export (TARVEX_COM<port>)")
        ->check(CLI::Range(0, 200));
    app.add_flag("--trace", trace, "print every frame in and out, decoded, one line each");
    app.add_option("--baud", options.baud, "pace replies at this line rate (10 bits a byte); 0 = unpaced")
        ->check(CLI::Range(0u, 4'000'000u));
    add_key_option(app, "--serial", options.card.serial, "card serial number (8 bytes)");
    add_key_option(app, "--key-a", options.card.auth_key_a, "authentication key, first half");
    add_key_option(app, "--key-b", options.card.auth_key_b, "authentication key, second half");
    add_key_option(app, "--mac-key-a", options.card.mac_key_a, "MAC key, first half");
    add_key_option(app, "--mac-key-b", options.card.mac_key_b, "MAC key, second half");
    add_key_option(app, "--code-key", options.card.code_key, "key of the VERIFY code");
    app.add_option("--balance", balance, "initial purse balance")->check(CLI::Range(0u, sim::kMaxBalance));
    app.add_option("--seed", seed, "seed of the card randoms (repeatable runs)");
    CLI11_PARSE(app, argc, argv);
    options.card.balance = balance;
    options.random_seed = seed;

    std::mutex out_mutex;
    if (trace) {
        options.trace = [&out_mutex](const std::string& line) {
            std::lock_guard lock(out_mutex);
            std::cout << line << std::endl;
        };
    }

    // A reader of the trace that goes away must not take the simulator with it.
    std::signal(SIGPIPE, SIG_IGN);
    // Block the stop signals before any thread starts, then wait for one.
    sigset_t stop_signals;
    sigemptyset(&stop_signals);
    sigaddset(&stop_signals, SIGINT);
    sigaddset(&stop_signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stop_signals, nullptr);

    try {
        sim::Simulator simulator(std::move(options));
        {
            std::lock_guard lock(out_mutex);
            std::cout << "TARVEX_COM" << port << "=" << simulator.slave_path() << std::endl;
        }
        int signal_number = 0;
        sigwait(&stop_signals, &signal_number);
        simulator.stop();
    } catch (const std::exception& error) {
        std::cerr << "orvel-sim: " << error.what() << "\n";
        return 1;
    }
    return 0;
}
