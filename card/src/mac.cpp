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

// Key texts, chaining value and block: all wiped however make_mac leaves.
struct MacState {
    BlockText key1{};
    BlockText key2{};
    BlockText chain{};
    BlockText block{};
    BlockText mixed{};
    ~MacState() {
        secure_wipe(std::span{key1});
        secure_wipe(std::span{key2});
        secure_wipe(std::span{chain});
        secure_wipe(std::span{block});
        secure_wipe(std::span{mixed});
    }
};

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
    MacState s;
    Ascii_To_HexStr(s.key1.data(), key1, kRawKeyBytes);
    Ascii_To_HexStr(s.key2.data(), key2, kRawKeyBytes);
    std::fill_n(s.chain.begin(), kBlockTextLength, '0');  // zero initial value

    // A text whose length is a multiple of 16 (the empty one included) gets
    // no padding block; a short last block ends the text.
    for (std::size_t taken = next_block(text, s.block); taken > 0;
         taken = next_block(text, s.block)) {
        exor_digits(s.chain.data(), s.mixed.data(), s.block.data());
        triple_des_encrypt(s.mixed.data(), s.chain.data(), s.key1.data(), s.key2.data());
        text += taken;
        if (taken < kBlockTextLength) break;
    }
    std::copy_n(s.chain.begin(), kBlockTextLength, mac);
}

}  // namespace orvel

extern "C" void MakeMac(const char* input, char* output, const unsigned char* key1,
                        const unsigned char* key2) {
    orvel::make_mac(input, output, key1, key2);
}
