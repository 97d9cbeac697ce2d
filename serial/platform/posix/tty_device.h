// One open tty behind a device handle: exclusive, raw, non-blocking
// underneath, with blocking transfers bounded by the handle's time-outs.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <span>
#include <string>
#include <utility>

#include "comm_api.h"
#include "line_state.h"

namespace tarvex::posix {

// Owns a descriptor; closes it once.
class UniqueFd {
public:
    UniqueFd() = default;
    explicit UniqueFd(int fd) : fd_(fd) {}
    UniqueFd(UniqueFd&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}
    UniqueFd& operator=(UniqueFd&& other) noexcept;
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    ~UniqueFd();
    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }

private:
    int fd_ = -1;
};

// How a blocking transfer ended.
enum class TransferEnd { complete, timed_out, failed };

class TtyDevice {
public:
    // Opens path exclusively (TIOCEXCL and an flock, so a second open fails
    // for root too), as no controlling terminal, in raw mode. nullptr when
    // the path is not a tty or is already open.
    static std::unique_ptr<TtyDevice> open(const std::string& path, bool read, bool write);
    ~TtyDevice();

    // Wakes every pending transfer and wait, which then fail; the
    // descriptor itself is closed when the last user lets go.
    void shut_down();

    // Reads up to buffer.size() bytes: returns once all arrived, the handle's
    // read time-out ran out, or the line hung up. `done` is what arrived.
    TransferEnd read(std::span<std::uint8_t> buffer, std::size_t& done);
    TransferEnd write(std::span<const std::uint8_t> bytes, std::size_t& done);

    // Blocks until a byte is waiting (true) or the wait fails: no event in
    // the mask, the line hung up, the handle closed.
    bool wait_for_rx_char(os::Dword& mask);

    bool queue_counts(os::Dword& in_queue, os::Dword& out_queue) const;
    bool purge(os::Dword flags);

    bool line_state(LineState& out) const;
    bool set_line_state(const LineState& state);

    os::CommTimeouts timeouts() const;
    void set_timeouts(const os::CommTimeouts& t);
    os::Dword event_mask() const;
    void set_event_mask(os::Dword mask);

private:
    struct Key {};  // only open() constructs

public:
    TtyDevice(Key, UniqueFd fd, UniqueFd wake);

private:
    enum class Ready { io, timed_out, failed };
    Ready wait_ready(short events, const class Deadline& deadline) const;

    UniqueFd fd_;
    UniqueFd wake_;  // an eventfd made readable by shut_down
    mutable std::mutex mutex_;
    os::CommTimeouts timeouts_{};
    os::Dword event_mask_ = 0;
};

}  // namespace tarvex::posix
