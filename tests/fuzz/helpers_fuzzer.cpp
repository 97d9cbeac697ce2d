// The pure helpers under arbitrary counts and contents: block check
// characters, hex text and BCD, CRCs and byte order (serial library), and
// triple DES, MAC and check digits (card library) with the DES service.
// Every output sits in a guarded buffer of exactly its documented size, every
// input in an exact heap block, and every value is checked against an
// independent computation (OpenSSL for the ciphers).
#define OPENSSL_SUPPRESS_DEPRECATED
#include <fuzzer/FuzzedDataProvider.h>
#include <openssl/des.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ciphon.h"
#include "frame_checks.h"
#include "guarded_buffer.h"
#include "orvel.h"
#include "tarvex.h"

namespace {

using fuzz_checks::GuardedBuffer;
using fuzz_checks::require;
using Block = std::array<std::uint8_t, 8>;

constexpr char kUpperDigits[] = "0123456789ABCDEF";

int nibble(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return c & 0x0F;
}

std::vector<char> upper_hex_text(FuzzedDataProvider& in, std::size_t count) {
    std::vector<char> text(count);
    for (auto& c : text) c = kUpperDigits[in.ConsumeIntegral<std::uint8_t>() & 0x0F];
    return text;
}

std::vector<std::uint8_t> decode(const char* text, std::size_t count) {
    std::vector<std::uint8_t> out((count + 1) / 2);
    for (std::size_t i = 0; i < count; ++i)
        out[i / 2] = static_cast<std::uint8_t>(out[i / 2] | nibble(text[i]) << (i % 2 ? 0 : 4));
    return out;
}

bool is_hex_of(const unsigned char* text, std::span<const std::uint8_t> bytes) {
    for (std::size_t i = 0; i < bytes.size(); ++i)
        if (text[2 * i] != kUpperDigits[bytes[i] >> 4] || text[2 * i + 1] != kUpperDigits[bytes[i] & 0x0F])
            return false;
    return true;
}

DES_key_schedule schedule(const Block& key) {
    DES_cblock k;
    std::copy(key.begin(), key.end(), k);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    return ks;
}

Block ede_encrypt(const Block& x, const Block& k1, const Block& k2) {
    DES_key_schedule s1 = schedule(k1), s2 = schedule(k2);
    DES_cblock in, out;
    std::copy(x.begin(), x.end(), in);
    DES_ecb3_encrypt(&in, &out, &s1, &s2, &s1, DES_ENCRYPT);
    Block r;
    std::copy(out, out + 8, r.begin());
    return r;
}

Block to_block(std::span<const std::uint8_t> bytes) {
    Block b{};
    std::copy_n(bytes.begin(), 8, b.begin());
    return b;
}

// 16 hex characters and a NUL, as keys and blocks travel as text.
std::vector<char> block_text(const Block& b) {
    std::vector<char> text(17);
    for (std::size_t i = 0; i < 8; ++i) {
        text[2 * i] = kUpperDigits[b[i] >> 4];
        text[2 * i + 1] = kUpperDigits[b[i] & 0x0F];
    }
    return text;
}

std::uint32_t reference_crc32(std::span<const std::uint8_t> data) {
    std::uint32_t crc = 0;
    for (std::uint8_t b : data) {
        crc ^= b;
        for (int i = 0; i < 8; ++i) crc = crc & 1 ? (crc >> 1) ^ 0xEDB88320u : crc >> 1;
    }
    return crc;
}

void fill_bytes(FuzzedDataProvider& in, unsigned char* p, std::size_t n) {
    for (std::size_t i = 0; i < n; ++i) p[i] = in.ConsumeIntegral<std::uint8_t>();
}

void check_block_characters(FuzzedDataProvider& in, bool two_bytes) {
    const int count = in.ConsumeIntegralInRange<int>(-4, 300);
    const std::size_t n = static_cast<std::size_t>(std::max(count, 0));
    GuardedBuffer block(n + (two_bytes ? 3 : 2));
    fill_bytes(in, block.data(), n);
    std::uint8_t x = 0, sum = 0;
    for (std::size_t i = 0; i < n; ++i) {
        x ^= block[i];
        sum = static_cast<std::uint8_t>(sum + block[i]);
    }
    if (two_bytes) {
        Make_2Byte_BCC(block.data(), count);
        require(block[n] == x && block[n + 1] == sum && block[n + 2] == 0, "Make_2Byte_BCC value");
        if (count >= 0) require(Check_2Byte_BCC(block.data(), count), "Check_2Byte_BCC after Make");
    } else {
        Make_1Byte_BCC(block.data(), count);
        require(block[n] == x && block[n + 1] == 0, "Make_1Byte_BCC value");
        if (count >= 0) require(Check_1Byte_BCC(block.data(), count), "Check_1Byte_BCC after Make");
    }
    require(block.guards_intact(), "check characters written outside count + 2/3");
}

void check_hex_text(FuzzedDataProvider& in) {
    const int count = in.ConsumeIntegralInRange<int>(-300, 400);
    const std::size_t n = static_cast<std::size_t>(std::clamp(count, 0, 127));
    std::vector<std::uint8_t> src(n);
    fill_bytes(in, src.data(), n);
    GuardedBuffer dst(2 * n + 1);
    Ascii_To_HexStr(dst.chars(), src.data(), count);
    require(is_hex_of(dst.data(), src) && dst[2 * n] == 0, "Ascii_To_HexStr value");
    require(dst.guards_intact(), "Ascii_To_HexStr wrote outside 2*count + 1");

    GuardedBuffer plain(2 * n);
    Bcd_To_Ascii(plain.chars(), src.data(), static_cast<int>(n));
    require(is_hex_of(plain.data(), src), "Bcd_To_Ascii value");
    require(plain.guards_intact(), "Bcd_To_Ascii wrote outside 2*count");
}

void check_hex_decoding(FuzzedDataProvider& in, bool terminated) {
    const int count = in.ConsumeIntegralInRange<int>(-300, 600);
    const std::size_t n = static_cast<std::size_t>(std::clamp(count, 0, 256));
    std::vector<char> src(n);
    for (auto& c : src) c = static_cast<char>(in.ConsumeIntegral<std::uint8_t>());
    const auto expected = decode(src.data(), n);
    // Characters other than hex digits are outside the contract: only the
    // extent is checked for them.
    const bool all_digits = std::all_of(src.begin(), src.end(), [](char c) {
        return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
    });
    GuardedBuffer dst(expected.size() + (terminated ? 1 : 0));
    if (terminated) {
        HexStr_To_Ascii(dst.data(), src.data(), count);
        require(dst[expected.size()] == 0, "HexStr_To_Ascii zero byte");
    } else {
        Ascii_To_Bcd(dst.data(), src.data(), count);
    }
    if (all_digits) require(std::equal(expected.begin(), expected.end(), dst.data()), "hex decoding value");
    require(dst.guards_intact(), "hex decoding wrote outside its extent");
}

void check_crcs(FuzzedDataProvider& in) {
    static const bool tables_filled = (make_crc_table(), make_crc32_table(), true);
    (void)tables_filled;
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 2000);
    std::vector<std::uint8_t> data(n);
    fill_bytes(in, data.data(), n);

