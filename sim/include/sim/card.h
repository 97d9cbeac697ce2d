// The simulated card: takes APDUs, answers data and SW1 SW2, keeps its state.
// Not thread-safe by itself; the Simulator serialises access to it.
#pragma once

#include <cstdint>
#include <random>
#include <span>

#include "sim/bytes.h"
#include "sim/card_state.h"

namespace sim {

// Status words the card answers with.
namespace sw {
inline constexpr std::uint16_t kOk = 0x9000;
inline constexpr std::uint16_t kBytesAvailable = 0x6100;        // | count of data waiting
inline constexpr std::uint16_t kWrongPinBase = 0x6300;           // VERIFY code refused
inline constexpr std::uint16_t kWrongLength = 0x6700;            // Lc/data length disagree
inline constexpr std::uint16_t kNotAllowedOnFile = 0x6981;       // command does not fit the file
inline constexpr std::uint16_t kSecurityNotSatisfied = 0x6982;   // needs VERIFY / authentication
inline constexpr std::uint16_t kConditionsNotSatisfied = 0x6985; // e.g. GET RESPONSE with nothing waiting
inline constexpr std::uint16_t kNoCurrentFile = 0x6986;          // no current EF
inline constexpr std::uint16_t kWrongMac = 0x6988;               // MAC check failed
inline constexpr std::uint16_t kWrongData = 0x6A80;              // key record / purse record check failed
inline constexpr std::uint16_t kFileNotFound = 0x6A82;
inline constexpr std::uint16_t kRecordNotFound = 0x6A83;
inline constexpr std::uint16_t kNoSpace = 0x6A84;                // CREATE FILE too large
inline constexpr std::uint16_t kWrongP1P2 = 0x6A86;
inline constexpr std::uint16_t kInfoNotFound = 0x6A88;
inline constexpr std::uint16_t kFileExists = 0x6A89;
inline constexpr std::uint16_t kOffsetOutside = 0x6B00;
inline constexpr std::uint16_t kExactLength = 0x6C00;            // | length the card has
inline constexpr std::uint16_t kInsNotSupported = 0x6D00;
inline constexpr std::uint16_t kClaNotSupported = 0x6E00;
inline constexpr std::uint16_t kInsufficientFunds = 0x9401;      // debit beyond the balance
inline constexpr std::uint16_t kBalanceOverflow = 0x9402;        // credit past 0xFFFFFF
}  // namespace sw

struct CardResponse {
    Bytes data;
    std::uint16_t status = sw::kOk;

    std::uint8_t sw1() const { return static_cast<std::uint8_t>(status >> 8); }
    std::uint8_t sw2() const { return static_cast<std::uint8_t>(status & 0xFF); }
    // data followed by SW1 SW2
    Bytes bytes() const;
};

class Card {
public:
    explicit Card(CardState initial = default_card(), std::uint64_t random_seed = 0);

    // Reset: powers the card and clears the volatile state; returns the ATR.
    Bytes power_up();
    void power_down();
    bool powered() const { return state_.powered; }

    // One APDU as the reader passes it: CLA INS P1 P2 P3 data (the debit
    // command's own layout for INS 0x34). The card must be powered.
    CardResponse exchange(std::span<const std::uint8_t> apdu);

    // Makes the next response MAC the card hands out wrong (a fault).
    void spoil_next_response_mac() { spoil_mac_ = true; }

    const CardState& state() const { return state_; }
    void set_state(CardState state) { state_ = std::move(state); }

private:
    CardResponse dispatch(std::span<const std::uint8_t> apdu);
    CardResponse get_response(std::span<const std::uint8_t> apdu);
    CardResponse get_info(std::span<const std::uint8_t> apdu);
    CardResponse select_file(std::span<const std::uint8_t> apdu);
    CardResponse read_binary(std::span<const std::uint8_t> apdu);
    CardResponse read_record(std::span<const std::uint8_t> apdu);
    CardResponse write_binary(std::span<const std::uint8_t> apdu);
    CardResponse protected_write(std::span<const std::uint8_t> apdu, CardFile& file, std::size_t offset);
    CardResponse key_record(std::span<const std::uint8_t> apdu, CardFile& file);
    CardResponse create_file(std::span<const std::uint8_t> apdu);
    CardResponse select_key_file(std::span<const std::uint8_t> apdu);
    CardResponse verify(std::span<const std::uint8_t> apdu);
    CardResponse select_purse_key(std::span<const std::uint8_t> apdu);
    CardResponse read_balance(std::span<const std::uint8_t> apdu);
    CardResponse debit(std::span<const std::uint8_t> apdu);
    CardResponse credit(std::span<const std::uint8_t> apdu);
    CardResponse set_status(std::span<const std::uint8_t> apdu);
    CardResponse simple_order(std::span<const std::uint8_t> apdu);

    CardResponse hand_out(Bytes data, std::uint8_t cla, bool is_mac = false);
    CardResponse hand_out_mac(const Block8& mac);
    CardFile* find_file(std::uint16_t id);
    CardFile* find_by_short_id(std::uint8_t short_id);
    CardFile* current_ef();

    // The file and offset a binary access names: by short identifier in P1
    // with the offset in P2, or the current file with the offset in P1 P2.
    // `missing` is the status word when no such file exists.
    struct BinaryTarget {
        CardFile* file;
        std::size_t offset;
        std::uint16_t missing;
    };
    BinaryTarget binary_target(std::uint8_t p1, std::uint8_t p2);

    CardState state_;
    std::mt19937_64 random_;
    bool spoil_mac_ = false;
};

// Checks of the card model, exposed for tests and for models that mirror it.

// Deciphers one 16-byte key record written under the session keys (each half
// E(k2, D(k1, E(k2, y)))) and checks it against P1 P2 of the write. Returns
// the system key when the record is sound.
std::optional<Key8> open_key_record(std::span<const std::uint8_t, 16> enciphered,
                                    const Key8& session_key1, const Key8& session_key2,
                                    std::uint8_t p1, std::uint8_t p2);

// The derived keys and the cryptogram of a key-file selection.
struct KeyFileAnswer {
    Key8 derived_key1{};
    Key8 derived_key2{};
    std::array<std::uint8_t, 4> cryptogram{};
};
KeyFileAnswer answer_key_file_selection(const Block8& card_random, const Block8& challenge,
                                        const Key8& key_a, const Key8& key_b);

// True when the purse-value record's check bytes (offsets 11 and 15) hold.
bool purse_value_record_sound(std::span<const std::uint8_t> record);

}  // namespace sim
