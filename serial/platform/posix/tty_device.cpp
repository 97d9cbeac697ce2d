// Exclusive raw ttys with Win32-style blocking transfers.
#include "tty_device.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <limits>
#include <optional>

#include "deadline.h"

namespace tarvex::posix {
namespace {

constexpr os::Dword kMaxDword = std::numeric_limits<os::Dword>::max();
constexpr std::uint64_t kWakeValue = 1;

// Total time-out of a transfer of n bytes, measured from the call; both
// parts zero means no limit.
Deadline total_deadline(Deadline::Clock::time_point start, os::Dword multiplier, os::Dword constant,
                        std::size_t n) {
    if (multiplier == 0 && constant == 0) return Deadline::never();
    return Deadline::after(start, std::uint64_t{multiplier} * n + constant);
}

bool would_block(int err) { return err == EAGAIN || err == EWOULDBLOCK; }

}  // namespace

UniqueFd& UniqueFd::operator=(UniqueFd&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

UniqueFd::~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
}

TtyDevice::TtyDevice(Key, UniqueFd fd, UniqueFd wake) : fd_(std::move(fd)), wake_(std::move(wake)) {}

std::unique_ptr<TtyDevice> TtyDevice::open(const std::string& path, bool read, bool write) {
    const int access = read && write ? O_RDWR : write ? O_WRONLY : O_RDONLY;
    UniqueFd fd(::open(path.c_str(), access | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
    if (!fd || !::isatty(fd.get())) return nullptr;
    // TIOCEXCL refuses later opens by anyone but root; the lock refuses
    // root's too, and any other user of this library.
    if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return nullptr;
    UniqueFd wake(::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK));
    if (!wake) return nullptr;
    ::ioctl(fd.get(), TIOCEXCL);
    auto device = std::make_unique<TtyDevice>(Key{}, std::move(fd), std::move(wake));
    if (!make_raw(device->fd_.get())) return nullptr;  // the destructor drops the exclusive mode
    return device;
}

TtyDevice::~TtyDevice() {
    // The exclusive mode belongs to the tty, not to this descriptor: clear it
    // so that the next open (ours or anyone's) is not refused.
    if (fd_) ::ioctl(fd_.get(), TIOCNXCL);
}

void TtyDevice::shut_down() {
    const std::uint64_t one = kWakeValue;
    [[maybe_unused]] auto n = ::write(wake_.get(), &one, sizeof one);
}

TtyDevice::Ready TtyDevice::wait_ready(short events, const Deadline& deadline) const {
    for (;;) {
        std::array<pollfd, 2> fds{{{fd_.get(), events, 0}, {wake_.get(), POLLIN, 0}}};
        timespec storage{};
        const int r = ::ppoll(fds.data(), fds.size(), deadline.remaining(storage), nullptr);
        if (r < 0) {
            if (errno == EINTR) continue;
            return Ready::failed;
        }
        if (fds[1].revents) return Ready::failed;  // the handle is being closed
        if (fds[0].revents & (POLLERR | POLLNVAL)) return Ready::failed;
        if (fds[0].revents & events) return Ready::io;  // a hangup with data: read() reports it
        if (fds[0].revents & POLLHUP) return Ready::failed;
        // The sleep may end a little early; only the clock decides.
        if (deadline.passed()) return Ready::timed_out;
    }
}

TransferEnd TtyDevice::read(std::span<std::uint8_t> buffer, std::size_t& done) {
    done = 0;
    if (buffer.empty()) return TransferEnd::complete;
    const auto start = Deadline::Clock::now();
    // A byte already waiting costs one system call: try before polling.
    std::optional<Deadline> deadline;
    for (;;) {
        const ssize_t n = ::read(fd_.get(), buffer.data() + done, buffer.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            if (done == buffer.size()) return TransferEnd::complete;
        } else if (n == 0) {
            return TransferEnd::failed;  // end of file: the line hung up
        } else if (errno == EINTR) {
            continue;
        } else if (!would_block(errno)) {
            return TransferEnd::failed;  // EIO: the other side is gone
        }
        if (!deadline) {
            const os::CommTimeouts t = timeouts();
            if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == 0 &&
                t.ReadTotalTimeoutConstant == 0) {
                return TransferEnd::complete;  // return at once with what was waiting
            }
            if (t.ReadIntervalTimeout == kMaxDword && t.ReadTotalTimeoutMultiplier == kMaxDword) {
                // Return as soon as anything arrived, waiting at most the constant.
                if (done > 0) return TransferEnd::complete;
                deadline = Deadline::after(start, t.ReadTotalTimeoutConstant);
            } else {
                deadline = total_deadline(start, t.ReadTotalTimeoutMultiplier, t.ReadTotalTimeoutConstant,
                                          buffer.size());
            }
        }
        switch (wait_ready(POLLIN, *deadline)) {
            case Ready::io: break;
            case Ready::timed_out: return TransferEnd::timed_out;
            case Ready::failed: return TransferEnd::failed;
        }
    }
}

TransferEnd TtyDevice::write(std::span<const std::uint8_t> bytes, std::size_t& done) {
    done = 0;
    if (bytes.empty()) return TransferEnd::complete;
    const auto start = Deadline::Clock::now();
    std::optional<Deadline> deadline;
    for (;;) {
        const ssize_t n = ::write(fd_.get(), bytes.data() + done, bytes.size() - done);
        if (n > 0) {
            done += static_cast<std::size_t>(n);
            if (done == bytes.size()) return TransferEnd::complete;
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else if (n < 0 && !would_block(errno)) {
            return TransferEnd::failed;
        }
        if (!deadline) {
            const os::CommTimeouts t = timeouts();
            deadline = total_deadline(start, t.WriteTotalTimeoutMultiplier, t.WriteTotalTimeoutConstant,
                                      bytes.size());
        }
        switch (wait_ready(POLLOUT, *deadline)) {
            case Ready::io: break;
            case Ready::timed_out: return TransferEnd::timed_out;
            case Ready::failed: return TransferEnd::failed;
        }
    }
}

bool TtyDevice::wait_for_rx_char(os::Dword& mask) {
    mask = 0;
    if (!(event_mask() & os::kEvRxChar)) return false;  // nothing could ever end the wait
    std::array<pollfd, 2> fds{{{fd_.get(), POLLIN, 0}, {wake_.get(), POLLIN, 0}}};
    for (;;) {
        const int r = ::ppoll(fds.data(), fds.size(), nullptr, nullptr);
        if (r < 0 && errno == EINTR) continue;
        if (r < 0 || fds[1].revents) return false;
        // POLLIN together with a hangup is the hangup, not a character.
        if (fds[0].revents & (POLLHUP | POLLERR | POLLNVAL)) return false;
        if (fds[0].revents & POLLIN) {
            mask = os::kEvRxChar;
            return true;
        }
    }
}

bool TtyDevice::queue_counts(os::Dword& in_queue, os::Dword& out_queue) const {
    int in = 0;
    int out = 0;
    if (::ioctl(fd_.get(), FIONREAD, &in) != 0 || ::ioctl(fd_.get(), TIOCOUTQ, &out) != 0) return false;
    in_queue = static_cast<os::Dword>(in);
    out_queue = static_cast<os::Dword>(out);
    return true;
}

bool TtyDevice::purge(os::Dword flags) {
    const bool rx = flags & os::kPurgeRxClear;
    const bool tx = flags & os::kPurgeTxClear;
    if (!rx && !tx) return true;  // aborting needs nothing: transfers are synchronous
    return ::tcflush(fd_.get(), rx && tx ? TCIOFLUSH : rx ? TCIFLUSH : TCOFLUSH) == 0;
}

bool TtyDevice::line_state(LineState& out) const { return read_line_state(fd_.get(), out); }
bool TtyDevice::set_line_state(const LineState& state) { return apply_line_state(fd_.get(), state); }

os::CommTimeouts TtyDevice::timeouts() const {
    std::lock_guard lock(mutex_);
    return timeouts_;
}

void TtyDevice::set_timeouts(const os::CommTimeouts& t) {
    std::lock_guard lock(mutex_);
    timeouts_ = t;
}

os::Dword TtyDevice::event_mask() const {
    std::lock_guard lock(mutex_);
    return event_mask_;
}

void TtyDevice::set_event_mask(os::Dword mask) {
    std::lock_guard lock(mutex_);
    event_mask_ = mask;
}

}  // namespace tarvex::posix
