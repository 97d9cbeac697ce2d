// A caller's buffer with guard bytes on both sides, to prove that a function
// writes nothing outside the extent its contract names.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace cipher_test {

class GuardedBuffer {
public:
    static constexpr std::size_t kGuard = 16;
    static constexpr char kFill = '\x5A';

    explicit GuardedBuffer(std::size_t room, const std::string& initial = {})
        : bytes_(room + 2 * kGuard, kFill) {
        initial.copy(data(), initial.size());
    }

    char* data() { return bytes_.data() + kGuard; }
    const char* data() const { return bytes_.data() + kGuard; }

    // True when nothing before the buffer and nothing from offset `extent`
    // on (inside the room or past it) was touched.
    bool untouched_outside(std::size_t extent) const {
        for (std::size_t i = 0; i < kGuard; ++i) {
            if (bytes_[i] != kFill) return false;
        }
        for (std::size_t i = kGuard + extent; i < bytes_.size(); ++i) {
            if (bytes_[i] != kFill) return false;
        }
        return true;
    }

    std::string text(std::size_t length) const { return {data(), length}; }

private:
    std::vector<char> bytes_;
};

}  // namespace cipher_test
