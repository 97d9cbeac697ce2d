// The card commands against the built-in simulator: what each prints, the
// result code with its meaning when the card or reader says no, and --json
// output parsed back.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>
#include <sim/card_state.h>
#include <sim/crypto.h>

#include <algorithm>
#include <sstream>

#include "tool_process.h"

namespace {

using tool_test::run_orvel;

std::string hex(const std::array<std::uint8_t, 8>& bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (auto b : bytes) {
        out.push_back(kDigits[b >> 4]);
        out.push_back(kDigits[b & 0x0F]);
    }
    return out;
}

const sim::CardState kCard = sim::default_card();

struct CommandCase {
    const char* name;
    std::vector<std::string> args;  // after --sim
    int exit_status;
    std::vector<std::string> shown;  // parts of stdout, in order
};

const std::vector<CommandCase>& command_cases() {
    static const std::vector<CommandCase> cases = {
        {"SerialNumber", {"power-on", "info"}, 0, {"Gcr400PowerOn", "card powered up", "OrvelGetInfo", "serial=" + hex(kCard.serial)}},
        {"HolderInformation", {"power-on", "info", "--p2", "A4"}, 0, {"info=5152535455565758595A5B5C5D"}},
        {"CreditThenBalance", {"power-on", "credit", "250", "balance"}, 0, {"OrvelCredit", "balance=0004E2 (1250)"}},
        {"DebitBeyondBalanceLeavesIt", {"power-on", "debit", "5000", "balance"}, 0, {"OrvelDebit", "balance=0003E8 (1000)"}},
        {"AuthWithTheCardsKey",
         {"auth", "--key-a", hex(kCard.auth_key_a), "--key-b", hex(kCard.auth_key_b)}, 0,
         {"OrvelInfoFile", "0  card powered up, 3F01 selected and authenticated", "sessionKey1="}},
        {"AuthWithAWrongKey",
         {"auth", "--key-a", hex(kCard.auth_key_b), "--key-b", hex(kCard.auth_key_a)}, 1,
         {"OrvelInfoFile", "3  FAILED: authentication failed"}},
        {"ReadWithoutPower", {"read-binary"}, 1, {"OrvelRdBin", "2  FAILED: the reply was missing or refused by the reader"}},
        {"RawFrame", {"send-frame", "60024D00"}, 0, {"OrvelRcvFrame", "0  reply accepted", "block=60024D002F", "reply=60010061"}},
        {"WriteAndReadBack",
         {"power-on", "select", "0004", "update-binary", "CAFE01", "--p2", "04", "read-binary", "--p2", "04", "--le", "3"}, 0,
         {"OrvelUpdBin", "OrvelRdBin", "data=CAFE01"}},
        {"MacWriteUnderTheCardsKeys",
         {"power-on", "select", "0004", "update-binary", "0A0B", "--mac", "--key-a", hex(kCard.mac_key_a), "--key-b",
          hex(kCard.mac_key_b)}, 0,
         {"OrvelUpdBin", "0  written with a MAC; the card's response MAC matched"}},
        {"MacWriteUnderOtherKeys",
         {"power-on", "select", "0004", "update-binary", "0A0B", "--mac", "--key-a", hex(kCard.mac_key_b), "--key-b",
          hex(kCard.mac_key_a)}, 1,
         {"OrvelUpdBin", "5  FAILED: the card's response MAC does not match the computed MAC"}},
    };
    return cases;
}

void PrintTo(const CommandCase& c, std::ostream* os) { *os << c.name; }

class CommandResults : public ::testing::TestWithParam<CommandCase> {};

TEST_P(CommandResults, PrintsResultMeaningAndValues) {
    const CommandCase& c = GetParam();
    std::vector<std::string> args = {"--sim"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = run_orvel(args);
    EXPECT_EQ(run.exit_status, c.exit_status) << run.out << run.err;
    std::size_t from = 0;
    for (const auto& part : c.shown) {
        std::size_t at = run.out.find(part, from);
        ASSERT_NE(at, std::string::npos) << "missing: " << part << "\n" << run.out << run.err;
        from = at + part.size();
    }
}

INSTANTIATE_TEST_SUITE_P(Table, CommandResults, ::testing::ValuesIn(command_cases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(CommandResults, ChainStopsAtTheFirstFailure) {
    auto run = run_orvel({"--sim", "read-binary", "power-on"});
    EXPECT_EQ(run.exit_status, 1);
    EXPECT_EQ(run.out.find("Gcr400PowerOn"), std::string::npos) << run.out;
}

TEST(JsonOutput, ParsesBackWithResultsAndValues) {
    const std::string master = "0F1E2D3C4B5A6978";
    auto run = run_orvel({"--sim", "--json", "power-on", "balance", "system-key", "--master", master});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    auto lines = run.out_lines();
    ASSERT_EQ(lines.size(), 3u) << run.out;
    auto power = nlohmann::json::parse(lines[0]);
    EXPECT_EQ(power.at("function"), "Gcr400PowerOn");
    EXPECT_EQ(power.at("result"), 0);
    EXPECT_EQ(power.at("ok"), true);
    auto balance = nlohmann::json::parse(lines[1]);
    EXPECT_EQ(balance.at("values").at("balance"), "0003E8");
    EXPECT_EQ(balance.at("numbers").at("balance"), 1000);
    auto system_key = nlohmann::json::parse(lines[2]);
    EXPECT_EQ(system_key.at("function"), "OrvelMakeSysKey");
    EXPECT_EQ(system_key.at("values").at("serial"), hex(kCard.serial));
    // The system key is the serial number under the master key, computed here
    // by the simulator's own cipher.
    sim::Key8 master_key = {0x0F, 0x1E, 0x2D, 0x3C, 0x4B, 0x5A, 0x69, 0x78};
    EXPECT_EQ(system_key.at("values").at("systemKey"), hex(sim::crypto::des_encrypt(kCard.serial, master_key)));
}

TEST(JsonOutput, FailureCarriesCodeAndMeaning) {
    auto run = run_orvel({"--sim", "--json", "read-record"});
    EXPECT_EQ(run.exit_status, 1);
    auto step = nlohmann::json::parse(run.out);
    EXPECT_EQ(step.at("function"), "OrvelRdRec");
    EXPECT_EQ(step.at("result"), 2);
    EXPECT_EQ(step.at("ok"), false);
    EXPECT_EQ(step.at("meaning"), "the reply was missing or refused by the reader");
}

TEST(JsonOutput, ArgumentErrorIsAnObjectToo) {
    auto run = run_orvel({"--sim", "--json", "debit", "16777216"});
    EXPECT_EQ(run.exit_status, 5);
    auto error = nlohmann::json::parse(run.out);
    EXPECT_EQ(error.at("exit"), 5);
    EXPECT_NE(error.at("error").get<std::string>().find("amount"), std::string::npos);
}

// Every command's help ends with an example that runs against the simulator.
TEST(Help, EveryCommandExplainsItselfWithAnExampleThatRuns) {
    auto top = run_orvel({"--help"});
    ASSERT_EQ(top.exit_status, 0);
    for (const char* command : {"demo", "power-on", "power-off", "info", "select", "read-binary", "read-record",
                                "update-binary", "balance", "credit", "debit", "auth", "system-key", "change-key",
                                "verify", "send-frame"}) {
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
        auto help = run_orvel({command, "--help"});
        EXPECT_EQ(help.exit_status, 0) << command;
        const std::string marker = "Example:\n  orvel ";
        std::size_t at = help.out.find(marker);
        ASSERT_NE(at, std::string::npos) << command << "\n" << help.out;
        std::istringstream example(help.out.substr(at + marker.size()));
        std::string line;
        std::getline(example, line);
        std::istringstream words(line);
        std::vector<std::string> args;
        for (std::string w; words >> w;) args.push_back(w);
        ASSERT_NE(std::find(args.begin(), args.end(), command), args.end()) << line;
        auto run = run_orvel(args);
        EXPECT_EQ(run.exit_status, 0) << line << "\n" << run.out << run.err;
    }
}

}  // namespace
