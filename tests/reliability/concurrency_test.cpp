// Sixteen threads on sixteen ports, each against its own simulated card
// (its own pseudo-terminal), all at once. Every card has its own serial
// number, balance and data, so a reply that reached the wrong thread shows
// as a wrong answer. Run under ThreadSanitizer by the tsan preset.
#include <gtest/gtest.h>
#include <orvel.h>
#include <tarvex.h>

#include <array>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "sim/simulator.h"

namespace {

constexpr int kThreads = 16;
constexpr int kFirstPort = 60;
constexpr int kRounds = 25;
constexpr std::uint8_t kDataFileShortId = 0x84;

struct Line {
    int port;
    std::unique_ptr<sim::Simulator> simulator;
    sim::Block8 serial;
    std::uint32_t balance;
};

// One thread's session; returns what went wrong, empty when nothing did.
std::string run_session(const Line& line, int index) {
    COM_Initialize(line.port, 9600, 8, 'N', 1, 200);
    if (COM_Open(line.port) != 1) return "open failed";
    std::string error;
    for (int round = 0; round < kRounds && error.empty(); ++round) {
        if (Gcr400PowerOn(line.port) != 0) { error = "power-up"; break; }

        std::array<unsigned char, 9> serial{};
        if (OrvelGetInfo(line.port, 0x80, 0x02, 0xA1, serial.data()) != 0 ||
            !std::equal(line.serial.begin(), line.serial.end(), serial.begin()))
            error = "serial number of another card";

        std::array<unsigned char, 4> balance{}, tail{};
        const std::array<unsigned char, 4> data{1, 2, 3, 4};
        if (OrvelRdBal(line.port, 0x80, 0x01, data.data(), balance.data(), tail.data()) != 0 ||
            (std::uint32_t{balance[0]} << 16 | balance[1] << 8 | balance[2]) != line.balance)
            error = "balance of another card";

        // Data only this thread writes, read back.
        std::array<unsigned char, 16> written{};
        for (std::size_t i = 0; i < written.size(); ++i)
            written[i] = static_cast<unsigned char>(index << 4 ^ round ^ static_cast<int>(i));
        std::array<unsigned char, 17> read{};
        if (OrvelUpdBin(line.port, 0x00, kDataFileShortId, 0x00, 16, written.data(), nullptr, nullptr) != 0 ||
            OrvelRdBin(line.port, 0x00, kDataFileShortId, 0x00, 16, read.data()) != 0 ||
            !std::equal(written.begin(), written.end(), read.begin()))
            error = "data of another card";
        Gcr400PowerOff(line.port);
    }
    COM_Close(line.port);
    return error;
}

TEST(ReliabilityConcurrency, SixteenPortsSixteenCardsNoCrossTalk) {
    std::vector<Line> lines;
    for (int i = 0; i < kThreads; ++i) {
        sim::SimulatorOptions options;
        options.random_seed = static_cast<std::uint64_t>(i);
        options.card.serial = {0x5A, static_cast<std::uint8_t>(i), 1, 2, 3, 4, 5, static_cast<std::uint8_t>(~i)};
        options.card.balance = 1000u + 17u * static_cast<std::uint32_t>(i);
        Line line{kFirstPort + i, nullptr, options.card.serial, options.card.balance};
        line.simulator = std::make_unique<sim::Simulator>(std::move(options));
        // setenv is process-wide: every port is mapped before any thread starts.
        line.simulator->map_port(line.port);
        lines.push_back(std::move(line));
    }

    std::vector<std::string> errors(kThreads);
    std::atomic<int> ready{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            // Start together so the sessions overlap.
            ++ready;
            while (ready.load() < kThreads) std::this_thread::yield();
            errors[static_cast<std::size_t>(i)] = run_session(lines[static_cast<std::size_t>(i)], i);
        });
    }
    for (auto& t : threads) t.join();
    for (int i = 0; i < kThreads; ++i) EXPECT_EQ(errors[static_cast<std::size_t>(i)], "") << "port " << kFirstPort + i;
    // Each card saw only its own thread's frames: power-up, 2 + 2 + 2 + 1
    // exchanges and power-down per round.
    for (const auto& line : lines) EXPECT_EQ(line.simulator->exchange_count(), static_cast<std::size_t>(kRounds) * 8);
}

}  // namespace