    GuardedBuffer crc16(n + 2);
    std::copy(data.begin(), data.end(), crc16.data());
    Make_CRC(crc16.data(), static_cast<int>(n));
    require(crc16[n] >= 0x20 && crc16[n + 1] >= 0x20, "CRC-16 bytes not raised");
    require(Check_CRC(crc16.data(), static_cast<int>(n)), "Check_CRC after Make_CRC");
    require(crc16.guards_intact(), "Make_CRC wrote outside count + 2");

    GuardedBuffer crc32(n + 4);
    std::copy(data.begin(), data.end(), crc32.data());
    Make_CRC32(crc32.data(), static_cast<std::uint32_t>(n));
    const std::uint32_t reg = reference_crc32(data);
    require(crc32[n] == (reg >> 24 & 0xFF) && crc32[n + 1] == (reg >> 16 & 0xFF) &&
                crc32[n + 2] == (reg >> 8 & 0xFF) && crc32[n + 3] == (reg & 0xFF),
            "Make_CRC32 value");
    require(Check_CRC32(crc32.data(), static_cast<std::uint32_t>(n)), "Check_CRC32 after Make_CRC32");
    require(crc32.guards_intact(), "Make_CRC32 wrote outside count + 4");

    GuardedBuffer bin(n + 4);
    std::copy(data.begin(), data.end(), bin.data());
    Make_CRC32Bin(bin.data(), static_cast<std::uint32_t>(n));
    require(Check_CRC32Bin(bin.data(), static_cast<std::uint32_t>(n)), "Check_CRC32Bin after Make_CRC32Bin");
    require(bin.guards_intact(), "Make_CRC32Bin wrote outside count + 4");
}

void check_byte_order(FuzzedDataProvider& in) {
    const std::uint32_t value = in.ConsumeIntegral<std::uint32_t>();
    GuardedBuffer lsb(5), msb(4);
    Long_To_ByteLSBMSB(value, lsb.data());
    Long_To_ByteMSBLSB(value, msb.data());
    require(lsb[4] == 0 && lsb[0] == (value & 0xFF) && msb[0] == value >> 24, "byte order");
    require(Byte_To_LongLSBMSB(lsb.data()) == value && Byte_To_LongMSBLSB(msb.data()) == value,
            "byte order round trip");
    require(lsb.guards_intact() && msb.guards_intact(), "byte order wrote outside 5/4 bytes");
}

void check_mac(FuzzedDataProvider& in) {
    const std::size_t n = in.ConsumeIntegralInRange<std::size_t>(0, 600);
    std::vector<char> text = upper_hex_text(in, n);
    text.push_back('\0');
    std::vector<std::uint8_t> key_a(8), key_b(8);
    fill_bytes(in, key_a.data(), 8);
    fill_bytes(in, key_b.data(), 8);
    GuardedBuffer mac(16);
    MakeMac(text.data(), mac.chars(), key_a.data(), key_b.data());
    require(mac.guards_intact(), "MakeMac wrote outside 16 characters");
    if (n % 2 != 0) return;
    const auto message = decode(text.data(), n);
    Block chain{};
    for (std::size_t at = 0; at < message.size(); at += 8) {
        for (std::size_t i = 0; i < 8 && at + i < message.size(); ++i) chain[i] ^= message[at + i];
        chain = ede_encrypt(chain, to_block(key_a), to_block(key_b));
    }
    require(is_hex_of(mac.data(), chain), "MakeMac value");
}

