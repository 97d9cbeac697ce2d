// The platform seam over POSIX ttys: device names resolve through
// device_name, handles live in the registry, line states go through termios2.
#include <cstring>
#include <span>

#include "comm_api.h"
#include "device_name.h"
#include "handle_registry.h"
#include "line_state.h"
#include "tty_device.h"

namespace tarvex::posix {
namespace {

constexpr os::Dword kFileFlagOverlapped = 0x40000000u;
constexpr os::Dword kDtrControlEnable = 1;
constexpr os::Dword kRtsControlEnable = 1;
constexpr os::Dword kRtsControlHandshake = 2;
constexpr os::Word kXonLimit = 2048;
constexpr os::Word kXoffLimit = 512;
constexpr os::Byte kMinByteSize = 5;
constexpr os::Byte kMaxByteSize = 8;

// The DCB as a tty can take it, or false for a state no UART can: byte sizes
// outside 5..8, an unknown parity or stop-bits value, 1.5 stop bits with more
// than 5 data bits, 2 stop bits with 5, a rate of 0.
bool to_line_state(const os::Dcb& dcb, LineState& out) {
    if (dcb.BaudRate == 0 || dcb.ByteSize < kMinByteSize || dcb.ByteSize > kMaxByteSize) return false;
    out.baud = dcb.BaudRate;
    out.byte_size = dcb.ByteSize;
    switch (dcb.Parity) {
        case os::kNoParity: out.parity = Parity::none; break;
        case os::kOddParity: out.parity = Parity::odd; break;
        case os::kEvenParity: out.parity = Parity::even; break;
        case os::kMarkParity: out.parity = Parity::mark; break;
        case os::kSpaceParity: out.parity = Parity::space; break;
        default: return false;
    }
    switch (dcb.StopBits) {
        case os::kOneStopBit: out.stop_bits = StopBits::one; break;
        case os::kOne5StopBits:
            if (dcb.ByteSize != kMinByteSize) return false;
            out.stop_bits = StopBits::one_and_half;
            break;
        case os::kTwoStopBits:
            if (dcb.ByteSize == kMinByteSize) return false;
            out.stop_bits = StopBits::two;
            break;
        default: return false;
    }
    out.check_parity = dcb.fParity;
    out.rts_cts = dcb.fOutxCtsFlow || dcb.fRtsControl == kRtsControlHandshake;
    out.xon_xoff_out = dcb.fOutX;
    out.xon_xoff_in = dcb.fInX;
    out.xon_char = dcb.XonChar;
    out.xoff_char = dcb.XoffChar;
    return true;
}

os::Dcb to_dcb(const LineState& s) {
    os::Dcb dcb{};
    dcb.DCBlength = sizeof(os::Dcb);
    dcb.BaudRate = s.baud;
    dcb.fBinary = 1;
    dcb.fParity = s.check_parity;
    dcb.fOutxCtsFlow = s.rts_cts;
    dcb.fDtrControl = kDtrControlEnable;
    dcb.fOutX = s.xon_xoff_out;
    dcb.fInX = s.xon_xoff_in;
    dcb.fRtsControl = s.rts_cts ? kRtsControlHandshake : kRtsControlEnable;
    dcb.XonLim = kXonLimit;
    dcb.XoffLim = kXoffLimit;
    dcb.ByteSize = s.byte_size;
    switch (s.parity) {
        case Parity::none: dcb.Parity = os::kNoParity; break;
        case Parity::odd: dcb.Parity = os::kOddParity; break;
        case Parity::even: dcb.Parity = os::kEvenParity; break;
        case Parity::mark: dcb.Parity = os::kMarkParity; break;
        case Parity::space: dcb.Parity = os::kSpaceParity; break;
    }
    switch (s.stop_bits) {
        case StopBits::one: dcb.StopBits = os::kOneStopBit; break;
        case StopBits::one_and_half: dcb.StopBits = os::kOne5StopBits; break;
        case StopBits::two: dcb.StopBits = os::kTwoStopBits; break;
    }
    dcb.XonChar = s.xon_char;
    dcb.XoffChar = s.xoff_char;
    return dcb;
}

void report(os::Dword* transferred, std::size_t n) {
    if (transferred) *transferred = static_cast<os::Dword>(n);
}

}  // namespace
}  // namespace tarvex::posix

