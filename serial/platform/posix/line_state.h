// A tty's line settings, read and applied through the kernel's termios2
// interface, which also takes rates that have no B<rate> constant.
#pragma once

#include <cstdint>

namespace tarvex::posix {

enum class Parity : std::uint8_t { none, odd, even, mark, space };
enum class StopBits : std::uint8_t { one, one_and_half, two };

struct LineState {
    std::uint32_t baud = 9600;
    std::uint8_t byte_size = 8;  // 5..8
    Parity parity = Parity::none;
    StopBits stop_bits = StopBits::one;
    bool check_parity = false;  // input parity checking
    bool rts_cts = false;       // hardware flow control
    bool xon_xoff_out = false;
    bool xon_xoff_in = false;
    char xon_char = 0x11;
    char xoff_char = 0x13;
};

// Puts the tty into raw mode: no echo, no line editing, no signal keys, no
// XON/XOFF and no character translation, modem lines ignored, a read waits
// for at least one byte (so a non-blocking read reports "nothing yet" as
// EAGAIN, never as end of file).
bool make_raw(int fd);

bool read_line_state(int fd, LineState& out);

// Applies the state and reads it back: false when the call fails or the
// device silently kept something else (a pseudo-terminal forces 8 bits and
// no parity, a UART may not reach the rate).
bool apply_line_state(int fd, const LineState& wanted);

}  // namespace tarvex::posix
