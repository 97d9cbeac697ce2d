// The card model: an ISO 7816-4 style command set over a small file tree,
// a purse, the key-file selection and the key change.
#include "sim/card.h"

#include <algorithm>

#include "sim/crypto.h"

namespace sim {

namespace {

constexpr std::uint8_t kInsGetResponse = 0xC0;  // also the information blocks (P1 P2 not 00 00)
constexpr std::uint8_t kInsSelect = 0xA4;
constexpr std::uint8_t kInsReadBinary = 0xB0;
constexpr std::uint8_t kInsReadRecord = 0xB2;
constexpr std::uint8_t kInsUpdateBinary = 0xD6;
constexpr std::uint8_t kInsWriteBinary = 0xD0;
constexpr std::uint8_t kInsCreateFile = 0xE0;
constexpr std::uint8_t kInsSelectKeyFile = 0x28;
constexpr std::uint8_t kInsVerify = 0x20;
constexpr std::uint8_t kInsSelectPurseKey = 0x30;
constexpr std::uint8_t kInsReadBalance = 0x32;
constexpr std::uint8_t kInsDebit = 0x34;
constexpr std::uint8_t kInsCredit = 0x36;
constexpr std::uint8_t kInsSetStatus = 0xD8;
constexpr std::uint8_t kInsSwitchOrder = 0x14;

constexpr std::uint8_t kClaPlain = 0x00;
constexpr std::uint8_t kClaProtected = 0x04;
constexpr std::uint8_t kClaProprietary = 0x80;

constexpr std::uint8_t kInfoSerialNumber = 0xA1;
constexpr std::uint8_t kInfoP1 = 0x02;

constexpr std::uint8_t kShortIdFlag = 0x80;
constexpr std::uint8_t kShortIdMask = 0x1F;
constexpr std::size_t kHeaderBytes = 5;        // CLA INS P1 P2 P3
constexpr std::size_t kMacBytes = 3;           // MAC bytes a command carries / the card answers
constexpr std::size_t kMaxResponseData = 121;  // what a reply frame can carry
constexpr std::size_t kCreateFixedBytes = 12;
constexpr std::size_t kMaxCreatedSize = 1024;
constexpr std::size_t kKeyRecordBytes = 16;
constexpr std::size_t kPurseValueBytes = 20;
constexpr std::size_t kDebitApduBytes = 10;    // CLA INS P1, 3 amount bytes, 4 data bytes

// P1 P2 of the two key-record writes of a key change, and the key-file slot each fills.
struct KeyRecordSlot {
    std::uint8_t p1;
    std::uint8_t p2;
};
constexpr KeyRecordSlot kKeyRecordSlots[2] = {{0x81, 0x00}, {0x00, 0x03}};

// File kinds as the selection answer spells them.
std::uint8_t kind_code(FileKind kind) {
    switch (kind) {
        case FileKind::dedicated: return 0x38;
        case FileKind::binary: return 0x01;
        case FileKind::records: return 0x02;
        case FileKind::key: return 0x03;
        case FileKind::purse_value: return 0x04;
        case FileKind::purse: return 0x05;
    }
    return 0x00;
}

struct Apdu {
    std::span<const std::uint8_t> bytes;
    std::uint8_t cla() const { return bytes[0]; }
    std::uint8_t ins() const { return bytes[1]; }
    std::uint8_t p1() const { return bytes[2]; }
    std::uint8_t p2() const { return bytes[3]; }
    std::uint8_t p3() const { return bytes[4]; }
    std::span<const std::uint8_t> data() const { return bytes.subspan(kHeaderBytes); }
    // P3 counts the data bytes that came with the command.
    bool lc_matches() const { return data().size() == p3(); }
};

CardResponse status(std::uint16_t sw) { return CardResponse{{}, sw}; }

std::uint32_t read_be24(std::span<const std::uint8_t> b) {
    return static_cast<std::uint32_t>(b[0]) << 16 | static_cast<std::uint32_t>(b[1]) << 8 | b[2];
}

void append_be24(Bytes& out, std::uint32_t value) {
    out.push_back(static_cast<std::uint8_t>(value >> 16));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
    out.push_back(static_cast<std::uint8_t>(value));
}

Block8 first_block(std::span<const std::uint8_t> bytes) {
    Block8 block{};
    std::copy_n(bytes.begin(), std::min<std::size_t>(8, bytes.size()), block.begin());
    return block;
}

}  // namespace

Bytes CardResponse::bytes() const {
    Bytes out = data;
    out.push_back(sw1());
    out.push_back(sw2());
    return out;
}

Card::Card(CardState initial, std::uint64_t random_seed) : state_(std::move(initial)), random_(random_seed) {}

namespace {

void clear_volatile(CardState& s) {
    s.current_df = kFileApplication;
    s.current_ef.reset();
    if (auto it = s.files.find(kFileCardData); it != s.files.end()) s.current_ef = kFileCardData;
    s.session_open = false;
    s.session_key1 = {};
    s.session_key2 = {};
    s.code_verified = false;
    s.pending_response.clear();
    s.pending_cla = 0x00;
    s.pending_is_mac = false;
}

}  // namespace

Bytes Card::power_up() {
    clear_volatile(state_);
    state_.powered = true;
    return state_.answer_to_reset;
}

void Card::power_down() {
    clear_volatile(state_);
    state_.powered = false;
}

CardResponse Card::exchange(std::span<const std::uint8_t> apdu) {
    CardResponse response = dispatch(apdu);
    spoil_mac_ = false;  // the fault belongs to this exchange only
    return response;
}

CardResponse Card::dispatch(std::span<const std::uint8_t> bytes) {
    if (!state_.powered) return status(sw::kConditionsNotSatisfied);
    if (bytes.size() < kHeaderBytes) return status(sw::kWrongLength);
    Apdu apdu{bytes};
    const bool is_get_response = apdu.ins() == kInsGetResponse && apdu.p1() == 0 && apdu.p2() == 0;
    if (is_get_response) return get_response(bytes);
    // Any other command drops data that were waiting for GET RESPONSE.
    state_.pending_response.clear();
    state_.pending_is_mac = false;
    switch (apdu.ins()) {
        case kInsGetResponse: return get_info(bytes);
        case kInsSelect: return select_file(bytes);
        case kInsReadBinary: return read_binary(bytes);
        case kInsReadRecord: return read_record(bytes);
        case kInsUpdateBinary:
        case kInsWriteBinary: return write_binary(bytes);
        case kInsCreateFile: return create_file(bytes);
        case kInsSelectKeyFile: return select_key_file(bytes);
        case kInsVerify: return verify(bytes);
        case kInsSelectPurseKey: return select_purse_key(bytes);
        case kInsReadBalance: return read_balance(bytes);
        case kInsDebit: return debit(bytes);
        case kInsCredit: return credit(bytes);
        case kInsSetStatus: return set_status(bytes);
        case kInsSwitchOrder: return simple_order(bytes);
        default: return status(sw::kInsNotSupported);
    }
}

CardResponse Card::hand_out(Bytes data, std::uint8_t cla, bool is_mac) {
    data.resize(std::min(data.size(), kMaxResponseData));
    const auto count = static_cast<std::uint16_t>(data.size());
    state_.pending_response = std::move(data);
    state_.pending_cla = cla;
    state_.pending_is_mac = is_mac;
    return status(static_cast<std::uint16_t>(sw::kBytesAvailable | count));
}

CardResponse Card::hand_out_mac(const Block8& mac) {
    Bytes answer(mac.begin(), mac.begin() + kMacBytes);
    if (spoil_mac_) {
        answer[0] ^= 0x01;
        spoil_mac_ = false;
    }
    return hand_out(std::move(answer), kClaPlain, true);
}

CardResponse Card::get_response(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (bytes.size() != kHeaderBytes) return status(sw::kWrongLength);
    auto& pending = state_.pending_response;
    if (pending.empty()) {
        return apdu.p3() == 0 ? status(sw::kOk) : status(sw::kConditionsNotSatisfied);
    }
    if (apdu.cla() != state_.pending_cla) return status(sw::kClaNotSupported);
    const std::size_t le = apdu.p3() == 0 ? pending.size() : apdu.p3();
    if (le > pending.size()) {
        return status(static_cast<std::uint16_t>(sw::kExactLength | pending.size()));
    }
    CardResponse response{Bytes(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(le)), sw::kOk};
    if (spoil_mac_ && state_.pending_is_mac && !response.data.empty()) {
        response.data[0] ^= 0x01;
        spoil_mac_ = false;
    }
    pending.erase(pending.begin(), pending.begin() + static_cast<std::ptrdiff_t>(le));
    if (!pending.empty()) {
        response.status = static_cast<std::uint16_t>(sw::kBytesAvailable | pending.size());
    } else {
        state_.pending_is_mac = false;
    }
    return response;
}

CardResponse Card::get_info(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (bytes.size() != kHeaderBytes) return status(sw::kWrongLength);
    if (apdu.cla() != kClaProprietary) return status(sw::kClaNotSupported);
    if (apdu.p1() != kInfoP1) return status(sw::kWrongP1P2);
    Bytes block;
    if (apdu.p2() == kInfoSerialNumber) {
        block.assign(state_.serial.begin(), state_.serial.end());
    } else if (auto it = state_.info.find(apdu.p2()); it != state_.info.end()) {
        block = it->second;
    } else {
        return status(sw::kInfoNotFound);
    }
    if (apdu.p3() != block.size()) return status(static_cast<std::uint16_t>(sw::kExactLength | block.size()));
    return CardResponse{std::move(block), sw::kOk};
}

CardFile* Card::find_file(std::uint16_t id) {
    auto it = state_.files.find(id);
    return it == state_.files.end() ? nullptr : &it->second;
}

CardFile* Card::find_by_short_id(std::uint8_t short_id) {
    for (auto& [id, file] : state_.files) {
        if (file.short_id == short_id && file.parent == state_.current_df && file.kind != FileKind::dedicated) {
            return &file;
        }
    }
    return nullptr;
}

CardFile* Card::current_ef() { return state_.current_ef ? find_file(*state_.current_ef) : nullptr; }

Card::BinaryTarget Card::binary_target(std::uint8_t p1, std::uint8_t p2) {
    if (p1 & kShortIdFlag) {
        CardFile* file = find_by_short_id(p1 & kShortIdMask);
        return {file, p2, sw::kFileNotFound};
    }
    return {current_ef(), static_cast<std::size_t>(p1) << 8 | p2, sw::kNoCurrentFile};
}

CardResponse Card::select_file(std::span<const std::uint8_t> bytes) {
    constexpr std::uint8_t kSelectAny = 0x00;
    constexpr std::uint8_t kSelectChild = 0x02;
    Apdu apdu{bytes};
    if (apdu.cla() != kClaPlain) return status(sw::kClaNotSupported);
    if ((apdu.p1() != kSelectAny && apdu.p1() != kSelectChild) || apdu.p2() != 0x00) return status(sw::kWrongP1P2);
    if (!apdu.lc_matches() || apdu.p3() != 2) return status(sw::kWrongLength);
    const auto id = static_cast<std::uint16_t>(apdu.data()[0] << 8 | apdu.data()[1]);
    CardFile* file = find_file(id);
    if (file == nullptr) return status(sw::kFileNotFound);
    if (apdu.p1() == kSelectChild && (file->kind == FileKind::dedicated || file->parent != state_.current_df)) {
        return status(sw::kFileNotFound);
    }
    if (file->kind == FileKind::dedicated) {
        state_.current_df = id;
        state_.current_ef.reset();
    } else {
        state_.current_df = file->parent;
        state_.current_ef = id;
    }
    std::size_t size = file->kind == FileKind::records ? file->records.size() : file->contents.size();
    Bytes fci = {static_cast<std::uint8_t>(id >> 8), static_cast<std::uint8_t>(id),  kind_code(file->kind),
                 static_cast<std::uint8_t>(size >> 8), static_cast<std::uint8_t>(size), file->short_id};
    return hand_out(std::move(fci), kClaPlain);
}


CardResponse Card::read_binary(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.cla() != kClaPlain) return status(sw::kClaNotSupported);
    if (bytes.size() != kHeaderBytes) return status(sw::kWrongLength);
    const BinaryTarget target = binary_target(apdu.p1(), apdu.p2());
    if (target.file == nullptr) return status(target.missing);
    CardFile* file = target.file;
    const std::size_t offset = target.offset;
    if (file->kind != FileKind::binary && file->kind != FileKind::purse_value) return status(sw::kNotAllowedOnFile);
    state_.current_ef = file->id;
    if (file->read_needs_code && !state_.code_verified) return status(sw::kSecurityNotSatisfied);
    if (offset > file->contents.size()) return status(sw::kOffsetOutside);
    const std::size_t remaining = file->contents.size() - offset;
    std::size_t le = apdu.p3();
    if (le == 0) {
        le = std::min(remaining, kMaxResponseData);
    } else if (le > kMaxResponseData) {
        return status(sw::kWrongLength);
    } else if (le > remaining) {
        return remaining == 0 ? status(sw::kOffsetOutside)
                              : status(static_cast<std::uint16_t>(sw::kExactLength | remaining));
    }
    auto begin = file->contents.begin() + static_cast<std::ptrdiff_t>(offset);
    return CardResponse{Bytes(begin, begin + static_cast<std::ptrdiff_t>(le)), sw::kOk};
}