namespace tarvex::os {

using posix::registry;

Handle CreateFileA(const char* path, Dword access, Dword /*share_mode: ttys are always exclusive*/,
                   void* /*security*/, Dword disposition, Dword flags, Handle /*template_file*/) {
    if (!path || disposition != kOpenExisting || (flags & posix::kFileFlagOverlapped)) return kInvalidHandle;
    const bool read = access & kGenericRead;
    const bool write = access & kGenericWrite;
    if (!read && !write) return kInvalidHandle;
    const auto tty = posix::resolve_device(path);
    if (!tty) return kInvalidHandle;
    auto device = posix::TtyDevice::open(*tty, read, write);
    if (!device) return kInvalidHandle;
    return registry().add_device(std::move(device));
}

Bool CloseHandle(Handle handle) { return registry().close(handle); }

Handle CreateEventA(void*, Bool, Bool, const char*) { return registry().add_event(); }

Bool SetCommMask(Handle handle, Dword mask) {
    auto device = registry().device(handle);
    if (!device) return 0;
    device->set_event_mask(mask);
    return 1;
}

// The kernel's queues have fixed sizes; any request is taken as met.
Bool SetupComm(Handle handle, Dword, Dword) { return registry().device(handle) != nullptr; }

Bool PurgeComm(Handle handle, Dword flags) {
    constexpr Dword kKnownFlags = kPurgeTxAbort | kPurgeRxAbort | kPurgeTxClear | kPurgeRxClear;
    auto device = registry().device(handle);
    if (!device || (flags & ~kKnownFlags)) return 0;
    return device->purge(flags);
}

Bool GetCommTimeouts(Handle handle, CommTimeouts* timeouts) {
    auto device = registry().device(handle);
    if (!device || !timeouts) return 0;
    *timeouts = device->timeouts();
    return 1;
}

Bool SetCommTimeouts(Handle handle, CommTimeouts* timeouts) {
    auto device = registry().device(handle);
    if (!device || !timeouts) return 0;
    device->set_timeouts(*timeouts);
    return 1;
}

Bool GetCommState(Handle handle, Dcb* dcb) {
    auto device = registry().device(handle);
    posix::LineState state;
    if (!device || !dcb || !device->line_state(state)) return 0;
    *dcb = posix::to_dcb(state);
    return 1;
}

Bool SetCommState(Handle handle, Dcb* dcb) {
    auto device = registry().device(handle);
    posix::LineState state;
    if (!device || !dcb || !posix::to_line_state(*dcb, state)) return 0;
    return device->set_line_state(state);
}

// Line errors are not collected on a tty, so there is no error state to
// clear: the flags are always 0. The counts cost two ioctls, skipped when
// the caller passes no ComStat.
Bool ClearCommError(Handle handle, Dword* errors, ComStat* stat) {
    auto device = registry().device(handle);
    if (!device) return 0;
    if (errors) *errors = 0;
    if (stat) {
        *stat = ComStat{};
        if (!device->queue_counts(stat->cbInQue, stat->cbOutQue)) return 0;
    }
    return 1;
}

Bool ReadFile(Handle handle, void* buffer, Dword count, Dword* transferred, Overlapped*) {
    posix::report(transferred, 0);
    auto device = registry().device(handle);
    if (!device || (count > 0 && !buffer)) return 0;
    std::size_t done = 0;
    const auto end = device->read({static_cast<std::uint8_t*>(buffer), count}, done);
    posix::report(transferred, done);
    return end != posix::TransferEnd::failed;  // a time-out is not an error
}

Bool WriteFile(Handle handle, const void* buffer, Dword count, Dword* transferred, Overlapped*) {
    posix::report(transferred, 0);
    auto device = registry().device(handle);
    if (!device || (count > 0 && !buffer)) return 0;
    std::size_t done = 0;
    const auto end = device->write({static_cast<const std::uint8_t*>(buffer), count}, done);
    posix::report(transferred, done);
    return end != posix::TransferEnd::failed;
}

Bool WaitCommEvent(Handle handle, Dword* mask, Overlapped*) {
    auto device = registry().device(handle);
    if (!device || !mask) return 0;
    return device->wait_for_rx_char(*mask);
}

}  // namespace tarvex::os
