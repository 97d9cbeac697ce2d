// Wipes key material from the library's own buffers in a way the compiler
// may not drop as a dead store.
#pragma once

#include <cstddef>
#include <span>

namespace orvel {

inline void secure_wipe(void* data, std::size_t size) {
    auto* p = static_cast<volatile unsigned char*>(data);
    for (std::size_t i = 0; i < size; ++i) p[i] = 0;
}

template <typename T, std::size_t N>
void secure_wipe(std::span<T, N> buffer) {
    secure_wipe(buffer.data(), buffer.size_bytes());
}

// A buffer of key material that wipes itself however its scope is left.
template <typename Buffer>
struct Wiped {
    Buffer value{};
    ~Wiped() { secure_wipe(value.data(), sizeof(value)); }
};

}  // namespace orvel