CardResponse Card::read_record(std::span<const std::uint8_t> bytes) {
    constexpr std::uint8_t kMaxShortId = 30;
    Apdu apdu{bytes};
    if (apdu.cla() != kClaPlain) return status(sw::kClaNotSupported);
    if (bytes.size() != kHeaderBytes) return status(sw::kWrongLength);
    // P1 is the record number from 1; P2 names the file by its short
    // identifier, 0 for the current file.
    if (apdu.p1() == 0 || apdu.p2() > kMaxShortId) return status(sw::kWrongP1P2);
    CardFile* file = apdu.p2() == 0 ? current_ef() : find_by_short_id(apdu.p2());
    if (file == nullptr) return status(apdu.p2() == 0 ? sw::kNoCurrentFile : sw::kFileNotFound);
    if (file->kind != FileKind::records) return status(sw::kNotAllowedOnFile);
    state_.current_ef = file->id;
    if (file->read_needs_code && !state_.code_verified) return status(sw::kSecurityNotSatisfied);
    if (apdu.p1() > file->records.size()) return status(sw::kRecordNotFound);
    const Bytes& record = file->records[apdu.p1() - 1u];
    if (apdu.p3() != 0 && apdu.p3() != record.size()) {
        return status(static_cast<std::uint16_t>(sw::kExactLength | record.size()));
    }
    return CardResponse{record, sw::kOk};
}

