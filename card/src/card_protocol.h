// The reader's wire protocol and the card's instruction bytes, named once.
#pragma once

#include <cstddef>
#include <cstdint>

namespace orvel::protocol {

// ---- Command block -------------------------------------------------------
inline constexpr std::uint8_t kBlockStart = 0x60;
inline constexpr std::size_t kBlockHeaderSize = 3;  // block start, LN, reader command
inline constexpr std::size_t kApduHeaderSize = 5;   // CLA INS P1 P2 P3
inline constexpr std::size_t kApduOffset = kBlockHeaderSize;
inline constexpr std::size_t kLnOffset = 1;
inline constexpr int kMinBlockLength = 1;
inline constexpr int kMaxBlockLength = 126;  // 2 * (126 + 1) + 1 = 255 bytes on the line
// Every block and reply is built in a buffer of this size on the stack.
inline constexpr std::size_t kWorkBufferSize = 256;

// ---- Reader commands -----------------------------------------------------
inline constexpr std::uint8_t kReaderPowerUp = 0x6E;
inline constexpr std::uint8_t kReaderPowerDown = 0x4D;
inline constexpr std::uint8_t kReaderCardInput = 0xDA;   // CLA INS P1 P2 P3, data to the card
inline constexpr std::uint8_t kReaderCardOutput = 0xDB;  // CLA INS P1 P2 Le, data from the card
inline constexpr std::uint8_t kPowerUpParameters[] = {0x02, 0x00, 0x00};
inline constexpr std::uint8_t kPowerDownParameter = 0x00;

// ---- Wire frame and reply ------------------------------------------------
inline constexpr std::uint8_t kFrameTerminator = 0x03;
// The text of one reply may hold at most 254 characters (127 bytes) before
// its terminator; the caller's reply buffer holds those bytes and a 0x00.
inline constexpr std::size_t kMaxReplyCharacters = 254;
inline constexpr std::size_t kMaxReplyBytes = kMaxReplyCharacters / 2;
inline constexpr std::size_t kReplyBufferSize = kMaxReplyBytes + 1;
// A reply that never brings its terminator is drained for at most this many
// characters, so a babbling line cannot hold the caller forever.
inline constexpr std::size_t kMaxDrainedCharacters = 4096;
// A reader tolerates one failed one-byte read per reply, not per character.
inline constexpr int kFailedReadsAllowed = 1;

inline constexpr std::size_t kReplyStatusOffset = 2;
inline constexpr std::size_t kReplyDataOffset = 3;
inline constexpr std::size_t kReplyFollowUpLeOffset = 4;  // SW2 of "0x61 Le"
inline constexpr std::size_t kMinReplyBytes = 3;          // header and reader status

inline constexpr std::uint8_t kReaderStatusOk = 0x00;
inline constexpr std::uint8_t kReaderStatusAccepted = 0xE7;
inline constexpr std::uint8_t kSw1ResponseAvailable = 0x61;

// ---- Card commands -------------------------------------------------------
inline constexpr std::uint8_t kClaIso = 0x00;
inline constexpr std::uint8_t kClaSecureMessaging = 0x04;  // selects the MAC variant of a write
inline constexpr std::uint8_t kClaProprietary = 0x80;

inline constexpr std::uint8_t kInsVerify = 0x20;
inline constexpr std::uint8_t kInsSelectKeyFile = 0x28;
inline constexpr std::uint8_t kInsSelectPurseKey = 0x30;
inline constexpr std::uint8_t kInsReadBalance = 0x32;
inline constexpr std::uint8_t kInsDebit = 0x34;
inline constexpr std::uint8_t kInsCredit = 0x36;
inline constexpr std::uint8_t kInsSetProtection = 0x14;
inline constexpr std::uint8_t kInsSelectFile = 0xA4;
inline constexpr std::uint8_t kInsReadBinary = 0xB0;
inline constexpr std::uint8_t kInsReadRecord = 0xB2;
inline constexpr std::uint8_t kInsGetResponse = 0xC0;
inline constexpr std::uint8_t kInsGetInfo = 0xC0;
inline constexpr std::uint8_t kInsWriteBinary = 0xD0;
inline constexpr std::uint8_t kInsUpdateBinary = 0xD6;
inline constexpr std::uint8_t kInsSetStatus = 0xD8;
inline constexpr std::uint8_t kInsCreateFile = 0xE0;

// Fixed Le of the follow-up that fetches the key-file selection's answer.
inline constexpr std::uint8_t kKeyFileResponseLength = 0x0C;

// ---- MAC -----------------------------------------------------------------
inline constexpr std::size_t kMacTextLength = 16;  // 8 MAC bytes as hex text
inline constexpr std::size_t kMacBytes = 8;
inline constexpr std::size_t kMacSentOffset = 5;    // MAC bytes 5..7 go with the command
inline constexpr std::size_t kMacCheckedOffset = 0; // MAC bytes 0..2 come back from the card
inline constexpr std::size_t kMacPartLength = 3;

// ---- Data limits ---------------------------------------------------------
// A card-output exchange carries at most 121 data bytes back: 127 reply bytes
// less the header, the status and SW1 SW2, less one byte of slack.
inline constexpr int kMaxReadLength = 121;

}  // namespace orvel::protocol
