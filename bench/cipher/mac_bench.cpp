// MakeMac over 240 characters (120 bytes, 15 blocks) against a CBC-MAC of
// the same bytes with the same DES on raw 64-bit values.
//   RawMac_KeyPerCall - every DES step expands its key, as each call of the
//                       hex-text service must: the difference to MakeMac is
//                       the cost of the hex-text interface alone.
//   RawMac_KeysOnce   - the keys expanded once per MAC, for reference.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>
#include <string>

#include "des.h"
#include "orvel.h"

namespace {

constexpr std::size_t kTextLength = 240;
constexpr std::size_t kBlocks = kTextLength / 16;
constexpr std::array<unsigned char, 8> kKey1 = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
constexpr std::array<unsigned char, 8> kKey2 = {0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

std::string text() {
    static constexpr char digits[] = "0123456789ABCDEF";
    std::string t;
    for (std::size_t i = 0; i < kTextLength; ++i) t += digits[(i * 7 + 3) % 16];
    return t;
}

std::uint64_t to_u64(const unsigned char* b) {
    std::uint64_t v = 0;
    for (int i = 0; i < 8; ++i) v = (v << 8) | b[i];
    return v;
}

std::array<std::uint64_t, kBlocks> raw_blocks() {
    std::array<std::uint64_t, kBlocks> blocks{};
    auto t = text();
    for (std::size_t i = 0; i < kBlocks; ++i) {
        blocks[i] = std::stoull(t.substr(16 * i, 16), nullptr, 16);
    }
    return blocks;
}

void BM_MakeMac(benchmark::State& state) {
    const auto t = text();
    char mac[16];
    for (auto _ : state) {
        MakeMac(t.c_str(), mac, kKey1.data(), kKey2.data());
        benchmark::DoNotOptimize(mac);
    }
}
BENCHMARK(BM_MakeMac);

void BM_RawMac_KeyPerCall(benchmark::State& state) {
    const auto blocks = raw_blocks();
    const auto k1 = to_u64(kKey1.data());
    const auto k2 = to_u64(kKey2.data());
    for (auto _ : state) {
        std::uint64_t v = 0;
        for (auto b : blocks) {
            v ^= b;
            v = ciphon::encrypt_block(v, ciphon::make_key_schedule(k1));
            v = ciphon::decrypt_block(v, ciphon::make_key_schedule(k2));
            v = ciphon::encrypt_block(v, ciphon::make_key_schedule(k1));
        }
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_RawMac_KeyPerCall);

void BM_RawMac_KeysOnce(benchmark::State& state) {
    const auto blocks = raw_blocks();
    const auto k1 = to_u64(kKey1.data());
    const auto k2 = to_u64(kKey2.data());
    for (auto _ : state) {
        const auto s1 = ciphon::make_key_schedule(k1);
        const auto s2 = ciphon::make_key_schedule(k2);
        std::uint64_t v = 0;
        for (auto b : blocks) {
            v ^= b;
            v = ciphon::encrypt_block(ciphon::decrypt_block(ciphon::encrypt_block(v, s1), s2), s1);
        }
        benchmark::DoNotOptimize(v);
    }
}
BENCHMARK(BM_RawMac_KeysOnce);

}  // namespace
