// Purse operations: key selection, balance, credit, debit and the
// purse-value record.
#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>

#include "card_protocol.h"
#include "command_shapes.h"
#include "orvel.h"

namespace orvel {
namespace {

using namespace protocol;

constexpr std::uint8_t kPurseP2Mask = 0x0F;  // P2 of key selection and balance: a key number
constexpr std::size_t kPurseKeyDataLength = 8;
constexpr std::size_t kBalanceDataLength = 4;
constexpr std::size_t kCreditDataLength = 8;
constexpr std::size_t kDebitDataLength = 4;
constexpr std::size_t kAmountLength = 3;
constexpr int kMaxDebitAmount = 0xFFFFFF;  // what three amount bytes can carry
constexpr int kDebitAmountOutOfRange = 5;

// What the key selection hands back from its follow-up's reply.
constexpr std::size_t kSelPkHeadOffset = 3, kSelPkHeadLength = 4;
constexpr std::size_t kSelPkTailOffset = 8, kSelPkTailLength = 3;
constexpr std::size_t kBalanceOffset = 4, kBalanceLength = 3;
constexpr std::size_t kBalanceTailOffset = 7, kBalanceTailLength = 2;
// The debit hands back the follow-up's reader status and the byte after it.
constexpr std::size_t kDebitOutOffset = kReplyStatusOffset, kDebitOutLength = 2;

// Purse-value record: how the file is selected and written.
constexpr std::uint8_t kPurseSelectP1 = 0x02;
constexpr std::uint8_t kPurseSelectP2 = 0x00;
constexpr std::uint8_t kPurseSelectP3 = 0x02;
constexpr std::uint8_t kShortFileIdFlag = 0x80;  // P1 of UPDATE BINARY by short file identifier
constexpr std::uint8_t kPurseRecordOffset = 0x00;  // P2 of the write: the record starts the file
constexpr std::size_t kPurseRecordLength = 20;
constexpr std::size_t kValueLength = 3;
// Record layout: value A, the mark, value B, a zero byte, value C and its
// check byte, value D and its check byte, four zero bytes.
constexpr std::size_t kRecordValueA = 0;
constexpr std::size_t kRecordMark = 3;
constexpr std::size_t kRecordValueB = 4;
constexpr std::size_t kRecordValueC = 8;
constexpr std::size_t kRecordValueCCheck = 11;
constexpr std::size_t kRecordValueD = 12;
constexpr std::size_t kRecordValueDCheck = 15;

// The complement of the XOR of a value's three bytes.
std::uint8_t value_check_byte(const unsigned char* value) {
    return static_cast<std::uint8_t>(value[0] ^ value[1] ^ value[2] ^ 0xFF);
}

}  // namespace
}  // namespace orvel

using namespace orvel;
using namespace orvel::protocol;

int OrvelSelPK(int port, unsigned char cla, unsigned char p1, unsigned char p2,
               unsigned char dataByte, const unsigned char *data, unsigned char *head,
               unsigned char *tail) {
    std::array<std::uint8_t, 2 + kPurseKeyDataLength> field{0x00, dataByte};
    std::copy_n(data, kPurseKeyDataLength, field.begin() + 2);
    const Command cmd{.cla = cla, .ins = kInsSelectPurseKey, .p1 = p1,
                      .p2 = static_cast<std::uint8_t>(p2 & kPurseP2Mask),
                      .p3 = static_cast<std::uint8_t>(field.size()), .data = field};
    ReplyBuffer reply{};
    const int result = exchange_with_follow_up(port, cmd, PowerOffOnFailure::no, reply);
    if (result == kOk) {
        copy_reply_terminated(reply, kSelPkHeadOffset, kSelPkHeadLength, head);
        copy_reply_terminated(reply, kSelPkTailOffset, kSelPkTailLength, tail);
    }
    return result;
}

