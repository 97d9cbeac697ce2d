// The card's system key (single DES of its serial number under a master key)
// and the key change that writes it into the card as two enciphered records.
#include <algorithm>
#include <array>
#include <cstdint>
#include <span>

#include "block_ciphers.h"
#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"
#include "secure_wipe.h"

namespace orvel {

namespace {

// OrvelGetInfo's serial-number read: CLA 0x80, P1 0x02, P2 0xA1 gives 8 bytes.
constexpr std::uint8_t kSerialInfoCla = protocol::kClaProprietary;
constexpr std::uint8_t kSerialInfoP1 = 0x02;
constexpr std::uint8_t kSerialInfoP2 = 0xA1;

// The key records go out with UPDATE BINARY under CLA 0x04, first to P1 0x81
// P2 0x00, then to P1 0x00 P2 0x03.
constexpr std::uint8_t kKeyWriteCla = protocol::kClaSecureMessaging;
struct KeyRecordTarget {
    std::uint8_t p1;
    std::uint8_t p2;
};
constexpr KeyRecordTarget kFirstKeyRecord{0x81, 0x00};
constexpr KeyRecordTarget kSecondKeyRecord{0x00, 0x03};

// Key record layout: three zero bytes, the check byte, the key, P1, P2 and
// the 16-bit sum of bytes 0..13, high byte first.
constexpr std::size_t kKeyRecordBytes = 16;
constexpr std::size_t kRecordCheckByte = 3;
constexpr std::size_t kRecordKey = 4;
constexpr std::size_t kRecordP1 = 12;
constexpr std::size_t kRecordP2 = 13;
constexpr std::size_t kRecordSumHigh = 14;
constexpr std::size_t kRecordSumLow = 15;

constexpr std::size_t kSerialBytes = 8;
using InfoBuffer = std::array<std::uint8_t, kSerialBytes + 1>;  // OrvelGetInfo adds a 0x00
using KeyRecord = std::array<std::uint8_t, kKeyRecordBytes>;
using DerivedKey = std::array<std::uint8_t, 9>;  // as OrvelAuth writes it: 8 bytes and 0x00

bool read_serial_number(int port, InfoBuffer& serial) {
    return OrvelGetInfo(port, kSerialInfoCla, kSerialInfoP1, kSerialInfoP2, serial.data()) == 0;
}

void derive_system_key(const InfoBuffer& serial, BlockIn master_key, BlockOut system_key) {
    des_encrypt_block(BlockIn(serial.data(), kSerialBytes), master_key, system_key);
}

void build_key_record(BlockIn system_key, KeyRecordTarget target, KeyRecord& record) {
    record.fill(0);
    record[kRecordCheckByte] = key_check_byte(system_key);
    std::copy(system_key.begin(), system_key.end(), record.begin() + kRecordKey);
    record[kRecordP1] = target.p1;
    record[kRecordP2] = target.p2;
    unsigned sum = 0;  // at most 14 * 255: never wraps
    for (std::size_t i = 0; i < kRecordSumHigh; ++i) sum += record[i];
    record[kRecordSumHigh] = static_cast<std::uint8_t>(sum >> 8);
    record[kRecordSumLow] = static_cast<std::uint8_t>(sum & 0xFF);
}

// Each half separately, without chaining, through the decrypt-encrypt-decrypt
// helper with the derived keys in the order of the authentication's check.
void encipher_key_record(const KeyRecord& record, const DerivedKey& derived1,
                         const DerivedKey& derived2, KeyRecord& enciphered) {
    const BlockIn key1(derived1.data(), 8);
    const BlockIn key2(derived2.data(), 8);
    for (std::size_t half = 0; half < kKeyRecordBytes; half += 8) {
        triple_des_decrypt_block(BlockIn(record.data() + half, 8), key1, key2,
                                 BlockOut(enciphered.data() + half, 8));
    }
}

// Derives the system key afresh, builds the record for target, enciphers it
// and writes it. True when the write was accepted.
bool write_key_record(int port, const InfoBuffer& serial, BlockIn master_key,
                      const DerivedKey& derived1, const DerivedKey& derived2,
                      KeyRecordTarget target) {
    Wiped<Block8> system_key;
    Wiped<KeyRecord> record, enciphered;
    derive_system_key(serial, master_key, system_key.value);
    build_key_record(system_key.value, target, record.value);
    encipher_key_record(record.value, derived1, derived2, enciphered.value);
    return OrvelWriteEFKey(port, kKeyWriteCla, target.p1, target.p2, enciphered.value.data()) == 0;
}

}  // namespace

}  // namespace orvel

using orvel::BlockIn;

extern "C" ORVEL_API int OrvelMakeSysKey(int port, const unsigned char* masterKey,
                                         unsigned char* sysKey1, unsigned char* sysKey2,
                                         unsigned char* serial) {
    if (!orvel::power_up_with_one_retry(port)) {
        orvel::power_off(port);
        return 1;
    }
    orvel::InfoBuffer serial_number{};
    if (!orvel::read_serial_number(port, serial_number)) {
        orvel::power_off(port);
        return 2;
    }
    const BlockIn master(masterKey, 8);
    // Both outputs are computed one after the other from the same serial
    // number under the same key, so they always carry the same bytes.
    for (unsigned char* out : {sysKey1, sysKey2}) {
        orvel::Wiped<orvel::Block8> system_key;
        orvel::derive_system_key(serial_number, master, system_key.value);
        std::copy(system_key.value.begin(), system_key.value.end(), out);
        out[8] = 0;
    }
    std::copy(serial_number.begin(), serial_number.end(), serial);  // 8 bytes and the 0x00
    orvel::power_off(port);
    return 0;
}

extern "C" ORVEL_API int OrvelChangeKey(int port, const unsigned char* keyA,
                                        const unsigned char* keyB,
                                        const unsigned char* masterKey) {
    if (!orvel::power_up_with_one_retry(port)) return 1;
    orvel::InfoBuffer serial_number{};
    if (!orvel::read_serial_number(port, serial_number)) {
        orvel::power_off(port);
        return 2;
    }
    // The authentication runs on whatever file is current after power-up and
    // the serial-number read; a failure leaves the card powered.
    orvel::Wiped<orvel::DerivedKey> derived1, derived2;
    if (OrvelAuth(port, keyA, keyB, derived1.value.data(), derived2.value.data()) != 0) return 2;
    const BlockIn master(masterKey, 8);
    // OrvelWriteEFKey powers the card off itself when a write fails.
    if (!orvel::write_key_record(port, serial_number, master, derived1.value, derived2.value,
                                 orvel::kFirstKeyRecord)) {
        return 3;
    }
    if (!orvel::write_key_record(port, serial_number, master, derived1.value, derived2.value,
                                 orvel::kSecondKeyRecord)) {
        return 4;
    }
    orvel::power_off(port);
    return 0;
}