CardResponse Card::write_binary(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.cla() != kClaPlain && apdu.cla() != kClaProtected) return status(sw::kClaNotSupported);
    if (!apdu.lc_matches()) return status(sw::kWrongLength);
    const BinaryTarget target = binary_target(apdu.p1(), apdu.p2());
    if (target.file == nullptr) return status(target.missing);
    CardFile* file = target.file;
    const std::size_t offset = target.offset;
    state_.current_ef = file->id;
    if (apdu.cla() == kClaProtected) {
        if (file->kind == FileKind::key) return key_record(bytes, *file);
        if (file->kind == FileKind::binary || file->kind == FileKind::purse_value) {
            return protected_write(bytes, *file, offset);
        }
        return status(sw::kNotAllowedOnFile);
    }
    auto data = apdu.data();
    switch (file->kind) {
        case FileKind::key: return status(sw::kSecurityNotSatisfied);
        case FileKind::purse_value:
            if (offset != 0 || data.size() != kPurseValueBytes) return status(sw::kWrongLength);
            if (!purse_value_record_sound(data)) return status(sw::kWrongData);
            break;
        case FileKind::binary:
            if (offset + data.size() > file->contents.size()) return status(sw::kOffsetOutside);
            break;
        default: return status(sw::kNotAllowedOnFile);
    }
    std::copy(data.begin(), data.end(), file->contents.begin() + static_cast<std::ptrdiff_t>(offset));
    return status(sw::kOk);
}