void check_digits(FuzzedDataProvider& in) {
    const auto first = upper_hex_text(in, 16), second = upper_hex_text(in, 16);
    GuardedBuffer out(16);
    ExOr(first.data(), out.chars(), second.data());
    for (std::size_t i = 0; i < 16; ++i)
        require(out[i] == kUpperDigits[nibble(first[i]) ^ nibble(second[i])], "ExOr value");
    require(out.guards_intact(), "ExOr wrote outside 16 characters");

    const int count = 2 * in.ConsumeIntegralInRange<int>(0, 300);
    GuardedBuffer lrc(static_cast<std::size_t>(count) + 3);
    const auto text = upper_hex_text(in, static_cast<std::size_t>(count));
    std::copy(text.begin(), text.end(), lrc.chars());
    MakeLrc(lrc.chars(), count);
    std::uint8_t x = 0;
    for (std::uint8_t b : decode(text.data(), text.size())) x ^= b;
    const std::array<std::uint8_t, 1> lrc_byte{x};
    require(is_hex_of(lrc.data() + count, lrc_byte) && lrc[static_cast<std::size_t>(count) + 2] == 0,
            "MakeLrc value");
    require(lrc.guards_intact(), "MakeLrc wrote outside count + 3");

    const auto sum_text = upper_hex_text(in, 22);
    GuardedBuffer sum(4);
    GetSum(sum_text.data(), sum.chars());
    std::uint8_t s = 0;
    for (std::uint8_t b : decode(sum_text.data(), 22)) s ^= b;
    const std::array<std::uint8_t, 1> sum_byte{static_cast<std::uint8_t>(~s)};
    require(is_hex_of(sum.data(), sum_byte) && sum[2] == 0 && sum[3] == 0, "GetSum value");
    require(sum.guards_intact(), "GetSum wrote outside 4 bytes");
}

void check_ciphers(FuzzedDataProvider& in) {
    Block x{}, k1{}, k2{};
    fill_bytes(in, x.data(), 8);
    fill_bytes(in, k1.data(), 8);
    fill_bytes(in, k2.data(), 8);
    auto input = block_text(x);
    input.pop_back();  // only the first 16 characters are read: no NUL given
    const auto key1 = block_text(k1), key2 = block_text(k2);

    GuardedBuffer enc(17), tem(17), dec(17);
    Triple_DES_Encryption(input.data(), enc.chars(), key1.data(), key2.data());
    require(is_hex_of(enc.data(), ede_encrypt(x, k1, k2)) && enc[16] == 0, "Triple_DES_Encryption value");
    MakeTemSysKey(input.data(), key1.data(), key2.data(), tem.chars());
    require(std::memcmp(enc.data(), tem.data(), 17) == 0, "MakeTemSysKey differs from Triple_DES_Encryption");
    std::vector<char> enc_text(enc.chars(), enc.chars() + 16);
    Triple_DES_Decryption(enc_text.data(), dec.chars(), key2.data(), key1.data());
    require(is_hex_of(dec.data(), x), "Triple_DES_Decryption does not undo the encryption");
    require(enc.guards_intact() && tem.guards_intact() && dec.guards_intact(), "triple DES wrote outside 17");

    auto key_text = block_text(k1);
    key_text.pop_back();
    GuardedBuffer single(17), back(17);
    DESencrypt(input.data(), single.chars(), key_text.data());
    DES_key_schedule ks = schedule(k1);
    DES_cblock in_block, out_block;
    std::copy(x.begin(), x.end(), in_block);
    DES_ecb_encrypt(&in_block, &out_block, &ks, DES_ENCRYPT);
    require(is_hex_of(single.data(), to_block(std::span(out_block, 8))), "DESencrypt value");
    std::vector<char> single_text(single.chars(), single.chars() + 16);
    DESdecrypt(single_text.data(), back.chars(), key_text.data());
    require(is_hex_of(back.data(), x), "DESdecrypt does not undo DESencrypt");
    require(single.guards_intact() && back.guards_intact(), "DES service wrote outside 17");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    FuzzedDataProvider in(data, size);
    switch (in.ConsumeIntegralInRange<int>(0, 9)) {
        case 0: check_block_characters(in, false); break;
        case 1: check_block_characters(in, true); break;
        case 2: check_hex_text(in); break;
        case 3: check_hex_decoding(in, true); break;
        case 4: check_hex_decoding(in, false); break;
        case 5: check_crcs(in); break;
        case 6: check_byte_order(in); break;
        case 7: check_mac(in); break;
        case 8: check_digits(in); break;
        case 9: check_ciphers(in); break;
    }
    return 0;
}
