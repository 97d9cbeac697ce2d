// DES from the tables of FIPS 46-3. The published tables stand below as they
// are printed (1-based bit numbers, bit 1 the most significant); the lookup
// tables used at run time are derived from them at compile time:
//   - each bit permutation (IP, IP^-1, PC-1, PC-2) becomes one lookup per
//     input byte whose results are ORed together;
//   - each S-box is combined with the P permutation into a table of 64
//     32-bit words, so a round is eight lookups and no bit shuffling;
//   - the expansion E is a rotation of the half block per 6-bit group
//     (checked against the E table below).
#include "des.h"

#include <bit>
#include <cstddef>

namespace ciphon {
namespace {

constexpr std::array<std::uint8_t, 64> kInitialPermutation = {
    58, 50, 42, 34, 26, 18, 10, 2, 60, 52, 44, 36, 28, 20, 12, 4,
    62, 54, 46, 38, 30, 22, 14, 6, 64, 56, 48, 40, 32, 24, 16, 8,
    57, 49, 41, 33, 25, 17, 9,  1, 59, 51, 43, 35, 27, 19, 11, 3,
    61, 53, 45, 37, 29, 21, 13, 5, 63, 55, 47, 39, 31, 23, 15, 7};

constexpr std::array<std::uint8_t, 64> kFinalPermutation = {
    40, 8, 48, 16, 56, 24, 64, 32, 39, 7, 47, 15, 55, 23, 63, 31,
    38, 6, 46, 14, 54, 22, 62, 30, 37, 5, 45, 13, 53, 21, 61, 29,
    36, 4, 44, 12, 52, 20, 60, 28, 35, 3, 43, 11, 51, 19, 59, 27,
    34, 2, 42, 10, 50, 18, 58, 26, 33, 1, 41, 9,  49, 17, 57, 25};

constexpr std::array<std::uint8_t, 48> kExpansion = {
    32, 1,  2,  3,  4,  5,  4,  5,  6,  7,  8,  9,  8,  9,  10, 11,
    12, 13, 12, 13, 14, 15, 16, 17, 16, 17, 18, 19, 20, 21, 20, 21,
    22, 23, 24, 25, 24, 25, 26, 27, 28, 29, 28, 29, 30, 31, 32, 1};

constexpr std::array<std::uint8_t, 32> kPermutationP = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10,
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25};

constexpr std::array<std::uint8_t, 56> kPermutedChoice1 = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18,
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36,
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22,
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4};

constexpr std::array<std::uint8_t, 48> kPermutedChoice2 = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10,
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48,
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32};

constexpr std::array<int, 16> kKeyRotations = {1, 1, 2, 2, 2, 2, 2, 2,
                                               1, 2, 2, 2, 2, 2, 2, 1};