CardResponse Card::protected_write(std::span<const std::uint8_t> bytes, CardFile& file, std::size_t offset) {
    Apdu apdu{bytes};
    auto data = apdu.data();
    if (data.size() < kMacBytes) return status(sw::kWrongLength);
    const std::size_t length = data.size() - kMacBytes;
    // The MAC covers the command as sent, up to the MAC bytes.
    const Block8 mac = crypto::cbc_mac(bytes.first(kHeaderBytes + length), state_.mac_key_a, state_.mac_key_b);
    if (!std::equal(mac.begin() + 5, mac.end(), data.begin() + static_cast<std::ptrdiff_t>(length))) {
        return status(sw::kWrongMac);
    }
    auto payload = data.first(length);
    if (file.kind == FileKind::purse_value) {
        if (offset != 0 || length != kPurseValueBytes) return status(sw::kWrongLength);
        if (!purse_value_record_sound(payload)) return status(sw::kWrongData);
    } else if (offset + length > file.contents.size()) {
        return status(sw::kOffsetOutside);
    }
    std::copy(payload.begin(), payload.end(), file.contents.begin() + static_cast<std::ptrdiff_t>(offset));
    return hand_out_mac(mac);
}

CardResponse Card::key_record(std::span<const std::uint8_t> bytes, CardFile& file) {
    Apdu apdu{bytes};
    if (!state_.session_open) return status(sw::kSecurityNotSatisfied);
    if (apdu.data().size() != kKeyRecordBytes) return status(sw::kWrongLength);
    int slot = -1;
    for (int i = 0; i < 2; ++i) {
        if (apdu.p1() == kKeyRecordSlots[i].p1 && apdu.p2() == kKeyRecordSlots[i].p2) slot = i;
    }
    if (slot < 0) return status(sw::kWrongP1P2);
    auto key = open_key_record(apdu.data().first<kKeyRecordBytes>(), state_.session_key1, state_.session_key2,
                               apdu.p1(), apdu.p2());
    if (!key) return status(sw::kWrongData);
    // Keep the deciphered record in its slot of the key file.
    file.contents.resize(2 * kKeyRecordBytes);
    const Block8 first = crypto::tdes_ede_encrypt(first_block(apdu.data()), state_.session_key2, state_.session_key1);
    const Block8 second =
        crypto::tdes_ede_encrypt(first_block(apdu.data().subspan(8)), state_.session_key2, state_.session_key1);
    auto at = file.contents.begin() + slot * static_cast<std::ptrdiff_t>(kKeyRecordBytes);
    std::copy(first.begin(), first.end(), at);
    std::copy(second.begin(), second.end(), at + 8);
    state_.system_key = key;
    state_.key_record_stored[static_cast<std::size_t>(slot)] = true;
    // Once both records carry the same key, it becomes the card's
    // authentication key (both halves).
    if (state_.key_record_stored[0] && state_.key_record_stored[1] &&
        std::equal(file.contents.begin() + 4, file.contents.begin() + 12, file.contents.begin() + 20)) {
        state_.auth_key_a = *key;
        state_.auth_key_b = *key;
        state_.key_record_stored = {false, false};
    }
    return status(sw::kOk);
}

