// The state of the simulated card: what survives between power cycles (files,
// keys, balance) and what a reset clears (power, selection, session).
#pragma once

#include <cstdint>
#include <map>
#include <optional>

#include "sim/bytes.h"

namespace sim {

enum class FileKind : std::uint8_t {
    dedicated,    // a directory (the master file and the application)
    binary,       // READ / UPDATE / WRITE BINARY; MAC-protected writes
    records,      // READ RECORD, fixed-length records numbered from 1
    key,          // the key file: selected by the key-file selection, takes key records
    purse_value,  // binary 20-byte purse-value record whose check bytes the card checks
    purse,        // the purse itself (balance lives in CardState)
};

struct CardFile {
    std::uint16_t id = 0;
    FileKind kind = FileKind::binary;
    std::uint16_t parent = 0;          // id of the directory that holds it (0 for the master file)
    std::uint8_t short_id = 0;         // short file identifier 1..30, 0 for none
    Bytes contents;                    // binary, key and purse-value files
    std::vector<Bytes> records;        // record files: records[0] is record 1
    bool read_needs_code = false;      // reading needs a successful VERIFY since reset
};

// File identifiers of the default card.
inline constexpr std::uint16_t kFileMaster = 0x3F00;
inline constexpr std::uint16_t kFileApplication = 0x3F01;
inline constexpr std::uint16_t kFileKeys = 0x0001;        // short id 1
inline constexpr std::uint16_t kFileRecords = 0x0002;     // short id 2, code-protected
inline constexpr std::uint16_t kFileCardData = 0x0003;    // short id 3, current after reset
inline constexpr std::uint16_t kFileData = 0x0004;        // short id 4, free data file
inline constexpr std::uint16_t kFilePurseValue = 0x0005;  // short id 5
inline constexpr std::uint16_t kFilePurse = 0x0006;       // short id 6

inline constexpr std::uint32_t kMaxBalance = 0xFFFFFF;

struct CardState {
    // ---- persistent: survives power cycles and client reconnects ----
    Block8 serial{};                         // information block P2 0xA1
    std::map<std::uint8_t, Bytes> info;      // the other information blocks, by P2
    Key8 auth_key_a{};                       // two-key key of the key-file selection
    Key8 auth_key_b{};
    Key8 mac_key_a{};                        // MAC key pair of protected writes and CREATE FILE
    Key8 mac_key_b{};
    Key8 code_key{};                         // VERIFY code = DES(code_key, card-data bytes 0..7)
    std::optional<Key8> system_key;          // last system key taken from a key record
    std::array<bool, 2> key_record_stored{}; // records of the present key change accepted so far
    std::uint32_t balance = 0;               // purse balance, 0..0xFFFFFF
    std::uint32_t transaction_counter = 0;   // raised by every accepted credit and debit
    std::map<std::uint16_t, CardFile> files; // by file identifier
    Bytes answer_to_reset;
    Bytes status_block = Bytes(8, 0x00);     // set by the status command (CLA 0x80 INS 0xD8)

    // ---- volatile: cleared by power-down and power-up ----
    bool powered = false;
    std::uint16_t current_df = kFileApplication;
    std::optional<std::uint16_t> current_ef;
    bool session_open = false;               // a key-file selection has run since reset
    Key8 session_key1{};                     // derived keys of the last key-file selection
    Key8 session_key2{};
    Block8 last_card_random{};
    Block8 last_challenge{};
    bool code_verified = false;
    Bytes pending_response;                  // data waiting for GET RESPONSE
    std::uint8_t pending_cla = 0x00;         // CLA that GET RESPONSE must carry for it
    bool pending_is_mac = false;             // pending data are response MAC bytes
};

// The card every simulator starts with unless told otherwise: serial number
// 10 32 54 76 98 BA DC FE, authentication key A 01..08 / B 11..18 (two
// different halves), MAC keys 21..28 / 31..38, code key 41..48, balance 1000,
// and the file tree of sim/README.md.
CardState default_card();

}  // namespace sim