using SBox = std::array<std::array<std::uint8_t, 16>, 4>;
constexpr std::array<SBox, 8> kSBoxes = {{
    {{{14, 4, 13, 1, 2, 15, 11, 8, 3, 10, 6, 12, 5, 9, 0, 7},
      {0, 15, 7, 4, 14, 2, 13, 1, 10, 6, 12, 11, 9, 5, 3, 8},
      {4, 1, 14, 8, 13, 6, 2, 11, 15, 12, 9, 7, 3, 10, 5, 0},
      {15, 12, 8, 2, 4, 9, 1, 7, 5, 11, 3, 14, 10, 0, 6, 13}}},
    {{{15, 1, 8, 14, 6, 11, 3, 4, 9, 7, 2, 13, 12, 0, 5, 10},
      {3, 13, 4, 7, 15, 2, 8, 14, 12, 0, 1, 10, 6, 9, 11, 5},
      {0, 14, 7, 11, 10, 4, 13, 1, 5, 8, 12, 6, 9, 3, 2, 15},
      {13, 8, 10, 1, 3, 15, 4, 2, 11, 6, 7, 12, 0, 5, 14, 9}}},
    {{{10, 0, 9, 14, 6, 3, 15, 5, 1, 13, 12, 7, 11, 4, 2, 8},
      {13, 7, 0, 9, 3, 4, 6, 10, 2, 8, 5, 14, 12, 11, 15, 1},
      {13, 6, 4, 9, 8, 15, 3, 0, 11, 1, 2, 12, 5, 10, 14, 7},
      {1, 10, 13, 0, 6, 9, 8, 7, 4, 15, 14, 3, 11, 5, 2, 12}}},
    {{{7, 13, 14, 3, 0, 6, 9, 10, 1, 2, 8, 5, 11, 12, 4, 15},
      {13, 8, 11, 5, 6, 15, 0, 3, 4, 7, 2, 12, 1, 10, 14, 9},
      {10, 6, 9, 0, 12, 11, 7, 13, 15, 1, 3, 14, 5, 2, 8, 4},
      {3, 15, 0, 6, 10, 1, 13, 8, 9, 4, 5, 11, 12, 7, 2, 14}}},
    {{{2, 12, 4, 1, 7, 10, 11, 6, 8, 5, 3, 15, 13, 0, 14, 9},
      {14, 11, 2, 12, 4, 7, 13, 1, 5, 0, 15, 10, 3, 9, 8, 6},
      {4, 2, 1, 11, 10, 13, 7, 8, 15, 9, 12, 5, 6, 3, 0, 14},
      {11, 8, 12, 7, 1, 14, 2, 13, 6, 15, 0, 9, 10, 4, 5, 3}}},
    {{{12, 1, 10, 15, 9, 2, 6, 8, 0, 13, 3, 4, 14, 7, 5, 11},
      {10, 15, 4, 2, 7, 12, 9, 5, 6, 1, 13, 14, 0, 11, 3, 8},
      {9, 14, 15, 5, 2, 8, 12, 3, 7, 0, 4, 10, 1, 13, 11, 6},
      {4, 3, 2, 12, 9, 5, 15, 10, 11, 14, 1, 7, 6, 0, 8, 13}}},
    {{{4, 11, 2, 14, 15, 0, 8, 13, 3, 12, 9, 7, 5, 10, 6, 1},
      {13, 0, 11, 7, 4, 9, 1, 10, 14, 3, 5, 12, 2, 15, 8, 6},
      {1, 4, 11, 13, 12, 3, 7, 14, 10, 15, 6, 8, 0, 5, 9, 2},
      {6, 11, 13, 8, 1, 4, 10, 7, 9, 5, 0, 15, 14, 2, 3, 12}}},
    {{{13, 2, 8, 4, 6, 15, 11, 1, 10, 9, 3, 14, 5, 0, 12, 7},
      {1, 15, 13, 8, 10, 3, 7, 4, 12, 5, 6, 11, 0, 14, 9, 2},
      {7, 11, 4, 1, 9, 12, 14, 2, 0, 6, 10, 13, 15, 3, 5, 8},
      {2, 1, 14, 7, 4, 10, 8, 13, 15, 12, 9, 0, 3, 5, 6, 11}}},
}};

// Guards against a mistyped table: every S-box row is a permutation of 0..15.
constexpr bool sbox_rows_are_permutations() {
    for (const auto& box : kSBoxes) {
        for (const auto& row : box) {
            unsigned seen = 0;
            for (auto v : row) seen |= 1u << v;
            if (seen != 0xFFFF) return false;
        }
    }
    return true;
}
static_assert(sbox_rows_are_permutations());

// Output bit j (1-based, of N) is input bit table[j-1] of an in_width-bit value.
template <std::size_t N>
constexpr std::uint64_t permute(std::uint64_t in, int in_width,
                                const std::array<std::uint8_t, N>& table) {
    std::uint64_t out = 0;
    for (auto bit : table) out = (out << 1) | ((in >> (in_width - bit)) & 1);
    return out;
}

// A permutation of a Bytes-byte input as one table per input byte: the
// permutation of the input is the OR of the permutations of its bytes.
template <std::size_t Bytes>
using ByteLookup = std::array<std::array<std::uint64_t, 256>, Bytes>;

template <std::size_t Bytes, std::size_t N, typename Post>
constexpr ByteLookup<Bytes> make_byte_lookup(const std::array<std::uint8_t, N>& table,
                                             Post post) {
    ByteLookup<Bytes> lookup{};
    constexpr int width = 8 * Bytes;
    for (std::size_t b = 0; b < Bytes; ++b) {
        for (unsigned v = 0; v < 256; ++v) {
            auto in = std::uint64_t{v} << (width - 8 * (b + 1));
            lookup[b][v] = post(permute(in, width, table));
        }
    }
    return lookup;
}

template <std::size_t Bytes>
inline std::uint64_t apply(const ByteLookup<Bytes>& lookup, std::uint64_t in) {
    std::uint64_t out = 0;
#pragma GCC unroll 8
    for (std::size_t b = 0; b < Bytes; ++b) {
        out |= lookup[b][(in >> (8 * (Bytes - 1 - b))) & 0xFF];
    }
    return out;
}

constexpr auto as_is = [](std::uint64_t v) { return v; };