CardResponse Card::create_file(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.p2() != 0x00) return status(sw::kWrongP1P2);
    if (!apdu.lc_matches() || apdu.data().size() < kCreateFixedBytes + kMacBytes) return status(sw::kWrongLength);
    auto data = apdu.data();
    const std::size_t covered = data.size() - kMacBytes;
    const Block8 mac = crypto::cbc_mac(bytes.first(kHeaderBytes + covered), state_.mac_key_a, state_.mac_key_b);
    if (!std::equal(mac.begin() + 5, mac.end(), data.begin() + static_cast<std::ptrdiff_t>(covered))) {
        return status(sw::kWrongMac);
    }
    const auto id = static_cast<std::uint16_t>(data[0] << 8 | data[1]);
    const std::size_t size = static_cast<std::size_t>(data[4]) << 8 | data[5];
    auto initial = data.subspan(kCreateFixedBytes, covered - kCreateFixedBytes);
    if (id == 0x0000 || id == 0xFFFF || id == kFileMaster) return status(sw::kWrongData);
    if (state_.files.contains(id)) return status(sw::kFileExists);
    if (size > kMaxCreatedSize) return status(sw::kNoSpace);
    if (initial.size() > size) return status(sw::kWrongLength);
    CardFile file;
    file.id = id;
    file.kind = FileKind::binary;
    file.parent = state_.current_df;
    file.contents.assign(size, 0x00);
    std::copy(initial.begin(), initial.end(), file.contents.begin());
    state_.files[id] = std::move(file);
    state_.current_ef = id;
    return hand_out_mac(mac);
}