int OrvelRdBal(int port, unsigned char cla, unsigned char p2, const unsigned char *data,
               unsigned char *balance, unsigned char *tail) {
    const Command cmd{.cla = cla, .ins = kInsReadBalance, .p1 = 0x00,
                      .p2 = static_cast<std::uint8_t>(p2 & kPurseP2Mask),
                      .p3 = static_cast<std::uint8_t>(kBalanceDataLength),
                      .data = {data, kBalanceDataLength}};
    ReplyBuffer reply{};
    const int result = exchange_with_follow_up(port, cmd, PowerOffOnFailure::yes, reply);
    if (result == kOk) {
        copy_reply_terminated(reply, kBalanceOffset, kBalanceLength, balance);
        copy_reply_terminated(reply, kBalanceTailOffset, kBalanceTailLength, tail);
    }
    return result;
}

int OrvelCredit(int port, unsigned char cla, unsigned char p1, const unsigned char *amount,
                const unsigned char *data) {
    std::array<std::uint8_t, 1 + kAmountLength + kCreditDataLength> field{};
    std::copy_n(amount, kAmountLength, field.begin() + 1);
    std::copy_n(data, kCreditDataLength, field.begin() + 1 + kAmountLength);
    const Command cmd{.cla = cla, .ins = kInsCredit, .p1 = p1, .p2 = 0x00,
                      .p3 = static_cast<std::uint8_t>(field.size()), .data = field};
    ReplyBuffer reply{};
    return single_exchange(port, cmd, PowerOffOnFailure::yes, reply);
}

int OrvelDebit(int port, unsigned char cla, const unsigned char *data, int amount,
               unsigned char *out) {
    // Dropping the high bits would debit another amount than the caller's.
    if (amount < 0 || amount > kMaxDebitAmount) return kDebitAmountOutOfRange;

    // The amount follows P1 directly, most significant byte first, where P2,
    // P3 and the first data byte stand in other commands.
    std::array<std::uint8_t, 1 + kDebitDataLength> field{static_cast<std::uint8_t>(amount & 0xFF)};
    std::copy_n(data, kDebitDataLength, field.begin() + 1);
    const Command cmd{.cla = cla, .ins = kInsDebit, .p1 = 0x00,
                      .p2 = static_cast<std::uint8_t>((amount >> 16) & 0xFF),
                      .p3 = static_cast<std::uint8_t>((amount >> 8) & 0xFF), .data = field};
    ReplyBuffer reply{};
    const int result = exchange_with_follow_up(port, cmd, PowerOffOnFailure::yes, reply);
    if (result == kOk) copy_reply_terminated(reply, kDebitOutOffset, kDebitOutLength, out);
    return result;
}

int OrvelUpdatePurseValue(int port, unsigned char mark, unsigned short fileId,
                          unsigned char shortId, const unsigned char *valueA,
                          const unsigned char *valueB, const unsigned char *valueC,
                          const unsigned char *valueD) {
    if (OrvelSelFil(port, kPurseSelectP1, kPurseSelectP2, kPurseSelectP3, fileId) != 0) return 1;

    std::array<std::uint8_t, kPurseRecordLength> record{};
    std::copy_n(valueA, kValueLength, record.begin() + kRecordValueA);
    record[kRecordMark] = mark;
    std::copy_n(valueB, kValueLength, record.begin() + kRecordValueB);
    std::copy_n(valueC, kValueLength, record.begin() + kRecordValueC);
    record[kRecordValueCCheck] = value_check_byte(valueC);
    std::copy_n(valueD, kValueLength, record.begin() + kRecordValueD);
    record[kRecordValueDCheck] = value_check_byte(valueD);

    const auto p1 = static_cast<unsigned char>((shortId + kShortFileIdFlag) & 0xFF);
    if (OrvelUpdBinPurse(port, kClaIso, p1, kPurseRecordOffset, static_cast<int>(record.size()),
                         record.data()) != 0) {
        return 2;
    }
    return 0;
}
