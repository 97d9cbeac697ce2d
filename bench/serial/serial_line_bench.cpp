// Figures for the serial line on a pseudo-terminal:
//  1. how late a timed-out COM_Read returns (it must never be early);
//  2. what one 1-byte COM_Read of a byte already waiting costs, against a
//     bare poll() + read() of one byte on the same tty.
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <stdexcept>
#include <thread>
#include <vector>

#include "pty_pair.h"
#include "tarvex.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kPort = 3;

double ms_since(Clock::time_point t) { return std::chrono::duration<double, std::milli>(Clock::now() - t).count(); }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const std::size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Overrun {
    int reads = 0;
    int early = 0;
    double min = 1e9, median = 0, worst = 0;
};

// Reads of `count` bytes that nothing answers: each must take 500*count + T.
Overrun measure_overrun(int reads, std::uint32_t count, int t_ms) {
    COM_Initialize(kPort, 9600, 8, 'N', 1, t_ms);
    if (COM_Open(kPort) != 1) throw std::runtime_error("COM_Open failed");
    const double due = 500.0 * count + t_ms;
    std::vector<double> late;
    Overrun o;
    std::vector<unsigned char> buf(count);
    for (int i = 0; i < reads; ++i) {
        const auto start = Clock::now();
        COM_Read(kPort, buf.data(), count);
        const double over = ms_since(start) - due;
        if (over < 0) ++o.early;
        late.push_back(over);
    }
    COM_Close(kPort);
    o.reads = reads;
    o.min = *std::min_element(late.begin(), late.end());
    o.worst = *std::max_element(late.begin(), late.end());
    o.median = median(late);
    return o;
}

void fill_and_wait(const testing_support::PtyPair& pty, int probe_fd, std::size_t n) {
    pty.write_master(std::vector<std::uint8_t>(n, 0x5A));
    for (int waited = 0; waited < 2000; ++waited) {
        int queued = 0;
        if (ioctl(probe_fd, FIONREAD, &queued) == 0 && static_cast<std::size_t>(queued) == n) return;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    throw std::runtime_error("bytes did not arrive");
}

// Nanoseconds per byte of `n` one-byte reads of waiting bytes.
template <typename ReadOne>
double per_byte_ns(const testing_support::PtyPair& pty, int probe_fd, std::size_t n, ReadOne read_one) {
    fill_and_wait(pty, probe_fd, n);
    const auto start = Clock::now();
    for (std::size_t i = 0; i < n; ++i) {
        if (!read_one()) throw std::runtime_error("a waiting byte was not read");
    }
    return std::chrono::duration<double, std::nano>(Clock::now() - start).count() / static_cast<double>(n);
}

}  // namespace

int main() {
    testing_support::PtyPair pty;
    testing_support::map_port(kPort, pty.slave_path());

    std::printf("Read time-out overrun on a pseudo-terminal (ms past 500*n + T):\n");
    for (auto [reads, count, t] : {std::tuple{24, 1u, 0}, std::tuple{12, 2u, 37}}) {
        const Overrun o = measure_overrun(reads, count, t);
        std::printf("  n=%u T=%-3d reads=%d  early=%d  min=%.3f  median=%.3f  worst=%.3f\n", count, t, o.reads,
                    o.early, o.min, o.median, o.worst);
    }

    // The bare descriptor is opened before the library takes the tty
    // exclusively; both read the same queue, one at a time.
    const int bare = ::open(pty.slave_path().c_str(), O_RDWR | O_NOCTTY);
    if (bare < 0) throw std::runtime_error("cannot open the tty");
    COM_Initialize(kPort, 115200, 8, 'N', 1, 1000);
    if (COM_Open(kPort) != 1) throw std::runtime_error("COM_Open failed");

    constexpr std::size_t kBytes = 2000;
    constexpr int kRounds = 15;
    std::vector<double> lib_ns, bare_ns;
    unsigned char b = 0;
    for (int round = 0; round < kRounds; ++round) {
        bare_ns.push_back(per_byte_ns(pty, bare, kBytes, [&] {
            pollfd pfd{bare, POLLIN, 0};
            return ::poll(&pfd, 1, 1000) == 1 && ::read(bare, &b, 1) == 1;
        }));
        lib_ns.push_back(per_byte_ns(pty, bare, kBytes, [&] { return COM_Read(kPort, &b, 1); }));
    }
    COM_Close(kPort);
    ::close(bare);
    const double lib = median(lib_ns), raw = median(bare_ns);
    std::printf("One-byte read of a waiting byte (median of %d rounds of %zu bytes):\n", kRounds, kBytes);
    std::printf("  COM_Read      %8.1f ns\n  poll + read   %8.1f ns\n  ratio         %8.3f\n", lib, raw, lib / raw);
    return 0;
}