CardResponse Card::select_key_file(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.cla() != kClaProprietary) return status(sw::kClaNotSupported);
    if (apdu.p1() != 0x00 || apdu.p2() != 0x01) return status(sw::kWrongP1P2);
    if (!apdu.lc_matches() || apdu.p3() != 8) return status(sw::kWrongLength);
    CardFile* key_file = nullptr;
    for (auto& [id, file] : state_.files) {
        if (file.kind == FileKind::key && file.parent == state_.current_df) key_file = &file;
    }
    if (key_file == nullptr) return status(sw::kFileNotFound);
    Block8 card_random;
    const std::uint64_t draw = random_();
    for (std::size_t i = 0; i < 8; ++i) card_random[i] = static_cast<std::uint8_t>(draw >> (8 * i));
    const Block8 challenge = first_block(apdu.data());
    const KeyFileAnswer answer =
        answer_key_file_selection(card_random, challenge, state_.auth_key_a, state_.auth_key_b);
    state_.current_ef = key_file->id;
    state_.session_open = true;
    state_.session_key1 = answer.derived_key1;
    state_.session_key2 = answer.derived_key2;
    state_.last_card_random = card_random;
    state_.last_challenge = challenge;
    Bytes reply(answer.cryptogram.begin(), answer.cryptogram.end());
    reply.insert(reply.end(), card_random.begin(), card_random.end());
    return hand_out(std::move(reply), kClaProprietary);
}

CardResponse Card::verify(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.p1() != 0x00 || apdu.p2() != 0x00) return status(sw::kWrongP1P2);
    if (!apdu.lc_matches() || apdu.p3() != 8) return status(sw::kWrongLength);
    CardFile* card_data = find_file(kFileCardData);
    if (card_data == nullptr || card_data->contents.size() < 8) return status(sw::kFileNotFound);
    const Block8 expected = crypto::des_encrypt(first_block(card_data->contents), state_.code_key);
    state_.code_verified = std::equal(expected.begin(), expected.end(), apdu.data().begin());
    return status(state_.code_verified ? sw::kOk : sw::kWrongPinBase);
}

CardResponse Card::select_purse_key(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (!apdu.lc_matches() || apdu.p3() != 10) return status(sw::kWrongLength);
    Bytes reply;
    const std::uint32_t counter = state_.transaction_counter;
    for (int shift = 24; shift >= 0; shift -= 8) reply.push_back(static_cast<std::uint8_t>(counter >> shift));
    reply.push_back(apdu.p2() & 0x0F);
    append_be24(reply, state_.balance);
    return hand_out(std::move(reply), kClaPlain);
}

CardResponse Card::read_balance(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.p1() != 0x00) return status(sw::kWrongP1P2);
    if (!apdu.lc_matches() || apdu.p3() != 4) return status(sw::kWrongLength);
    Bytes reply{static_cast<std::uint8_t>(apdu.p2() & 0x0F)};
    append_be24(reply, state_.balance);
    return hand_out(std::move(reply), kClaPlain);
}

