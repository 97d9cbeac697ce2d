// A caller buffer of exactly n bytes between two guard zones. The guards hold
// a pattern that is checked afterwards and, under AddressSanitizer, are also
// poisoned so the first stray access stops the run where it happens.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define FUZZ_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define FUZZ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#endif
#endif
#ifndef FUZZ_POISON
#define FUZZ_POISON(p, n) ((void)(p), (void)(n))
#define FUZZ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace fuzz_checks {

class GuardedBuffer {
public:
    static constexpr std::size_t kGuard = 32;
    static constexpr std::uint8_t kGuardByte = 0xC5;

    explicit GuardedBuffer(std::size_t size, std::uint8_t fill = 0xA7)
        : size_(size), fill_(fill), storage_(size + 2 * kGuard, kGuardByte) {
        std::fill_n(storage_.begin() + kGuard, size, fill);
        FUZZ_POISON(storage_.data(), kGuard);
        FUZZ_POISON(storage_.data() + kGuard + size, kGuard);
    }
    ~GuardedBuffer() { unpoison(); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    unsigned char* data() { return storage_.data() + kGuard; }
    char* chars() { return reinterpret_cast<char*>(data()); }
    std::size_t size() const { return size_; }
    unsigned char operator[](std::size_t i) const { return storage_[kGuard + i]; }

    // Both guard zones still hold their pattern.
    bool guards_intact() {
        unpoison();
        const bool intact =
            std::all_of(storage_.begin(), storage_.begin() + kGuard, [](auto b) { return b == kGuardByte; }) &&
            std::all_of(storage_.end() - kGuard, storage_.end(), [](auto b) { return b == kGuardByte; });
        FUZZ_POISON(storage_.data(), kGuard);
        FUZZ_POISON(storage_.data() + kGuard + size_, kGuard);
        return intact;
    }
    // Bytes [from, size) still hold the fill they started with.
    bool untouched(std::size_t from = 0) const {
        return std::all_of(storage_.begin() + kGuard + from, storage_.begin() + kGuard + size_,
                           [this](auto b) { return b == fill_; });
    }

private:
    void unpoison() {
        FUZZ_UNPOISON(storage_.data(), kGuard);
        FUZZ_UNPOISON(storage_.data() + kGuard + size_, kGuard);
    }

    std::size_t size_;
    std::uint8_t fill_;
    std::vector<std::uint8_t> storage_;
};

}  // namespace fuzz_checks
