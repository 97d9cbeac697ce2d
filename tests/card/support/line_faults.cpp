#include "line_faults.h"

#include <dlfcn.h>

#include <atomic>

#include "tarvex.h"

namespace card_test {
namespace {

std::atomic<int> writes_to_pass{0};
std::atomic<int> writes_to_fail{0};

}  // namespace

void fail_writes(int count, int after) {
    writes_to_pass = after;
    writes_to_fail = count;
}

void clear_write_faults() {
    writes_to_pass = 0;
    writes_to_fail = 0;
}

}  // namespace card_test

// Takes the place of the serial library's COM_Write for every caller in the
// process (the program exports it); forwards to the real one unless a
// failure is due.
extern "C" __attribute__((visibility("default"))) bool COM_Write(int port, const unsigned char *buf,
                                                                uint32_t count) {
    using Write = bool (*)(int, const unsigned char *, uint32_t);
    static const auto real_write = reinterpret_cast<Write>(dlsym(RTLD_NEXT, "COM_Write"));
    if (card_test::writes_to_pass > 0) {
        --card_test::writes_to_pass;
    } else if (card_test::writes_to_fail > 0) {
        --card_test::writes_to_fail;
        return false;
    }
    return real_write(port, buf, count);
}