CardResponse Card::debit(std::span<const std::uint8_t> bytes) {
    // CLA INS P1, then the amount MSB first where P2 P3 would stand, then 4 data bytes.
    if (bytes.size() != kDebitApduBytes) return status(sw::kWrongLength);
    const std::uint32_t amount = read_be24(bytes.subspan(3, 3));
    if (amount > state_.balance) return status(sw::kInsufficientFunds);
    state_.balance -= amount;
    ++state_.transaction_counter;
    Bytes reply;
    append_be24(reply, state_.balance);
    reply.push_back(static_cast<std::uint8_t>(state_.transaction_counter));
    return hand_out(std::move(reply), kClaPlain);
}

CardResponse Card::credit(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (!apdu.lc_matches() || apdu.p3() != 12) return status(sw::kWrongLength);
    const std::uint32_t amount = read_be24(apdu.data().subspan(1, 3));
    if (amount > kMaxBalance - state_.balance) return status(sw::kBalanceOverflow);
    state_.balance += amount;
    ++state_.transaction_counter;
    return status(sw::kOk);
}

CardResponse Card::set_status(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.cla() != kClaProprietary) return status(sw::kClaNotSupported);
    if (apdu.p1() != 0xFF || apdu.p2() != 0xFF) return status(sw::kWrongP1P2);
    if (!apdu.lc_matches() || apdu.p3() != 8) return status(sw::kWrongLength);
    state_.status_block.assign(apdu.data().begin(), apdu.data().end());
    return hand_out(state_.status_block, kClaPlain);
}

CardResponse Card::simple_order(std::span<const std::uint8_t> bytes) {
    Apdu apdu{bytes};
    if (apdu.cla() != kClaProprietary) return status(sw::kClaNotSupported);
    if (bytes.size() != kHeaderBytes || apdu.p3() != 0) return status(sw::kWrongLength);
    return hand_out({apdu.p1(), apdu.p2()}, kClaPlain);
}

std::optional<Key8> open_key_record(std::span<const std::uint8_t, 16> enciphered, const Key8& session_key1,
                                    const Key8& session_key2, std::uint8_t p1, std::uint8_t p2) {
    // The writer enciphered each half as D(k2, E(k1, D(k2, x))); undo it
    // with E(k2, D(k1, E(k2, y))).
    std::array<std::uint8_t, 16> record;
    for (std::size_t half = 0; half < 2; ++half) {
        const Block8 plain =
            crypto::tdes_ede_encrypt(first_block(std::span(enciphered).subspan(half * 8, 8)), session_key2, session_key1);
        std::copy(plain.begin(), plain.end(), record.begin() + static_cast<std::ptrdiff_t>(half * 8));
    }
    if (record[0] != 0 || record[1] != 0 || record[2] != 0) return std::nullopt;
    std::uint8_t check = 0xFF;
    for (std::size_t i = 4; i < 12; ++i) check ^= record[i];
    if (record[3] != check) return std::nullopt;
    if (record[12] != p1 || record[13] != p2) return std::nullopt;
    unsigned sum = 0;
    for (std::size_t i = 0; i < 14; ++i) sum += record[i];
    if (record[14] != ((sum >> 8) & 0xFF) || record[15] != (sum & 0xFF)) return std::nullopt;
    Key8 key;
    std::copy(record.begin() + 4, record.begin() + 12, key.begin());
    return key;
}

KeyFileAnswer answer_key_file_selection(const Block8& card_random, const Block8& challenge, const Key8& key_a,
                                        const Key8& key_b) {
    KeyFileAnswer answer;
    answer.derived_key1 = crypto::tdes_ede_encrypt(card_random, key_a, key_b);
    answer.derived_key2 = crypto::tdes_ede_encrypt(card_random, key_b, key_a);
    const Block8 check = crypto::tdes_ede_encrypt(challenge, answer.derived_key1, answer.derived_key2);
    std::copy(check.begin() + 4, check.end(), answer.cryptogram.begin());
    return answer;
}

bool purse_value_record_sound(std::span<const std::uint8_t> record) {
    if (record.size() != kPurseValueBytes) return false;
    auto check_of = [&](std::size_t at) {
        return static_cast<std::uint8_t>(record[at] ^ record[at + 1] ^ record[at + 2] ^ 0xFF);
    };
    return record[11] == check_of(8) && record[15] == check_of(12);
}

}  // namespace sim
