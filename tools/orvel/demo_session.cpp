#include "demo_session.h"

#include <sim/crypto.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "card_commands.h"
#include "exit_status.h"
#include "simulated_line.h"

namespace orvel::tool {

namespace {

// What the demo does with the simulated card.
constexpr std::uint16_t kApplicationFile = 0x3F01;
constexpr std::uint16_t kDataFile = 0x0004;
constexpr std::uint16_t kPurseValueFile = 0x0005;
constexpr std::uint8_t kPurseValueShortId = 0x05;
constexpr std::uint8_t kClaPlain = 0x00;
constexpr std::uint8_t kClaProprietary = 0x80;
constexpr std::uint8_t kInfoP1 = 0x02;
constexpr std::uint8_t kInfoSerial = 0xA1;
constexpr std::uint8_t kInfoHolder = 0xA4;
constexpr std::uint8_t kSelectP3 = 0x02;
constexpr std::uint32_t kCreditAmount = 500;
constexpr int kDebitAmount = 125;
constexpr std::uint8_t kPurseValueMark = 0x01;
constexpr Key kMasterKey = {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};
const Bytes kPlainData = {0x48, 0x45, 0x4C, 0x4C, 0x4F, 0x20, 0x31, 0x32};  // "HELLO 12"
const Bytes kMacData = {0x4D, 0x41, 0x43, 0x20, 0x44, 0x41, 0x54, 0x41};    // "MAC DATA"
constexpr std::uint8_t kPlainOffset = 0x00;
constexpr std::uint8_t kMacOffset = 0x10;
const Bytes kNoPurseData(8, 0x00);
constexpr std::uint8_t kRefusingReaderStatus = 0x6F;  // neither 00 nor E7: the library refuses the reply

Key to_key(const std::array<std::uint8_t, 8>& k) {
    Key key{};
    std::copy(k.begin(), k.end(), key.begin());
    return key;
}

const StepValue* value_named(const StepResult& step, const std::string& name) {
    for (const auto& value : step.values) {
        if (value.name == name) return &value;
    }
    return nullptr;
}

// Marks a step failed when a value it returned is not what the card holds.
void expect_value(StepResult& step, const std::string& name, const Bytes& expected) {
    if (!step.ok) return;
    const StepValue* value = value_named(step, name);
    if (!value || value->bytes != expected) {
        step.note = name + " is not the expected " + to_hex(expected);
        step.ok = false;
    }
}

class DemoRun {
public:
    DemoRun(const DemoOptions& options, std::ostream& out, SimulatedLine& line)
        : options_(options), out_(out), line_{options.line.port, &line} {}

    // Prints the step and remembers whether it failed.
    const StepResult& record(StepResult step) {
        ++number_;
        if (!step.ok) ++failed_;
        if (options_.json) {
            print_step_json(out_, number_, step, options_.trace);
        } else {
            print_step_line(out_, number_, step, options_.trace);
        }
        last_ = std::move(step);
        return last_;
    }

