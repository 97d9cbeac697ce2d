// Sixteen threads, each with its own port and pseudo-terminal, open,
// transfer and close at the same time.
#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <memory>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "tarvex.h"

namespace {

using testing_support::map_port;
using testing_support::PtyPair;

TEST(Concurrency, SixteenPortsAtOnce) {
    constexpr int kThreads = 16;
    constexpr int kRounds = 10;
    constexpr int kFirstPort = 100;
    std::vector<std::unique_ptr<PtyPair>> ptys;
    for (int i = 0; i < kThreads; ++i) {
        ptys.push_back(std::make_unique<PtyPair>());
        map_port(kFirstPort + i, ptys.back()->slave_path());  // before any thread reads the environment
        COM_Initialize(kFirstPort + i, 115200, 8, 'N', 1, 200);
    }
    std::atomic<int> failures{0};
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i) {
        threads.emplace_back([&, i] {
            const int port = kFirstPort + i;
            PtyPair& pty = *ptys[static_cast<std::size_t>(i)];
            for (int round = 0; round < kRounds; ++round) {
                if (COM_Open(port) != 1) {
                    ++failures;
                    continue;
                }
                const std::array<unsigned char, 2> out{static_cast<unsigned char>(i), static_cast<unsigned char>(round)};
                if (!COM_Write(port, out.data(), 2)) ++failures;
                const auto echoed = pty.read_master(2, std::chrono::milliseconds(2000));
                pty.write_master(echoed);
                std::array<unsigned char, 2> in{};
                if (!COM_Read(port, in.data(), 2) || in != out) ++failures;
                COM_Close(port);
            }
        });
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(failures.load(), 0);
}

}  // namespace
