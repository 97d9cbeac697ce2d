// The kernel's generator through getrandom(2): it blocks only until the pool
// has been seeded once after boot, and never hands out predictable bytes.
#include "secure_random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstddef>

namespace orvel {

bool secure_random_bytes(std::span<std::uint8_t> out) {
    std::size_t done = 0;
    while (done < out.size()) {
        ssize_t got = getrandom(out.data() + done, out.size() - done, 0);
        if (got < 0) {
            if (errno == EINTR) continue;  // a signal arrived before any byte
            return false;
        }
        if (got == 0) return false;  // never expected; refuse to loop forever
        done += static_cast<std::size_t>(got);
    }
    return true;
}

}  // namespace orvel
