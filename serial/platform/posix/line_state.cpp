// termios2 access. This file includes only the kernel's termios headers:
// they cannot be mixed with the C library's <termios.h>.
#include "line_state.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <utility>

extern "C" int ioctl(int fd, unsigned long request, ...) noexcept;

namespace tarvex::posix {
namespace {

struct RateCode {
    std::uint32_t rate;
    unsigned code;
};

// Rates with their own constant; anything else goes through BOTHER.
constexpr std::array<RateCode, 22> kRateCodes = {{
    {50, B50},       {75, B75},         {110, B110},       {134, B134},       {150, B150},
    {200, B200},     {300, B300},       {600, B600},       {1200, B1200},     {1800, B1800},
    {2400, B2400},   {4800, B4800},     {9600, B9600},     {19200, B19200},   {38400, B38400},
    {57600, B57600}, {115200, B115200}, {230400, B230400}, {460800, B460800}, {500000, B500000},
    {576000, B576000}, {921600, B921600},
}};

// A UART reaches a rate through an integer divisor; accept what lands
// within this share of the request, as the UART itself would.
constexpr std::uint32_t kRateTolerancePercent = 3;

bool get(int fd, termios2& t) {
    int r;
    do r = ioctl(fd, TCGETS2, &t); while (r < 0 && errno == EINTR);
    return r == 0;
}

bool set(int fd, const termios2& t) {
    int r;
    do r = ioctl(fd, TCSETS2, &t); while (r < 0 && errno == EINTR);
    return r == 0;
}

std::uint32_t rate_of(const termios2& t) {
    const unsigned code = t.c_cflag & CBAUD;
    if (code != BOTHER) {
        for (const auto& rc : kRateCodes) {
            if (rc.code == code) return rc.rate;
        }
    }
    return t.c_ospeed;
}

void set_rate(termios2& t, std::uint32_t rate) {
    unsigned code = BOTHER;
    for (const auto& rc : kRateCodes) {
        if (rc.rate == rate) code = rc.code;
    }
    t.c_cflag &= ~(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= code;  // input rate follows the output rate
    t.c_ispeed = t.c_ospeed = rate;
}

unsigned size_bits(std::uint8_t byte_size) {
    switch (byte_size) {
        case 5: return CS5;
        case 6: return CS6;
        case 7: return CS7;
        default: return CS8;
    }
}

std::uint8_t byte_size_of(const termios2& t) {
    switch (t.c_cflag & CSIZE) {
        case CS5: return 5;
        case CS6: return 6;
        case CS7: return 7;
        default: return 8;
    }
}

unsigned parity_bits(Parity p) {
    switch (p) {
        case Parity::none: return 0;
        case Parity::odd: return PARENB | PARODD;
        case Parity::even: return PARENB;
        case Parity::mark: return PARENB | CMSPAR | PARODD;
        case Parity::space: return PARENB | CMSPAR;
    }
    return 0;
}

Parity parity_of(const termios2& t) {
    if (!(t.c_cflag & PARENB)) return Parity::none;
    const bool odd = t.c_cflag & PARODD;
    if (t.c_cflag & CMSPAR) return odd ? Parity::mark : Parity::space;
    return odd ? Parity::odd : Parity::even;
}

bool rate_close_enough(std::uint32_t got, std::uint32_t wanted) {
    const std::uint64_t diff = got > wanted ? got - wanted : wanted - got;
    return diff * 100 <= std::uint64_t{wanted} * kRateTolerancePercent;
}

}  // namespace

bool make_raw(int fd) {
    termios2 t{};
    if (!get(fd, t)) return false;
    t.c_iflag &= ~(IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON | IXOFF | IXANY | IUCLC |
                   IMAXBEL);
    t.c_oflag &= ~OPOST;
    t.c_lflag &= ~(ECHO | ECHONL | ICANON | ISIG | IEXTEN);
    t.c_cflag |= CLOCAL | CREAD;
    t.c_cc[VMIN] = 1;
    t.c_cc[VTIME] = 0;
    return set(fd, t);
}

bool read_line_state(int fd, LineState& out) {
    termios2 t{};
    if (!get(fd, t)) return false;
    out.baud = rate_of(t);
    out.byte_size = byte_size_of(t);
    out.parity = parity_of(t);
    // The UART sends 1.5 stop bits for "two" at 5 data bits.
    out.stop_bits = !(t.c_cflag & CSTOPB) ? StopBits::one
                    : out.byte_size == 5  ? StopBits::one_and_half
                                          : StopBits::two;
    out.check_parity = t.c_iflag & INPCK;
    out.rts_cts = t.c_cflag & CRTSCTS;
    out.xon_xoff_out = t.c_iflag & IXON;
    out.xon_xoff_in = t.c_iflag & IXOFF;
    out.xon_char = static_cast<char>(t.c_cc[VSTART]);
    out.xoff_char = static_cast<char>(t.c_cc[VSTOP]);
    return true;
}

bool apply_line_state(int fd, const LineState& wanted) {
    termios2 t{};
    if (!get(fd, t)) return false;
    const termios2 previous = t;
    set_rate(t, wanted.baud);
    t.c_cflag &= ~(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
    t.c_cflag |= size_bits(wanted.byte_size) | parity_bits(wanted.parity);
    if (wanted.stop_bits != StopBits::one) t.c_cflag |= CSTOPB;
    if (wanted.rts_cts) t.c_cflag |= CRTSCTS;
    t.c_iflag &= ~(INPCK | IXON | IXOFF);
    if (wanted.check_parity) t.c_iflag |= INPCK;
    if (wanted.xon_xoff_out) t.c_iflag |= IXON;
    if (wanted.xon_xoff_in) t.c_iflag |= IXOFF;
    t.c_cc[VSTART] = static_cast<cc_t>(wanted.xon_char);
    t.c_cc[VSTOP] = static_cast<cc_t>(wanted.xoff_char);
    if (!set(fd, t)) return false;

    LineState got;
    const bool taken = read_line_state(fd, got) && rate_close_enough(got.baud, wanted.baud) &&
                       got.byte_size == wanted.byte_size && got.parity == wanted.parity &&
                       got.stop_bits == wanted.stop_bits;
    // A refused state leaves the device as it was.
    if (!taken) set(fd, previous);
    return taken;
}

}  // namespace tarvex::posix
