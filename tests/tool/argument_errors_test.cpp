// Arguments the tool refuses: one sentence naming the argument, an exit
// status of its own, and not a byte on the line. The port is a bare
// pseudo-terminal, so anything the tool sent would show up on its master.
#include <gtest/gtest.h>

#include <chrono>

#include "pty_pair.h"
#include "tool_process.h"

namespace {

using namespace std::chrono_literals;
using tool_test::run_orvel;

constexpr const char* kKeyA = "0102030405060708";
constexpr const char* kKeyB = "1112131415161718";

struct ArgumentCase {
    const char* name;
    std::vector<std::string> args;  // after --port 9
    std::string message;            // part of the sentence on stderr
    int exit_status;
};

const ArgumentCase kCases[] = {
    {"KeyNotHex", {"auth", "--key-a", "01020304050607GG", "--key-b", kKeyB}, "--key-a: \"01020304050607GG\" is not hex text", 3},
    {"DataOddDigits", {"update-binary", "123"}, "data: \"123\" has an odd number of hex digits", 3},
    {"FileIdNotHex", {"select", "3G01"}, "file-id: \"3G01\" is not hex text", 3},
    {"BlockNotHex", {"send-frame", "60-02"}, "block: \"60-02\" is not hex text", 3},
    {"MasterKeyShort", {"system-key", "--master", "01020304"}, "--master must be 8 bytes (16 hex digits), not 4 bytes", 4},
    {"KeyLong", {"change-key", "--key-a", kKeyA, "--key-b", "111213141516171819", "--master", kKeyA},
     "--key-b must be 8 bytes", 4},
    {"CodeShort", {"verify", "01020304050607"}, "code must be 8 bytes", 4},
    {"MacDataTooLong", {"update-binary", std::string(2 * 116, 'A'), "--mac", "--key-a", kKeyA, "--key-b", kKeyB},
     "data holds 116 bytes; at most 115 bytes fit", 4},
    {"PlainDataTooLong", {"update-binary", std::string(2 * 119, '0')}, "data holds 119 bytes; at most 118 bytes fit", 4},
    {"BalanceDataShort", {"balance", "--data", "0000"}, "--data must be 4 bytes", 4},
    {"EmptyBlock", {"send-frame", ""}, "block must hold 1 to 126 bytes", 4},
    {"DebitAboveRange", {"debit", "16777216"}, "amount: 16777216 is out of range (0 to 16777215)", 5},
    {"CreditNegative", {"credit", "-1"}, "amount: -1 is out of range (0 to 16777215)", 5},
    {"CreditHuge", {"credit", "99999999999999999999"}, "amount: 99999999999999999999 is out of range", 5},
    {"ReadTooLong", {"read-binary", "--le", "122"}, "--le: 122 is out of range (0 to 121)", 5},
    {"ByteTooWide", {"select", "3F01", "--p1", "100"}, "--p1: \"100\" is out of range (hex 0 to FF)", 5},
    {"FileIdTooWide", {"select", "13F01"}, "file-id: \"13F01\" is out of range (hex 0 to FFFF)", 5},
    {"AmountNotANumber", {"credit", "ten"}, "amount: \"ten\" is not a decimal integer", 2},
    {"UnknownCommand", {"frobnicate"}, "\"frobnicate\" is not a command of orvel", 2},
    {"MacWithoutKeys", {"update-binary", "0102", "--mac"}, "--mac needs both --key-a and --key-b", 2},
    {"TraceWithoutSim", {"--trace", "power-on"}, "--trace needs --sim", 2},
    {"RepeatedCommand", {"balance", "credit", "5", "balance"}, "\"balance\" was not expected", 2},
    // A bad argument of a later command stops the earlier ones too.
    {"LaterCommandBad", {"power-on", "debit", "16777216"}, "amount: 16777216 is out of range", 5},
};

void PrintTo(const ArgumentCase& c, std::ostream* os) { *os << c.name; }

class ArgumentErrors : public ::testing::TestWithParam<ArgumentCase> {};

TEST_P(ArgumentErrors, RefusedWithOneSentenceAndNothingSent) {
    const ArgumentCase& c = GetParam();
    testing_support::PtyPair pty;
    std::vector<std::string> args = {"--port", "9", "--timeout", "0"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    auto run = run_orvel(args, {{"TARVEX_COM9", pty.slave_path()}});
    EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_TRUE(run.out.empty()) << run.out;
    EXPECT_TRUE(pty.drain_master(50ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, ArgumentErrors, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

// The global options are checked the same way.
struct GlobalCase {
    const char* name;
    std::vector<std::string> args;
    std::string message;
    int exit_status;
};

const GlobalCase kGlobalCases[] = {
    {"PortAboveRange", {"--port", "201", "power-on"}, "--port: 201 is out of range (0 to 200)", 5},
    {"BaudNotSupported", {"--port", "9", "--baud", "12345", "power-on"}, "--baud: 12345 is not a rate", 5},
    {"TimeoutNegative", {"--port", "9", "--timeout", "-5", "power-on"}, "--timeout: -5 is out of range", 5},
    {"NoCommand", {"--port", "9"}, "subcommand", 2},
};

void PrintTo(const GlobalCase& c, std::ostream* os) { *os << c.name; }

class GlobalArgumentErrors : public ::testing::TestWithParam<GlobalCase> {};

TEST_P(GlobalArgumentErrors, Refused) {
    const GlobalCase& c = GetParam();
    testing_support::PtyPair pty;
    auto run = run_orvel(c.args, {{"TARVEX_COM9", pty.slave_path()}});
    EXPECT_EQ(run.exit_status, c.exit_status) << run.err;
    EXPECT_NE(run.err.find(c.message), std::string::npos) << run.err;
    EXPECT_TRUE(pty.drain_master(50ms).empty());
}

INSTANTIATE_TEST_SUITE_P(Table, GlobalArgumentErrors, ::testing::ValuesIn(kGlobalCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(PortErrors, PortThatWillNotOpenNamesTheDeviceAndTheMapping) {
    auto run = run_orvel({"--port", "7", "power-on"}, {{"TARVEX_COM7", "/nonexistent/orvel-test-device"}});
    EXPECT_EQ(run.exit_status, 6) << run.err;
    EXPECT_NE(run.err.find("--port 7"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("/nonexistent/orvel-test-device"), std::string::npos) << run.err;
    EXPECT_NE(run.err.find("TARVEX_COM7="), std::string::npos) << run.err;
}

// The control for the table above: good arguments do reach the line, and
// with no reader there the library's result code comes with its meaning.
TEST(PortErrors, GoodArgumentsReachTheLineAndASilentReaderIsReported) {
    testing_support::PtyPair pty;
    auto run = run_orvel({"--port", "9", "--timeout", "0", "power-off"}, {{"TARVEX_COM9", pty.slave_path()}});
    EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
    EXPECT_NE(run.out.find("Gcr400PowerOff"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("2  FAILED: the reader's reply was missing or refused"), std::string::npos) << run.out;
    auto sent = pty.drain_master(50ms);
    EXPECT_EQ(std::string(sent.begin(), sent.end()), "60024D002F\x03");
}

}  // namespace
