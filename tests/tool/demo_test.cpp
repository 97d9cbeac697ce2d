// The demo end to end: every step of the session succeeds against the
// simulator, and the output names each of them.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "tool_process.h"

namespace {

using tool_test::run_orvel;

// What the session must show, in order.
const std::vector<std::string> kSessionSteps = {
    "open COM1",
    "power the card up",
    "read the serial number",
    "read card information",
    "select file 3F01",
    "authenticate",
    "select file 0004",
    "write 8 bytes at 0000",
    "read 8 bytes at offset 0000",
    "write 8 bytes at 0010 with MAC",
    "read 8 bytes at offset 0010",
    "read the balance",
    "credit 500",
    "debit 125",
    "read the balance",
    "write the purse-value record",
    "derive the system key",
    "change the key",
    "authenticate with the new key",
    "present a code",
    "power the card down",
    "close COM1",
};

TEST(Demo, EveryStepSucceedsAndIsNamedInOrder) {
    auto run = run_orvel({"demo"});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    std::size_t from = 0;
    for (const auto& step : kSessionSteps) {
        std::size_t at = run.out.find(step, from);
        ASSERT_NE(at, std::string::npos) << "missing or out of order: " << step << "\n" << run.out;
        from = at + step.size();
    }
    EXPECT_EQ(run.out.find("FAILED"), std::string::npos) << run.out;
    auto lines = run.out_lines();
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("PASS demo:", 0), 0u) << lines.back();
    EXPECT_NE(lines.back().find(" 0 failed"), std::string::npos) << lines.back();
}

TEST(Demo, ARefusedExchangeFailsItsStepTheSummaryAndTheExitStatus) {
    // Exchange 3 is the read of the holder information, which no later step needs.
    auto run = run_orvel({"demo", "--refuse-exchange", "3"});
    EXPECT_EQ(run.exit_status, 1) << run.out << run.err;
    auto lines = run.out_lines();
    std::vector<std::string> failed;
    for (const auto& line : lines) {
        if (line.find("FAILED") != std::string::npos) failed.push_back(line);
    }
    ASSERT_EQ(failed.size(), 1u) << run.out;
    EXPECT_NE(failed[0].find("read card information"), std::string::npos) << failed[0];
    EXPECT_NE(failed[0].find("OrvelGetInfo             2  FAILED: the reply was missing or refused by the reader"),
              std::string::npos)
        << failed[0];
    ASSERT_FALSE(lines.empty());
    EXPECT_EQ(lines.back().rfind("FAIL demo: 22 steps, 1 failed", 0), 0u) << lines.back();
}

TEST(Demo, TraceShowsTheFramesOfEachStep) {
    auto run = run_orvel({"demo", "--trace"});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    // The power-down step is followed by the frame that carries it.
    std::size_t step = run.out.find("power the card down");
    ASSERT_NE(step, std::string::npos);
    std::size_t next_step = run.out.find("close COM", step);
    std::string frames = run.out.substr(step, next_step - step);
    EXPECT_NE(frames.find("\n        "), std::string::npos) << frames;
    EXPECT_NE(frames.find("power down"), std::string::npos) << frames;
}

TEST(Demo, JsonLinesParseBackWithEveryStepOk) {
    auto run = run_orvel({"demo", "--json", "--trace"});
    ASSERT_EQ(run.exit_status, 0) << run.out << run.err;
    auto lines = run.out_lines();
    ASSERT_EQ(lines.size(), kSessionSteps.size() + 1) << run.out;
    for (std::size_t i = 0; i + 1 < lines.size(); ++i) {
        auto step = nlohmann::json::parse(lines[i]);
        EXPECT_EQ(step.at("step").get<int>(), static_cast<int>(i + 1));
        EXPECT_TRUE(step.at("ok").get<bool>()) << lines[i];
        EXPECT_NE(step.at("action").get<std::string>().find(kSessionSteps[i]), std::string::npos) << lines[i];
        EXPECT_FALSE(step.at("meaning").get<std::string>().empty());
        if (step.at("function") != "COM_Open" && step.at("function") != "COM_Close") {
            EXPECT_FALSE(step.at("frames").empty()) << lines[i];
        }
    }
    auto summary = nlohmann::json::parse(lines.back()).at("summary");
    EXPECT_TRUE(summary.at("ok").get<bool>());
    EXPECT_EQ(summary.at("steps").get<int>(), static_cast<int>(kSessionSteps.size()));
    EXPECT_EQ(summary.at("failed").get<int>(), 0);
    EXPECT_GT(summary.at("characters_sent").get<int>(), 0);
    EXPECT_GT(summary.at("characters_received").get<int>(), 0);
}

}  // namespace
