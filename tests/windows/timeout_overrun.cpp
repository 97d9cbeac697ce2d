// Measures how much later than its budget a read that times out returns, on
// whichever serial layer this program is linked with (the POSIX layer
// natively, the Win32 layer under Wine). Run it through line_driver.sh with a
// silent peer ("line_peer --port=N expect=5A send=5A"): every read waits its
// whole budget of 500*n + T ms. Prints median and worst overrun per case.
#include <algorithm>
#include <array>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "tarvex.h"

namespace {

struct ReadCase {
    std::uint32_t count;
    int read_timeout_ms;
    int repetitions;
};

constexpr ReadCase kCases[] = {
    {1, 20, 30},
    {4, 100, 8},
};

}  // namespace

int main(int argc, char** argv) {
    const char* text = argc > 1 ? argv[1] : std::getenv("ORVEL_TEST_PORT");
    if (text == nullptr) {
        std::fprintf(stderr, "usage: timeout_overrun PORT (or ORVEL_TEST_PORT)\n");
        return 2;
    }
    const int port = std::atoi(text);
    int status = 0;
    for (const ReadCase& c : kCases) {
        COM_Initialize(port, 9600, 8, 'N', 1, c.read_timeout_ms);
        if (COM_Open(port) != 1) {
            std::fprintf(stderr, "COM_Open(%d) failed\n", port);
            return 1;
        }
        const double budget = 500.0 * c.count + c.read_timeout_ms;
        std::vector<double> overrun;
        std::array<unsigned char, 4> buf{};
        for (int i = 0; i < c.repetitions; ++i) {
            const auto start = std::chrono::steady_clock::now();
            const bool complete = COM_Read(port, buf.data(), c.count);
            const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
            if (complete) status = 1;  // a silent line cannot complete a read
            overrun.push_back(took.count() - budget);
        }
        COM_Close(port);
        std::sort(overrun.begin(), overrun.end());
        std::printf("read %u byte(s), T=%d ms, budget %.0f ms, %d reads: overrun median %.2f ms, min %.2f ms, worst %.2f ms\n",
                    c.count, c.read_timeout_ms, budget, c.repetitions, overrun[overrun.size() / 2], overrun.front(),
                    overrun.back());
    }
    const unsigned char end_marker = 'Z';
    unsigned char echo = 0;
    COM_Initialize(port, 9600, 8, 'N', 1, 5000);
    if (COM_Open(port) == 1) {
        COM_Write(port, &end_marker, 1);
        COM_Read(port, &echo, 1);  // closing would discard the marker unread
        COM_Close(port);
    }
    return status;
}
