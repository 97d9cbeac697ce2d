// The default card: a small tree under the application directory 0x3F01.
#include "sim/card_state.h"

namespace sim {

namespace {

CardFile make_file(std::uint16_t id, FileKind kind, std::uint16_t parent, std::uint8_t short_id = 0) {
    CardFile file;
    file.id = id;
    file.kind = kind;
    file.parent = parent;
    file.short_id = short_id;
    return file;
}

Bytes counting(std::size_t size, std::uint8_t first) {
    Bytes bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(first + i);
    return bytes;
}

}  // namespace

CardState default_card() {
    CardState card;
    card.serial = {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE};
    card.info[0xA0] = {0x49, 0x53, 0x53, 0x55, 0x45, 0x52, 0x30, 0x31};  // issuer "ISSUER01"
    card.info[0xA2] = {0xA0, 0x00, 0x00, 0x00, 0x77, 0x01, 0x00, 0x01};  // application id
    card.info[0xA3] = {0x20, 0x30, 0x12, 0x31};                          // expiry, BCD
    card.info[0xA4] = counting(13, 0x51);                                // holder data
    card.info[0x06] = {0x01, 0x02};                                      // card version
    card.auth_key_a = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    card.auth_key_b = {0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17, 0x18};
    card.mac_key_a = {0x21, 0x22, 0x23, 0x24, 0x25, 0x26, 0x27, 0x28};
    card.mac_key_b = {0x31, 0x32, 0x33, 0x34, 0x35, 0x36, 0x37, 0x38};
    card.code_key = {0x41, 0x42, 0x43, 0x44, 0x45, 0x46, 0x47, 0x48};
    card.balance = 1000;
    card.answer_to_reset = {0x3B, 0x04, 0x53, 0x49, 0x4D, 0x31};  // direct convention, 4 historical bytes

    card.files[kFileMaster] = make_file(kFileMaster, FileKind::dedicated, 0);
    card.files[kFileApplication] = make_file(kFileApplication, FileKind::dedicated, kFileMaster);

    CardFile keys = make_file(kFileKeys, FileKind::key, kFileApplication, 1);
    keys.contents.assign(32, 0x00);  // two deciphered key records
    card.files[kFileKeys] = keys;

    CardFile records = make_file(kFileRecords, FileKind::records, kFileApplication, 2);
    for (std::uint8_t r = 1; r <= 4; ++r) records.records.push_back(counting(8, static_cast<std::uint8_t>(r << 4)));
    records.read_needs_code = true;
    card.files[kFileRecords] = records;

    CardFile card_data = make_file(kFileCardData, FileKind::binary, kFileApplication, 3);
    card_data.contents = {0xC0, 0xDE, 0x00, 0x01, 0x02, 0x03, 0x04, 0x05,
                          0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D};
    card.files[kFileCardData] = card_data;

    CardFile data = make_file(kFileData, FileKind::binary, kFileApplication, 4);
    data.contents.assign(64, 0x00);
    card.files[kFileData] = data;

    CardFile purse_value = make_file(kFilePurseValue, FileKind::purse_value, kFileApplication, 5);
    purse_value.contents.assign(20, 0x00);
    purse_value.contents[11] = 0xFF;  // check bytes of zero values
    purse_value.contents[15] = 0xFF;
    card.files[kFilePurseValue] = purse_value;

    card.files[kFilePurse] = make_file(kFilePurse, FileKind::purse, kFileApplication, 6);
    return card;
}

}  // namespace sim
