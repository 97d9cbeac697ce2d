// Time per DES block: the stand-in against OpenSSL on the same machine, at
// three levels:
//   Block        - a block under a key expanded beforehand;
//   KeyAndBlock  - key expansion plus one block, the work of one service call;
//   HexService   - the exported DESencrypt on hex text (stand-in only).
// Each iteration feeds its result into the next, so the figures are latency
// of a dependent chain, as in a CBC-MAC.
#include <benchmark/benchmark.h>
#include <openssl/des.h>

#include <cstdint>
#include <cstring>

#include "ciphon.h"
#include "des.h"

namespace {

constexpr std::uint64_t kKey = 0x133457799BBCDFF1;
constexpr std::uint64_t kBlock = 0x0123456789ABCDEF;

void to_bytes(std::uint64_t v, DES_cblock& out) {
    for (int i = 0; i < 8; ++i) out[i] = static_cast<unsigned char>(v >> (56 - 8 * i));
}

void BM_StandIn_Block(benchmark::State& state) {
    auto schedule = ciphon::make_key_schedule(kKey);
    std::uint64_t block = kBlock;
    for (auto _ : state) {
        block = ciphon::encrypt_block(block, schedule);
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(BM_StandIn_Block);

void BM_OpenSSL_Block(benchmark::State& state) {
    DES_cblock key;
    DES_cblock block;
    to_bytes(kKey, key);
    to_bytes(kBlock, block);
    DES_key_schedule schedule;
    DES_set_key_unchecked(&key, &schedule);
    for (auto _ : state) {
        DES_cblock out;
        DES_ecb_encrypt(&block, &out, &schedule, DES_ENCRYPT);
        std::memcpy(block, out, sizeof block);
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(BM_OpenSSL_Block);

void BM_StandIn_KeyAndBlock(benchmark::State& state) {
    std::uint64_t key = kKey;
    std::uint64_t block = kBlock;
    for (auto _ : state) {
        auto schedule = ciphon::make_key_schedule(key);
        block = ciphon::encrypt_block(block, schedule);
        key ^= block;  // a new key each time, as in a chain of service calls
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(BM_StandIn_KeyAndBlock);

void BM_OpenSSL_KeyAndBlock(benchmark::State& state) {
    DES_cblock key;
    DES_cblock block;
    to_bytes(kKey, key);
    to_bytes(kBlock, block);
    for (auto _ : state) {
        DES_key_schedule schedule;
        DES_set_key_unchecked(&key, &schedule);
        DES_cblock out;
        DES_ecb_encrypt(&block, &out, &schedule, DES_ENCRYPT);
        std::memcpy(block, out, sizeof block);
        for (int i = 0; i < 8; ++i) key[i] ^= block[i];
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(BM_OpenSSL_KeyAndBlock);

void BM_StandIn_HexService(benchmark::State& state) {
    char block[17] = "0123456789ABCDEF";
    char key[17] = "133457799BBCDFF1";
    char out[17];
    for (auto _ : state) {
        DESencrypt(block, out, key);
        std::memcpy(key, block, 16);
        std::memcpy(block, out, 16);
        benchmark::DoNotOptimize(block);
    }
}
BENCHMARK(BM_StandIn_HexService);

}  // namespace
