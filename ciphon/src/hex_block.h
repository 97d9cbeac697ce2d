// An 8-byte block or key as 16 hex characters, the form the service's
// callers pass around.
#pragma once

#include <cstdint>

namespace ciphon {

// Reads at most 16 characters, stopping early at a NUL (the missing digits
// count as 0). '0'-'9', 'A'-'F' and 'a'-'f' are the digits. Any other
// character is decoded as the serial line library's decoders decode it: up
// to '9' by its low four bits, above '9' by (c + 9) & 0x0F.
std::uint64_t decode_block(const char* text);

// Writes 16 uppercase hex characters and a NUL: out needs 17 bytes.
void encode_block(std::uint64_t block, char* out);

}  // namespace ciphon
