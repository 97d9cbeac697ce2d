// Results 1 to 5 of every command without authentication, whether the card
// was powered off afterwards (the power-down frame on the line), outputs
// left alone on failure, and lengths and amounts refused before sending.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <functional>
#include <string>
#include <thread>

#include "card_line.h"
#include "command_bytes.h"
#include "line_faults.h"
#include "orvel.h"

namespace card_test {
namespace {

using namespace std::chrono_literals;

// Output buffers a command may write; the test checks they are untouched
// after any nonzero result.
struct Outputs {
    std::array<unsigned char, 160> a, b;
    Outputs() { reset(); }
    void reset() {
        a.fill(0xEE);
        b.fill(0xEE);
    }
    bool untouched() const {
        auto clean = [](const auto& buf) { return std::all_of(buf.begin(), buf.end(), [](auto x) { return x == 0xEE; }); };
        return clean(a) && clean(b);
    }
};

using Call = std::function<int(Outputs&)>;

const Bytes kData = counting(32);
const Key kA = kKeyA, kB = kKeyB;

struct NamedCommand {
    const char* name;
    Call call;
    bool two_phase;     // has the GET RESPONSE follow-up
    bool with_mac;      // checks the card's MAC bytes (result 5)
    bool powers_off;    // powers off on results 1 and 2
};

const NamedCommand kCommands[] = {
    {"GetInfo", [](Outputs& o) { return OrvelGetInfo(kPort, 0x80, 0x02, 0xA1, o.a.data()); }, false, false, false},
    {"SelFil", [](Outputs&) { return OrvelSelFil(kPort, 0x00, 0x00, 0x02, 0x3F01); }, true, false, false},
    {"SetStatus", [](Outputs&) { return OrvelSetStatus(kPort, 0x08, kData.data()); }, true, false, false},
    {"SwrPrt", [](Outputs&) { return OrvelSwrPrt(kPort, 0x00, 0x01); }, true, false, false},
    {"RdBin", [](Outputs& o) { return OrvelRdBin(kPort, 0x00, 0x00, 0x00, 0x08, o.a.data()); }, false, false, false},
    {"RdRec", [](Outputs& o) { return OrvelRdRec(kPort, 0x00, 0x01, 0x02, 0x08, o.a.data()); }, false, false, false},
    {"UpdBinPlain", [](Outputs&) { return OrvelUpdBin(kPort, 0x00, 0x00, 0x00, 8, kData.data(), kA.data(), kB.data()); }, true, false, true},
    {"UpdBinMac", [](Outputs&) { return OrvelUpdBin(kPort, 0x04, 0x00, 0x00, 8, kData.data(), kA.data(), kB.data()); }, true, true, true},
    {"WrBinPlain", [](Outputs&) { return OrvelWrBin(kPort, 0x00, 0x00, 0x00, 8, kData.data(), kA.data(), kB.data()); }, true, false, true},
    {"WrBinMac", [](Outputs&) { return OrvelWrBin(kPort, 0x04, 0x00, 0x00, 8, kData.data(), kA.data(), kB.data()); }, true, true, true},
    {"UpdBinPurse", [](Outputs&) { return OrvelUpdBinPurse(kPort, 0x00, 0x81, 0x00, 20, kData.data()); }, false, false, true},
    {"WrBinPurse", [](Outputs&) { return OrvelWrBinPurse(kPort, 0x00, 0x81, 0x00, 20, kData.data()); }, false, false, true},
    {"WriteEFKey", [](Outputs&) { return OrvelWriteEFKey(kPort, 0x04, 0x81, 0x00, kData.data()); }, false, false, true},
    {"Create", [](Outputs&) { return OrvelCreate(kPort, 0x84, 0x01, 20, 1, 2, 3, 5, 4, 5, 6, kData.data(), kA.data(), kB.data()); }, true, true, false},
    {"SelPK", [](Outputs& o) { return OrvelSelPK(kPort, 0x80, 0x00, 0x01, 0x00, kData.data(), o.a.data(), o.b.data()); }, true, false, false},
    {"RdBal", [](Outputs& o) { return OrvelRdBal(kPort, 0x80, 0x01, kData.data(), o.a.data(), o.b.data()); }, true, false, true},
    {"Credit", [](Outputs&) { return OrvelCredit(kPort, 0x80, 0x00, kData.data(), kData.data()); }, false, false, true},
    {"Debit", [](Outputs& o) { return OrvelDebit(kPort, 0x80, kData.data(), 1000, o.a.data()); }, true, false, true},
};

enum class Fault { FirstSend, FirstReply, FirstReplyMissing, FollowUpSend, FollowUpReply, MacMismatch };

const char* fault_name(Fault f) {
    switch (f) {
        case Fault::FirstSend: return "FirstSendFails";
        case Fault::FirstReply: return "FirstReplyRefused";
        case Fault::FirstReplyMissing: return "FirstReplyMissing";
        case Fault::FollowUpSend: return "FollowUpSendFails";
        case Fault::FollowUpReply: return "FollowUpReplyRefused";
        case Fault::MacMismatch: return "MacMismatch";
    }
    return "";
}

int expected_result(Fault f) {
    switch (f) {
        case Fault::FirstSend: return 1;
        case Fault::FirstReply:
        case Fault::FirstReplyMissing: return 2;
        case Fault::FollowUpSend: return 3;
        case Fault::FollowUpReply: return 4;
        case Fault::MacMismatch: return 5;
    }
    return -1;
}

struct ResultCase {
    const NamedCommand* command;
    Fault fault;
};

std::vector<ResultCase> result_cases() {
    std::vector<ResultCase> cases;
    for (const auto& command : kCommands) {
        cases.push_back({&command, Fault::FirstSend});
        cases.push_back({&command, Fault::FirstReply});
        if (command.two_phase) {
            cases.push_back({&command, Fault::FollowUpSend});
            cases.push_back({&command, Fault::FollowUpReply});
        }
        if (command.with_mac) cases.push_back({&command, Fault::MacMismatch});
    }
    // A missing reply behaves as a refused one; once per power rule.
    cases.push_back({&kCommands[4], Fault::FirstReplyMissing});   // RdBin: stays powered
    cases.push_back({&kCommands[16], Fault::FirstReplyMissing});  // Credit: powered off
    return cases;
}

class CommandResultTest : public CardLineTest, public ::testing::WithParamInterface<ResultCase> {};

TEST_P(CommandResultTest, ResultAndPowerAfterTheFault) {
    const auto& [command, fault] = GetParam();
    // Whatever is not scripted (a power-down) is answered with success.
    reader().set_fallback(ok_reply());
    switch (fault) {
        case Fault::FirstSend: fail_writes(1); break;
        case Fault::FirstReply: reader().script({refused_reply()}); break;
        case Fault::FirstReplyMissing: reader().script({Reply::silence()}); break;
        case Fault::FollowUpSend:
            reader().script({more_data_reply(0x08)});
            fail_writes(1, 1);
            break;
        case Fault::FollowUpReply: reader().script({more_data_reply(0x08), refused_reply()}); break;
        case Fault::MacMismatch: reader().script({more_data_reply(0x08), ok_reply({0x00, 0x00, 0x00, 0x00})}); break;
    }
    Outputs outputs;
    EXPECT_EQ(command->call(outputs), expected_result(fault));
    EXPECT_TRUE(outputs.untouched());

    const bool first_phase_failed = expected_result(fault) <= 2;
    const bool must_power_off = first_phase_failed && command->powers_off;
    // Frames the command itself got onto the line before it stopped.
    std::size_t sent = 0;
    switch (fault) {
        case Fault::FirstSend: sent = 0; break;
        case Fault::FirstReply:
        case Fault::FirstReplyMissing:
        case Fault::FollowUpSend: sent = 1; break;
        case Fault::FollowUpReply:
        case Fault::MacMismatch: sent = 2; break;
    }
    const auto blocks = reader().blocks();
    ASSERT_EQ(blocks.size(), sent + (must_power_off ? 1 : 0));
    EXPECT_EQ(powered_off_last(), must_power_off);
}

INSTANTIATE_TEST_SUITE_P(Commands, CommandResultTest, ::testing::ValuesIn(result_cases()),
                         [](const auto& info) {
                             return std::string(info.param.command->name) + "_" + fault_name(info.param.fault);
                         });

// Accepted replies all through give 0 and leave the card powered (the MAC
// commands' successes are in the block tables, with exact MACs).
TEST_F(CardLineTest, EveryCommandSucceedsOnAcceptedReplies) {
    reader().set_fallback(ok_reply(counting(16)));
    for (const auto& command : kCommands) {
        if (command.with_mac) continue;
        SCOPED_TRACE(command.name);
        reader().reset();
        Outputs outputs;
        EXPECT_EQ(command.call(outputs), 0);
        EXPECT_FALSE(powered_off_last());
    }
}

// ---- Refused before sending -------------------------------------------------

struct RefusedCase {
    const char* name;
    std::function<int()> call;
    int result;
    bool powers_off;
};

const RefusedCase kRefused[] = {
    {"UpdBinMacLen116", [] { return OrvelUpdBin(kPort, 0x04, 0, 0, 116, kData.data(), kA.data(), kB.data()); }, 1, true},
    {"UpdBinPlainLen119", [] { return OrvelUpdBin(kPort, 0x00, 0, 0, 119, kData.data(), kA.data(), kB.data()); }, 1, true},
    {"UpdBinNegativeLen", [] { return OrvelUpdBin(kPort, 0x00, 0, 0, -1, kData.data(), kA.data(), kB.data()); }, 1, true},
    {"UpdBinMacNegativeLen", [] { return OrvelUpdBin(kPort, 0x04, 0, 0, INT_MIN, kData.data(), kA.data(), kB.data()); }, 1, true},
    {"WrBinMacLen116", [] { return OrvelWrBin(kPort, 0x04, 0, 0, 116, kData.data(), kA.data(), kB.data()); }, 1, true},
    {"WrBinPlainLen255", [] { return OrvelWrBin(kPort, 0x00, 0, 0, 255, kData.data(), kA.data(), kB.data()); }, 1, true},
    {"UpdBinPurseLen119", [] { return OrvelUpdBinPurse(kPort, 0x00, 0, 0, 119, kData.data()); }, 1, true},
    {"UpdBinPurseNegativeLen", [] { return OrvelUpdBinPurse(kPort, 0x00, 0, 0, -5, kData.data()); }, 1, true},
    {"WrBinPurseLen119", [] { return OrvelWrBinPurse(kPort, 0x00, 0, 0, 119, kData.data()); }, 1, true},
    {"RdBinLe122", [] { std::array<unsigned char, 256> out{}; return OrvelRdBin(kPort, 0, 0, 0, 122, out.data()); }, 1, false},
    {"RdRecLe255", [] { std::array<unsigned char, 256> out{}; return OrvelRdRec(kPort, 0, 0, 0, 255, out.data()); }, 1, false},
    {"DebitNegative", [] { std::array<unsigned char, 3> out{}; return OrvelDebit(kPort, 0x80, kData.data(), -1, out.data()); }, 5, false},
    {"DebitTwoTo24Plus5", [] { std::array<unsigned char, 3> out{}; return OrvelDebit(kPort, 0x80, kData.data(), (1 << 24) + 5, out.data()); }, 5, false},
    {"DebitIntMax", [] { std::array<unsigned char, 3> out{}; return OrvelDebit(kPort, 0x80, kData.data(), INT_MAX, out.data()); }, 5, false},
};

class RefusedBeforeSendingTest : public CardLineTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedBeforeSendingTest, SendsNothingButThePowerDownItsResultCalls) {
    const auto& c = GetParam();
    reader().set_fallback(ok_reply());
    EXPECT_EQ(c.call(), c.result);
    const auto blocks = reader().blocks();
    if (c.powers_off) {
        ASSERT_EQ(blocks.size(), 1u);
        EXPECT_EQ(blocks[0], kPowerDownBlock);
    } else {
        std::this_thread::sleep_for(50ms);
        EXPECT_TRUE(reader().received().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Limits, RefusedBeforeSendingTest, ::testing::ValuesIn(kRefused),
                         [](const auto& info) { return std::string(info.param.name); });

// ---- The purse-value record's two steps ------------------------------------

TEST_F(CardLineTest, PurseValueSelectionFailureLeavesTheCardPowered) {
    reader().set_fallback(ok_reply());
    reader().script({more_data_reply(0x0A), refused_reply()});  // selection's follow-up refused
    const Bytes v{1, 2, 3};
    EXPECT_EQ(OrvelUpdatePurseValue(kPort, 0, 0x0E02, 1, v.data(), v.data(), v.data(), v.data()), 1);
    EXPECT_EQ(reader().blocks().size(), 2u);  // no record written, no power-down
    EXPECT_FALSE(powered_off_last());
}

TEST_F(CardLineTest, PurseValueWriteFailurePowersTheCardOff) {
    reader().set_fallback(ok_reply());
    reader().script({more_data_reply(0x0A), ok_reply(), refused_reply()});
    const Bytes v{1, 2, 3};
    EXPECT_EQ(OrvelUpdatePurseValue(kPort, 0, 0x0E02, 1, v.data(), v.data(), v.data(), v.data()), 2);
    EXPECT_EQ(reader().blocks().size(), 4u);  // select, follow-up, record, power-down
    EXPECT_TRUE(powered_off_last());
}

}  // namespace
}  // namespace card_test
