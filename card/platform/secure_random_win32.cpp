// The system's preferred generator through BCryptGenRandom (the CNG provider
// behind every Windows crypto API): seeded by the OS, never predictable, and
// needing no handle of our own.
#include "secure_random.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>
#include <cstddef>

namespace orvel {

bool secure_random_bytes(std::span<std::uint8_t> out) {
    // BCryptGenRandom takes a ULONG count; larger requests go in pieces.
    constexpr std::size_t kMaxPiece = 0x7FFFFFFF;
    while (!out.empty()) {
        const std::size_t piece = std::min(out.size(), kMaxPiece);
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, out.data(), static_cast<ULONG>(piece),
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG))) {
            return false;
        }
        out = out.subspan(piece);
    }
    return true;
}

}  // namespace orvel
