// The exported DES service: one block on hex text per call, no state kept.
#include "ciphon.h"

#include <cstddef>

#include "des.h"
#include "hex_block.h"

namespace ciphon {
namespace {

// The round keys are key material: clear them so they do not linger on the
// stack after the call. Volatile stores keep the compiler from dropping it.
void wipe(KeySchedule& schedule) {
    volatile std::uint64_t* words = schedule.round_keys.data();
    for (std::size_t i = 0; i < schedule.round_keys.size(); ++i) words[i] = 0;
}

enum class Direction { encrypt, decrypt };

template <Direction direction>
int run_service(const char* input, char* output, const char* key) {
    // Decode everything before writing, so the result is right even if a
    // caller hands the same buffer twice.
    auto schedule = make_key_schedule(decode_block(key));
    auto block = decode_block(input);
    block = direction == Direction::encrypt ? encrypt_block(block, schedule)
                                            : decrypt_block(block, schedule);
    encode_block(block, output);
    wipe(schedule);
    return 0;
}

}  // namespace
}  // namespace ciphon

extern "C" int DESencrypt(const char* input, char* output, const char* key) {
    return ciphon::run_service<ciphon::Direction::encrypt>(input, output, key);
}

extern "C" int DESdecrypt(const char* input, char* output, const char* key) {
    return ciphon::run_service<ciphon::Direction::decrypt>(input, output, key);
}