// Spreads a 48-bit round key into eight bytes of six bits, group 1 on top.
constexpr auto spread_groups = [](std::uint64_t key48) {
    std::uint64_t spread = 0;
    for (int i = 0; i < 8; ++i) {
        spread |= ((key48 >> (42 - 6 * i)) & 0x3F) << (56 - 8 * i);
    }
    return spread;
};

constexpr ByteLookup<8> kIpLookup = make_byte_lookup<8>(kInitialPermutation, as_is);
constexpr ByteLookup<8> kFpLookup = make_byte_lookup<8>(kFinalPermutation, as_is);
constexpr ByteLookup<8> kPc1Lookup = make_byte_lookup<8>(kPermutedChoice1, as_is);
constexpr ByteLookup<7> kPc2Lookup = make_byte_lookup<7>(kPermutedChoice2, spread_groups);

// S-box i followed by P: the 6-bit group b1..b6 picks row b1b6, column b2..b5;
// the four output bits take bits 4i+1..4i+4 before P.
constexpr auto kSpBoxes = [] {
    std::array<std::array<std::uint32_t, 64>, 8> sp{};
    for (int i = 0; i < 8; ++i) {
        for (unsigned v = 0; v < 64; ++v) {
            unsigned row = ((v >> 4) & 2) | (v & 1);
            unsigned column = (v >> 1) & 0xF;
            auto s = std::uint64_t{kSBoxes[i][row][column]} << (28 - 4 * i);
            sp[i][v] = static_cast<std::uint32_t>(permute(s, 32, kPermutationP));
        }
    }
    return sp;
}();

// E's group i is half-block bits 4i..4i+5 (bit 0 meaning bit 32), which is
// the half block rotated right by 27 - 4i, low six bits.
constexpr int expansion_rotation(int group) { return 27 - 4 * group; }

constexpr bool expansion_is_rotation() {
    for (int i = 0; i < 8; ++i) {
        for (int j = 0; j < 6; ++j) {
            auto r = std::uint32_t{1} << (31 - (kExpansion[6 * i + j] - 1));
            auto group = std::rotr(r, expansion_rotation(i)) & 0x3F;
            if (group != (1u << (5 - j))) return false;
        }
    }
    return true;
}
static_assert(expansion_is_rotation());

inline std::uint32_t feistel(std::uint32_t half, std::uint64_t round_key) {
    std::uint32_t out = 0;
#pragma GCC unroll 8
    for (int i = 0; i < 8; ++i) {
        auto group = std::rotr(half, expansion_rotation(i)) ^
                     static_cast<std::uint32_t>(round_key >> (56 - 8 * i));
        out |= kSpBoxes[i][group & 0x3F];
    }
    return out;
}

inline std::uint32_t rotate28(std::uint32_t half, int by) {
    return ((half << by) | (half >> (28 - by))) & 0x0FFFFFFF;
}

enum class Direction { encrypt, decrypt };

template <Direction direction>
std::uint64_t crypt_block(std::uint64_t block, const KeySchedule& schedule) {
    auto permuted = apply(kIpLookup, block);
    auto left = static_cast<std::uint32_t>(permuted >> 32);
    auto right = static_cast<std::uint32_t>(permuted);
    for (int round = 0; round < 16; ++round) {
        int index = direction == Direction::encrypt ? round : 15 - round;
        auto next = left ^ feistel(right, schedule.round_keys[index]);
        left = right;
        right = next;
    }
    // The last round does not swap the halves: R16 goes first.
    return apply(kFpLookup, (std::uint64_t{right} << 32) | left);
}

}  // namespace

KeySchedule make_key_schedule(std::uint64_t key) {
    auto cd = apply(kPc1Lookup, key);
    auto c = static_cast<std::uint32_t>(cd >> 28) & 0x0FFFFFFF;
    auto d = static_cast<std::uint32_t>(cd) & 0x0FFFFFFF;
    KeySchedule schedule;
    for (int round = 0; round < 16; ++round) {
        c = rotate28(c, kKeyRotations[round]);
        d = rotate28(d, kKeyRotations[round]);
        schedule.round_keys[round] = apply(kPc2Lookup, (std::uint64_t{c} << 28) | d);
    }
    return schedule;
}

std::uint64_t encrypt_block(std::uint64_t block, const KeySchedule& schedule) {
    return crypt_block<Direction::encrypt>(block, schedule);
}

std::uint64_t decrypt_block(std::uint64_t block, const KeySchedule& schedule) {
    return crypt_block<Direction::decrypt>(block, schedule);
}

}  // namespace ciphon
