// Wall time of one OrvelRdBin exchange (8 bytes) over a pseudo-terminal,
// and of the same exchange done by a minimal loop on the same tty: write the
// same 19-byte frame, read the reply one byte at a time with poll and read.
// The ratio of the two is the library's overhead on the line.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

#include "orvel.h"
#include "tarvex.h"

#ifdef ORVEL_BENCH_WITH_SIM
#include "sim/simulator.h"
#else
#include "scripted_reader.h"
#endif

namespace {

constexpr int kPort = 11;
constexpr std::uint8_t kLe = 0x08;
constexpr std::uint8_t kTerminator = 0x03;

// The peer on the master side: the simulated card, or a scripted reader
// that answers every frame with eight data bytes.
class Peer {
public:
    Peer() {
#ifdef ORVEL_BENCH_WITH_SIM
        sim_ = std::make_unique<sim::Simulator>();
        sim_->map_port(kPort);
        path_ = sim_->slave_path();
#else
        reader_ = std::make_unique<testing_support::ScriptedReader>(kPort);
        reader_->set_fallback(testing_support::Reply::block(
            testing_support::card_reply({1, 2, 3, 4, 5, 6, 7, 8})));
        path_ = reader_->path();
#endif
    }
    const std::string& path() const { return path_; }

private:
#ifdef ORVEL_BENCH_WITH_SIM
    std::unique_ptr<sim::Simulator> sim_;
#else
    std::unique_ptr<testing_support::ScriptedReader> reader_;
#endif
    std::string path_;
};

Peer& peer() {
    static Peer instance;
    return instance;
}

void open_port(benchmark::State& state) {
    peer();
    COM_Initialize(kPort, 115200, 8, 'N', 1, 50);
    if (COM_Open(kPort) != 1) state.SkipWithError("cannot open the port");
}

void BM_OrvelRdBin(benchmark::State& state) {
    open_port(state);
    if (Gcr400PowerOn(kPort) != 0) state.SkipWithError("power-up failed");
    std::array<unsigned char, kLe + 1> out{};
    for (auto _ : state) {
        if (OrvelRdBin(kPort, 0x00, 0x00, 0x00, kLe, out.data()) != 0) {
            state.SkipWithError("exchange failed");
            break;
        }
        benchmark::DoNotOptimize(out.data());
    }
    COM_Close(kPort);
}
BENCHMARK(BM_OrvelRdBin)->UseRealTime()->MinTime(2.0);

// The same frame as OrvelRdBin sends: 60 06 DB 00 B0 00 00 08, its check
// character, as hex text, then 0x03.
std::string rdbin_frame() {
    const std::array<std::uint8_t, 8> block{0x60, 0x06, 0xDB, 0x00, 0xB0, 0x00, 0x00, kLe};
    std::uint8_t check = 0;
    for (auto b : block) check ^= b;
    std::string text;
    char pair[3];
    for (auto b : block) {
        std::snprintf(pair, sizeof pair, "%02X", b);
        text += pair;
    }
    std::snprintf(pair, sizeof pair, "%02X", check);
    text += pair;
    text += static_cast<char>(kTerminator);
    return text;
}

void BM_HandLoop(benchmark::State& state) {
    // Power the card up through the library, then take the tty over.
    open_port(state);
    Gcr400PowerOn(kPort);
    COM_Close(kPort);
    const int fd = ::open(peer().path().c_str(), O_RDWR | O_NOCTTY);
    if (fd < 0) {
        state.SkipWithError("cannot open the tty");
        return;
    }
    termios tio{};
    tcgetattr(fd, &tio);
    cfmakeraw(&tio);
    tcsetattr(fd, TCSANOW, &tio);
    const std::string frame = rdbin_frame();
    std::array<unsigned char, 256> reply{};
    for (auto _ : state) {
        if (::write(fd, frame.data(), frame.size()) != static_cast<ssize_t>(frame.size())) {
            state.SkipWithError("write failed");
            break;
        }
        std::size_t count = 0;
        for (;;) {
            pollfd pfd{fd, POLLIN, 0};
            if (poll(&pfd, 1, 1000) != 1) {
                state.SkipWithError("no reply");
                break;
            }
            unsigned char byte = 0;
            if (::read(fd, &byte, 1) != 1) continue;
            if (byte == kTerminator) break;
            if (count < reply.size()) reply[count++] = byte;
        }
        benchmark::DoNotOptimize(reply.data());
    }
    ::close(fd);
}
BENCHMARK(BM_HandLoop)->UseRealTime()->MinTime(2.0);

}  // namespace

BENCHMARK_MAIN();