    const CardLine& line() const { return line_; }
    int steps() const { return number_; }
    int failed() const { return failed_; }

private:
    const DemoOptions& options_;
    std::ostream& out_;
    CardLine line_;
    int number_ = 0;
    int failed_ = 0;
    StepResult last_;
};

void print_summary(std::ostream& out, const DemoOptions& options, const DemoRun& run, const SimulatedLine& line,
                   double seconds) {
    // Ten bits a character (start, 8 data, stop) at the port's rate.
    std::size_t characters = line.sent_bytes() + line.received_bytes();
    double line_seconds = static_cast<double>(characters) * 10.0 / options.line.baud;
    if (options.json) {
        nlohmann::ordered_json j = {{"summary",
                                     {{"steps", run.steps()},
                                      {"failed", run.failed()},
                                      {"ok", run.failed() == 0},
                                      {"seconds", seconds},
                                      {"exchanges", line.exchanges()},
                                      {"characters_sent", line.sent_bytes()},
                                      {"characters_received", line.received_bytes()},
                                      {"baud", options.line.baud},
                                      {"line_seconds", line_seconds},
                                      {"paced", options.pace}}}};
        out << j.dump() << '\n';
        return;
    }
    char text[320];
    std::snprintf(text, sizeof text,
                  "demo: %d steps, %d failed in %.3f s; %zu exchanges, %zu characters sent and %zu received, "
                  "%.3f s of line time at %d baud (%s)\n",
                  run.steps(), run.failed(), seconds, line.exchanges(), line.sent_bytes(), line.received_bytes(),
                  line_seconds, options.line.baud,
                  options.pace ? "replies paced at that rate" : "not waited for; --pace paces the replies");
    out << (run.failed() == 0 ? "PASS " : "FAIL ") << text;
}

}  // namespace

int run_demo(const DemoOptions& options, std::ostream& out, std::ostream& err) {
    std::unique_ptr<SimulatedLine> simulated;
    try {
        simulated = std::make_unique<SimulatedLine>(options.line.port, options.pace ? options.line.baud : 0);
    } catch (const std::exception& e) {
        err << "orvel: demo: the simulator did not start: " << e.what() << ".\n";
        return kExitSimulatorFailed;
    }
    if (options.refuse_exchange > 0) {
        simulated->simulator().inject(options.refuse_exchange, sim::Fault::reader_status(kRefusingReaderStatus));
    }
    const sim::CardState card = simulated->simulator().card();
    const Key auth_a = to_key(card.auth_key_a);
    const Key auth_b = to_key(card.auth_key_b);
    const Key mac_a = to_key(card.mac_key_a);
    const Key mac_b = to_key(card.mac_key_b);
    const Bytes serial(card.serial.begin(), card.serial.end());

    if (!options.json) {
        out << "orvel demo: a simulated reader and card on " << simulated->device() << ", mapped to COM"
            << options.line.port << "\n";
    }
    DemoRun run(options, out, *simulated);
    const CardLine& line = run.line();
    auto start = std::chrono::steady_clock::now();

    StepResult opened = open_port(options.line, line.frames);
    bool port_open = opened.ok;
    run.record(std::move(opened));
    if (port_open) {
        run.record(power_on(line));
        {
            StepResult s = get_info(line, kClaProprietary, kInfoP1, kInfoSerial, "read the serial number");
            expect_value(s, "serial", serial);
            run.record(std::move(s));
        }
        run.record(get_info(line, kClaProprietary, kInfoP1, kInfoHolder, "read card information"));
        run.record(select_file(line, 0x00, 0x00, kSelectP3, kApplicationFile));
        run.record(authenticate(line, auth_a, auth_b, "authenticate"));

        run.record(select_file(line, 0x00, 0x00, kSelectP3, kDataFile));
        run.record(update_binary(line, kClaPlain, 0x00, kPlainOffset, kPlainData, nullptr, nullptr));
        {
            StepResult s = read_binary(line, kClaPlain, 0x00, kPlainOffset, static_cast<std::uint8_t>(kPlainData.size()));
            expect_value(s, "data", kPlainData);
            run.record(std::move(s));
        }
        run.record(update_binary(line, kClaPlain, 0x00, kMacOffset, kMacData, &mac_a, &mac_b));
        {
            StepResult s = read_binary(line, kClaPlain, 0x00, kMacOffset, static_cast<std::uint8_t>(kMacData.size()));
            expect_value(s, "data", kMacData);
            run.record(std::move(s));
        }

        long long balance_before = -1;
        {
            const StepResult& s = run.record(read_balance(line, kClaProprietary, 0x00, Bytes(4, 0x00)));
            if (const StepValue* v = value_named(s, "balance"); v && v->number) balance_before = *v->number;
        }
        run.record(credit(line, kClaProprietary, 0x00, kCreditAmount, kNoPurseData));
        run.record(debit(line, kClaProprietary, Bytes(4, 0x00), kDebitAmount));
        {
            StepResult s = read_balance(line, kClaProprietary, 0x00, Bytes(4, 0x00));
            long long expected = balance_before + kCreditAmount - kDebitAmount;
            if (s.ok && balance_before >= 0) {
                const StepValue* v = value_named(s, "balance");
                if (!v || !v->number || *v->number != expected) {
                    s.note = "balance is not the expected " + std::to_string(expected);
                    s.ok = false;
                }
            }
            run.record(std::move(s));
        }
        {
            auto be3 = [](long long v) {
                return Bytes{static_cast<std::uint8_t>(v >> 16), static_cast<std::uint8_t>(v >> 8),
                             static_cast<std::uint8_t>(v)};
            };
            long long now = balance_before + kCreditAmount - kDebitAmount;
            run.record(update_purse_value(line, kPurseValueMark, kPurseValueFile, kPurseValueShortId, be3(now),
                                          be3(kCreditAmount), be3(kDebitAmount), be3(balance_before)));
        }

        Key system_key{};
        {
            const StepResult& s = run.record(make_system_key(line, kMasterKey));
            if (const StepValue* v = value_named(s, "systemKey"); v && v->bytes.size() == 8) {
                std::copy(v->bytes.begin(), v->bytes.end(), system_key.begin());
            }
        }
        run.record(change_key(line, auth_a, auth_b, kMasterKey));
        run.record(authenticate_3f01(line, system_key, system_key, "authenticate with the new key"));
        {
            // The card's code is its card-data bytes enciphered under the code key.
            const auto& card_data = card.files.at(sim::kFileCardData).contents;
            sim::Block8 block{};
            std::copy_n(card_data.begin(), block.size(), block.begin());
            sim::Block8 code = sim::crypto::des_encrypt(block, card.code_key);
            StepResult s = verify(line, kClaPlain, 0x00, Bytes(code.begin(), code.end()));
            if (s.ok && !simulated->simulator().card().code_verified) {
                s.note = "the card did not accept the code";
                s.ok = false;
            }
            run.record(std::move(s));
        }
        run.record(power_off(line));
        run.record(close_port(options.line.port, line.frames));
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    print_summary(out, options, run, *simulated, seconds);
    return run.failed() == 0 ? kExitOk : kExitCommandFailed;
}

}  // namespace orvel::tool
