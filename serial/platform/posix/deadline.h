// A point on the monotonic clock that a transfer must not wait past.
#pragma once

#include <time.h>

#include <chrono>
#include <cstdint>

namespace tarvex::posix {

class Deadline {
public:
    using Clock = std::chrono::steady_clock;

    static Deadline never() { return Deadline(); }
    static Deadline after(Clock::time_point start, std::uint64_t ms) {
        Deadline d;
        d.infinite_ = false;
        d.at_ = start + std::chrono::milliseconds(ms);
        return d;
    }

    bool infinite() const { return infinite_; }
    bool passed() const { return !infinite_ && Clock::now() >= at_; }

    // What is left, for ppoll: rounded up to the nanosecond, never negative;
    // nullptr when there is no limit.
    const timespec* remaining(timespec& storage) const {
        if (infinite_) return nullptr;
        auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(at_ - Clock::now()).count();
        if (left < 0) left = 0;
        storage.tv_sec = static_cast<time_t>(left / 1'000'000'000);
        storage.tv_nsec = static_cast<long>(left % 1'000'000'000);
        return &storage;
    }

private:
    Deadline() = default;
    bool infinite_ = true;
    Clock::time_point at_{};
};

}  // namespace tarvex::posix
