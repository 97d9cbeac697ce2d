// ExOr, MakeLrc and GetSum: digit-by-digit arithmetic on hex text.
//
// These keep a digit rule of their own, distinct from the serial line
// library's decoders: '0'-'9' are worth c - 0x30 and every other character
// c - 0x37, so only uppercase letters are digits ('a' is worth 42). Their
// results on texts that are not uppercase hex are part of what callers see
// (ExOr of 'a' and 'A' is 'W'), and the MAC chaining runs through ExOr, so
// sharing the serial decoder, which also takes lowercase, would change MACs
// and check characters. Do not merge the two.
#include <array>
#include <cstdint>

#include "cipher.h"
#include "orvel.h"

namespace orvel {
namespace {

constexpr unsigned kDigitOffset = 0x30;   // '0' - 0
constexpr unsigned kLetterOffset = 0x37;  // 'A' - 10
constexpr unsigned kCheckComplement = 0x0F;
constexpr int kGetSumCharacters = 22;     // 11 bytes as hex text
constexpr int kGetSumOutput = 4;          // two digits and two NULs

// The digit rule in an unsigned type of the caller's width: ExOr and MakeLrc
// compute modulo 256, GetSum modulo 65536.
template <typename Word>
constexpr Word digit_value(char c) {
    auto u = static_cast<unsigned char>(c);
    return static_cast<Word>(u >= '0' && u <= '9' ? u - kDigitOffset : u - kLetterOffset);
}

template <typename Word>
constexpr char digit_character(Word v) {
    auto shifted = static_cast<Word>(v <= 9 ? v + kDigitOffset : v + kLetterOffset);
    return static_cast<char>(static_cast<unsigned char>(shifted & 0xFF));
}

// XOR of the digit values of the even and of the odd characters of
// text[0..2*pairs-1]: the two nibbles of the XOR of the bytes a hex text spells.
template <typename Word>
std::array<Word, 2> pairwise_xor(const char* text, int pairs) {
    std::array<Word, 2> hl{};
    for (int i = 0; i < pairs; ++i) {
        hl[0] ^= digit_value<Word>(text[2 * i]);
        hl[1] ^= digit_value<Word>(text[2 * i + 1]);
    }
    return hl;
}

// The 8-bit rule as tables: ExOr runs for every block of every MAC.
constexpr auto kValueOfCharacter = [] {
    std::array<std::uint8_t, 256> values{};
    for (unsigned c = 0; c < 256; ++c) values[c] = digit_value<std::uint8_t>(static_cast<char>(c));
    return values;
}();

constexpr auto kCharacterOfValue = [] {
    std::array<char, 256> characters{};
    for (unsigned v = 0; v < 256; ++v) {
        characters[v] = digit_character<std::uint8_t>(static_cast<std::uint8_t>(v));
    }
    return characters;
}();

}  // namespace

void exor_digits(const char* first, char* output, const char* second) {
    for (std::size_t i = 0; i < kBlockTextLength; ++i) {
        auto a = kValueOfCharacter[static_cast<unsigned char>(first[i])];
        auto b = kValueOfCharacter[static_cast<unsigned char>(second[i])];
        output[i] = kCharacterOfValue[a ^ b];
    }
}

void append_lrc(char* text, int count) {
    // Read in place: no working copy, so no count can overrun one. A
    // negative count would point before the text; it counts as 0.
    if (count < 0) count = 0;
    auto [high, low] = pairwise_xor<std::uint8_t>(text, count / 2);
    text[count] = digit_character(high);
    text[count + 1] = digit_character(low);
    text[count + 2] = '\0';
}

void complemented_check(const char* input, char* output) {
    for (int i = 0; i < kGetSumOutput; ++i) output[i] = '\0';
    auto [high, low] = pairwise_xor<std::uint16_t>(input, kGetSumCharacters / 2);
    output[0] = digit_character<std::uint16_t>(high ^ kCheckComplement);
    output[1] = digit_character<std::uint16_t>(low ^ kCheckComplement);
}

}  // namespace orvel

extern "C" {

void ExOr(const char* first, char* output, const char* second) {
    orvel::exor_digits(first, output, second);
}

void MakeLrc(char* text, int count) { orvel::append_lrc(text, count); }

void GetSum(const char* input, char* output) { orvel::complemented_check(input, output); }

}  // extern "C"
