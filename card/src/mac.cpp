// MakeMac: CBC-MAC over hex text with two-key triple DES, zero initial value
// and '0' padding of the last block.
//
// The text is taken block by block straight from the caller's buffer, so it
// may be of any length: a CBC chain needs only the current block and the
// chaining value, never a copy of the whole padded text.
#include <algorithm>
#include <array>

#include "cipher.h"
#include "orvel.h"
#include "secure_wipe.h"
#include "tarvex.h"

namespace orvel {
namespace {

constexpr int kRawKeyBytes = 8;
constexpr char kPadCharacter = '0';

using BlockText = std::array<char, kBlockTextRoom>;

// Copies the next block of text into block, padded with '0' after a short
// one. Returns the number of text characters taken (0 at the end).
std::size_t next_block(const char* text, BlockText& block) {
    std::size_t taken = 0;
    while (taken < kBlockTextLength && text[taken] != '\0') {
        block[taken] = text[taken];
        ++taken;
    }
    std::fill(block.begin() + taken, block.begin() + kBlockTextLength, kPadCharacter);
    return taken;
}

}  // namespace

void make_mac(const char* text, char* mac, const unsigned char* key1,
              const unsigned char* key2) {
    // Key texts, chaining value and blocks: all wiped however this leaves.
    Wiped<BlockText> key1_text, key2_text, chain_text, block_text, mixed_text;
    auto& chain = chain_text.value;
    auto& block = block_text.value;
    auto& mixed = mixed_text.value;
    Ascii_To_HexStr(key1_text.value.data(), key1, kRawKeyBytes);
    Ascii_To_HexStr(key2_text.value.data(), key2, kRawKeyBytes);
    std::fill_n(chain.begin(), kBlockTextLength, '0');  // zero initial value

    // A text whose length is a multiple of 16 (the empty one included) gets
    // no padding block; a short last block ends the text.
    for (std::size_t taken = next_block(text, block); taken > 0;
         taken = next_block(text, block)) {
        exor_digits(chain.data(), mixed.data(), block.data());
        triple_des_encrypt(mixed.data(), chain.data(), key1_text.value.data(),
                           key2_text.value.data());
        text += taken;
        if (taken < kBlockTextLength) break;
    }
    std::copy_n(chain.begin(), kBlockTextLength, mac);
}

}  // namespace orvel

extern "C" void MakeMac(const char* input, char* output, const unsigned char* key1,
                        const unsigned char* key2) {
    orvel::make_mac(input, output, key1, key2);
}
