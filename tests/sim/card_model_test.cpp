// The card model driven directly, against values computed independently of
// it (openssl enc on the command line, published DES answers).
#include <gtest/gtest.h>

#include "hex.h"
#include "sim/card.h"
#include "sim/crypto.h"

namespace {

using sim::Bytes;
using sim_test::array_of;
using sim_test::hex;

// ---- cryptography ------------------------------------------------------

struct CipherCase {
    const char* name;
    const char* key1;
    const char* key2;  // empty: single DES
    const char* input;
    const char* expected;
};

class CipherKnownAnswer : public ::testing::TestWithParam<CipherCase> {};

TEST_P(CipherKnownAnswer, MatchesReference) {
    const auto& c = GetParam();
    const auto k1 = array_of<8>(c.key1);
    const auto input = array_of<8>(c.input);
    if (std::string_view(c.key2).empty()) {
        EXPECT_EQ(sim::crypto::des_encrypt(input, k1), array_of<8>(c.expected));
        EXPECT_EQ(sim::crypto::des_decrypt(array_of<8>(c.expected), k1), input);
    } else {
        const auto k2 = array_of<8>(c.key2);
        EXPECT_EQ(sim::crypto::tdes_ede_encrypt(input, k1, k2), array_of<8>(c.expected));
        EXPECT_EQ(sim::crypto::tdes_ede_decrypt(array_of<8>(c.expected), k1, k2), input);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Vectors, CipherKnownAnswer,
    ::testing::Values(CipherCase{"des_published", "133457799BBCDFF1", "", "0123456789ABCDEF", "85E813540F0AB405"},
                      CipherCase{"des_code_of_default_card", "4142434445464748", "", "C0DE000102030405",
                                 "64710030FF547928"},
                      // Two different halves, so a swapped key order shows.
                      CipherCase{"tdes_two_halves", "0102030405060708", "1112131415161718", "0123456789ABCDEF",
                                 "5B28483C42B60BC8"},
                      CipherCase{"tdes_swapped_halves_differ", "1112131415161718", "0102030405060708",
                                 "0011223344556677", "273936769C982F23"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(CbcMac, PadsToWholeBlocksAndReturnsTheFinalBlock) {
    const auto ka = array_of<8>("2122232425262728");
    const auto kb = array_of<8>("3132333435363738");
    EXPECT_EQ(sim::crypto::cbc_mac(hex("04D6000007DEADBEEF"), ka, kb), array_of<8>("43E9130D1C2CAB8C"));
    EXPECT_EQ(sim::crypto::cbc_mac(hex("00112233445566778899AABBCCDDEEFF"), ka, kb),
              array_of<8>("29ADDEB9097C03C3"));
    EXPECT_EQ(sim::crypto::cbc_mac({}, ka, kb), sim::Block8{});
}

TEST(KeyFileAnswer, DerivesBothKeysAndTheCryptogram) {
    const auto answer = sim::answer_key_file_selection(array_of<8>("0011223344556677"), array_of<8>("8899AABBCCDDEEFF"),
                                                       array_of<8>("0102030405060708"), array_of<8>("1112131415161718"));
    EXPECT_EQ(answer.derived_key1, array_of<8>("A03C47D98E0C1A62"));
    EXPECT_EQ(answer.derived_key2, array_of<8>("273936769C982F23"));
    // bytes 4..7 of the check value 6BEA069178B54D4A
    EXPECT_EQ(answer.cryptogram, (array_of<4>("78B54D4A")));
}

// ---- the card, one APDU at a time ---------------------------------------

class PoweredCard : public ::testing::Test {
protected:
    void SetUp() override { card.power_up(); }

    sim::CardResponse run(std::string_view apdu) { return card.exchange(hex(apdu)); }
    // Runs a command, then GET RESPONSE for what it announced.
    sim::CardResponse run_two_phase(std::string_view apdu, std::uint8_t get_response_cla = 0x00) {
        auto first = run(apdu);
        if (first.sw1() != 0x61) return first;
        const Bytes follow = {get_response_cla, 0xC0, 0x00, 0x00, first.sw2()};
        return card.exchange(follow);
    }
    void select(std::string_view id) { ASSERT_EQ(run_two_phase(std::string("00A4000002") + std::string(id)).status, 0x9000); }
    const Bytes& contents(std::uint16_t id) const { return card.state().files.at(id).contents; }

    sim::Card card{sim::default_card(), 42};
};

TEST_F(PoweredCard, InformationBlocksHaveTheirFixedLengths) {
    struct Row {
        std::uint8_t p2;
        std::size_t length;
    };
    for (Row row : {Row{0xA0, 8}, Row{0xA1, 8}, Row{0xA2, 8}, Row{0xA3, 4}, Row{0xA4, 13}, Row{0x06, 2}}) {
        const Bytes apdu = {0x80, 0xC0, 0x02, row.p2, static_cast<std::uint8_t>(row.length)};
        auto r = card.exchange(apdu);
        EXPECT_EQ(r.status, 0x9000) << std::hex << int(row.p2);
        EXPECT_EQ(r.data.size(), row.length) << std::hex << int(row.p2);
    }
    EXPECT_EQ(run("80C002A108").data, hex("1032547698BADCFE"));
    EXPECT_EQ(run("80C002A104").status, 0x6C08);  // wrong Le: the card names the length
    EXPECT_EQ(run("80C002B008").status, 0x6A88);
    EXPECT_EQ(run("00C002A108").status, 0x6E00);
}

TEST_F(PoweredCard, GetResponseHandsOutPendingDataOnceAndInPieces) {
    auto first = run("00A40000023F01");
    ASSERT_EQ(first.status, 0x6106);
    auto part = run("00C0000004");
    EXPECT_EQ(part.data, hex("3F013800"));
    EXPECT_EQ(part.status, 0x6102);
    EXPECT_EQ(run("00C0000003").status, 0x6C02);  // more than is left
    EXPECT_EQ(run("00C0000002").status, 0x9000);
    EXPECT_EQ(run("00C0000002").status, 0x6985);  // nothing left
    EXPECT_EQ(run("00C0000000").status, 0x9000);  // Le 0 with nothing waiting: empty answer
    // Any other command drops what was waiting.
    ASSERT_EQ(run("00A40000020004").status, 0x6106);
    run("80C002A108");
    EXPECT_EQ(run("00C0000006").status, 0x6985);
}

TEST_F(PoweredCard, KeyFileSelectionAnswersThroughAProprietaryGetResponse) {
    auto first = run("8028000108 8899AABBCCDDEEFF");
    ASSERT_EQ(first.status, 0x610C);
    EXPECT_EQ(run("00C000000C").status, 0x6E00);  // must be fetched with CLA 0x80
    auto answer = run("80C000000C");
    ASSERT_EQ(answer.status, 0x9000);
    ASSERT_EQ(answer.data.size(), 12u);
    sim::Block8 random;
    std::copy(answer.data.begin() + 4, answer.data.end(), random.begin());
    const auto& state = card.state();
    const auto expected =
        sim::answer_key_file_selection(random, array_of<8>("8899AABBCCDDEEFF"), state.auth_key_a, state.auth_key_b);
    EXPECT_TRUE(std::equal(expected.cryptogram.begin(), expected.cryptogram.end(), answer.data.begin()));
    EXPECT_TRUE(state.session_open);
    EXPECT_EQ(state.session_key1, expected.derived_key1);
    EXPECT_EQ(state.session_key2, expected.derived_key2);
    EXPECT_EQ(state.last_card_random, random);
    EXPECT_EQ(state.current_ef, sim::kFileKeys);

    ASSERT_EQ(run_two_phase("8028000108 8899AABBCCDDEEFF", 0x80).status, 0x9000);
    EXPECT_NE(card.state().last_card_random, random) << "each selection draws a fresh card random";
    EXPECT_EQ(run("8028000008 8899AABBCCDDEEFF").status, 0x6A86);
}

// MAC-protected UPDATE BINARY of DE AD BE EF at offset 0 of file 0x0004 under
// the default MAC keys: MAC 43E9130D1C2CAB8C.
struct ProtectedWriteCase {
    const char* name;
    const char* apdu;
    std::uint16_t status;
    const char* follow_up;  // data of the follow-up, empty for none
    const char* file_start; // first four bytes of the file afterwards
};

class ProtectedWrite : public PoweredCard, public ::testing::WithParamInterface<ProtectedWriteCase> {};

TEST_P(ProtectedWrite, ChecksTheCommandMacAndAnswersTheResponseMac) {
    const auto& c = GetParam();
    select("0004");
    auto first = run(c.apdu);
    EXPECT_EQ(first.status, c.status);
    if (*c.follow_up != 0) {
        EXPECT_EQ(run("00C0000003").data, hex(c.follow_up));
    }
    EXPECT_EQ(Bytes(contents(sim::kFileData).begin(), contents(sim::kFileData).begin() + 4), hex(c.file_start));
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ProtectedWrite,
    ::testing::Values(
        ProtectedWriteCase{"good_mac", "04D6000007 DEADBEEF 2CAB8C", 0x6103, "43E913", "DEADBEEF"},
        ProtectedWriteCase{"write_binary_good_mac", "04D0000007 DEADBEEF 1893C7", 0x6103, "3ECB8C", "DEADBEEF"},
        ProtectedWriteCase{"mac_byte_wrong", "04D6000007 DEADBEEF 2CAB8D", 0x6988, "", "00000000"},
        ProtectedWriteCase{"data_changed_under_old_mac", "04D6000007 DEADBEEE 2CAB8C", 0x6988, "", "00000000"},
        ProtectedWriteCase{"mac_bytes_missing", "04D6000002 DEAD", 0x6700, "", "00000000"},
        ProtectedWriteCase{"lc_disagrees", "04D6000008 DEADBEEF 2CAB8C", 0x6700, "", "00000000"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PoweredCard, CreateFileChecksItsMacAndAddsABinaryFile) {
    // id 0x0100, size 16; MAC F09F2575185B49A2
    const char* create = "80E000000F 0100 01 00 0010 0000 0000 0000 5B49A2";
    EXPECT_EQ(run("80E000000F 0100 01 00 0010 0000 0000 0000 5B49A3").status, 0x6988);
    EXPECT_FALSE(card.state().files.contains(0x0100));
    ASSERT_EQ(run(create).status, 0x6103);
    EXPECT_EQ(run("00C0000003").data, hex("F09F25"));
    ASSERT_TRUE(card.state().files.contains(0x0100));
    EXPECT_EQ(contents(0x0100).size(), 16u);
    EXPECT_EQ(run(create).status, 0x6A89);  // exists already
}

// ---- purse ---------------------------------------------------------------

struct PurseCase {
    const char* name;
    std::uint32_t balance;
    const char* apdu;
    std::uint16_t status;
    std::uint32_t balance_after;
};

class PurseArithmetic : public PoweredCard, public ::testing::WithParamInterface<PurseCase> {};

TEST_P(PurseArithmetic, RaisesLowersOrRefusesWithoutChange) {
    const auto& c = GetParam();
    auto state = card.state();
    state.balance = c.balance;
    card.set_state(state);
    EXPECT_EQ(run(c.apdu).status, c.status);
    EXPECT_EQ(card.state().balance, c.balance_after);
    EXPECT_EQ(card.state().transaction_counter, c.balance == c.balance_after ? 0u : 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, PurseArithmetic,
    ::testing::Values(
        PurseCase{"credit", 1000, "803600000C 00 0001F4 0000000000000000", 0x9000, 1500},
        PurseCase{"credit_to_the_top", 0xFFFF00, "803600000C 00 0000FF 0000000000000000", 0x9000, 0xFFFFFF},
        PurseCase{"credit_past_the_top", 0xFFFF00, "803600000C 00 000100 0000000000000000", 0x9402, 0xFFFF00},
        PurseCase{"credit_largest_amount_on_empty", 0, "803600000C 00 FFFFFF 0000000000000000", 0x9000, 0xFFFFFF},
        PurseCase{"credit_wrong_lc", 1000, "803600000B 00 0001F4 00000000000000", 0x6700, 1000},
        PurseCase{"debit", 1000, "803400 0000C8 01020304", 0x6104, 800},
        PurseCase{"debit_whole_balance", 1000, "803400 0003E8 01020304", 0x6104, 0},
        PurseCase{"debit_beyond_balance", 1000, "803400 0003E9 01020304", 0x9401, 1000},
        PurseCase{"debit_short_block", 1000, "803400 0000C8 010203", 0x6700, 1000}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PoweredCard, BalanceAnswersCarryTheBalanceWhereTheLibraryCopiesIt) {
    // read balance: 1 byte, then the balance MSB first
    auto balance = run_two_phase("8032000F04 01020304");
    EXPECT_EQ(balance.data, hex("0F 0003E8"));
    // purse key selection: counter (4), key index, balance (3)
    ASSERT_EQ(run("803400 000064 00000000").status, 0x6104);
    EXPECT_EQ(run("00C0000004").data, hex("000384 01"));  // new balance 900, counter 1
    auto key = run_two_phase("8030000A0A 00 07 1122334455667788");
    EXPECT_EQ(key.data, hex("00000001 0A 000384"));
}

// ---- key records -----------------------------------------------------------

// Session keys of the key-file vector above; system key 0123456789ABCDEF.
constexpr const char* kSessionKey1 = "A03C47D98E0C1A62";
constexpr const char* kSessionKey2 = "273936769C982F23";
constexpr const char* kFirstRecord = "04D6810010 DD29604B5494B956B6AB95E8118ADB2B";   // P1 81 P2 00
constexpr const char* kSecondRecord = "04D6000310 DD29604B5494B9565AEC77AB43948179";  // P1 00 P2 03

class KeyRecords : public PoweredCard {
protected:
    void SetUp() override {
        PoweredCard::SetUp();
        auto state = card.state();
        state.session_open = true;
        state.session_key1 = array_of<8>(kSessionKey1);
        state.session_key2 = array_of<8>(kSessionKey2);
        state.current_ef = sim::kFileKeys;
        card.set_state(state);
    }
    // Enciphers a plain record the way the writer does: D(k2, E(k1, D(k2, x))) per half.
    static std::string encipher(const Bytes& record, std::string_view header) {
        std::string apdu(header);
        for (std::size_t half = 0; half < 2; ++half) {
            sim::Block8 x;
            std::copy_n(record.begin() + static_cast<std::ptrdiff_t>(8 * half), 8, x.begin());
            auto y = sim::crypto::tdes_ede_decrypt(x, array_of<8>(kSessionKey2), array_of<8>(kSessionKey1));
            for (auto b : y) {
                char t[3];
                std::snprintf(t, sizeof t, "%02X", b);
                apdu += t;
            }
        }
        return apdu;
    }
};

TEST_F(KeyRecords, BothRecordsMakeTheSystemKeyTheAuthenticationKey) {
    const auto old_key = card.state().auth_key_a;
    ASSERT_EQ(run(kFirstRecord).status, 0x9000);
    EXPECT_EQ(card.state().system_key, array_of<8>("0123456789ABCDEF"));
    EXPECT_EQ(card.state().auth_key_a, old_key) << "one record alone changes no key";
    ASSERT_EQ(run(kSecondRecord).status, 0x9000);
    EXPECT_EQ(card.state().auth_key_a, array_of<8>("0123456789ABCDEF"));
    EXPECT_EQ(card.state().auth_key_b, array_of<8>("0123456789ABCDEF"));
}

TEST_F(KeyRecords, AFaultyRecordIsRefusedAndChangesNothing) {
    const Bytes good = hex("000000FF 0123456789ABCDEF 8100 0540");
    struct Row {
        const char* name;
        std::size_t offset;
    };
    for (Row row : {Row{"zero byte", 1}, Row{"check byte", 3}, Row{"key byte", 6}, Row{"P1 copy", 12},
                    Row{"sum high", 14}, Row{"sum low", 15}}) {
        Bytes bad = good;
        bad[row.offset] ^= 0x01;
        EXPECT_EQ(run(encipher(bad, "04D6810010")).status, 0x6A80) << row.name;
    }
    EXPECT_EQ(run(encipher(good, "04D6000310")).status, 0x6A80) << "record names another write";
    EXPECT_EQ(run(encipher(good, "04D6820010")).status, 0x6981) << "the record file takes no key records";
    EXPECT_FALSE(card.state().system_key.has_value());
    EXPECT_EQ(contents(sim::kFileKeys), Bytes(32, 0x00));
    EXPECT_EQ(run(encipher(good, "04D6810010")).status, 0x9000) << "the unspoilt record itself is sound";
}

TEST_F(KeyRecords, NeedAKeyFileSelectionSinceReset) {
    card.power_up();
    EXPECT_EQ(run(std::string("00A4000002 0001")).status, 0x6106);
    EXPECT_EQ(run(kFirstRecord).status, 0x6982);
    EXPECT_FALSE(card.state().system_key.has_value());
}

// ---- VERIFY, records, purse-value record ------------------------------------

TEST_F(PoweredCard, RecordFileOpensOnlyAfterTheRightCode) {
    EXPECT_EQ(run("00B2010208").status, 0x6982);
    EXPECT_EQ(run("0020000008 64710030FF547929").status, 0x6300);
    EXPECT_EQ(run("00B2010208").status, 0x6982);
    EXPECT_EQ(run("0020000008 64710030FF547928").status, 0x9000);
    auto record = run("00B2010208");
    EXPECT_EQ(record.status, 0x9000);
    EXPECT_EQ(record.data, hex("1011121314151617"));
    EXPECT_EQ(run("00B2050208").status, 0x6A83);
    card.power_up();
    EXPECT_EQ(run("00B2010208").status, 0x6982) << "a reset forgets the code";
}

TEST_F(PoweredCard, PurseValueRecordNeedsSoundCheckBytes) {
    select("0005");
    // value C 12 34 56 has check byte 8F; value D 00 00 00 has FF
    const char* sound = "00D6850014 010203 AA 040506 00 123456 8F 000000 FF 00000000";
    const char* unsound = "00D6850014 010203 AA 040506 00 123456 8E 000000 FF 00000000";
    EXPECT_EQ(run(unsound).status, 0x6A80);
    EXPECT_EQ(contents(sim::kFilePurseValue)[0], 0x00);
    EXPECT_EQ(run(sound).status, 0x9000);
    EXPECT_EQ(contents(sim::kFilePurseValue), hex("010203 AA 040506 00 123456 8F 000000 FF 00000000"));
}

TEST_F(PoweredCard, ReadBinaryByShortIdAndByCurrentFile) {
    EXPECT_EQ(run("00B0000008").data, hex("C0DE000102030405")) << "card data is current after reset";
    EXPECT_EQ(run("00B0830804").data, hex("06070809"));
    EXPECT_EQ(run("00B0000F04").status, 0x6C01);
    EXPECT_EQ(run("00B0810008").status, 0x6981) << "the key file is not readable";
    EXPECT_EQ(run("00B09E0008").status, 0x6A82);
}

TEST(UnpoweredCard, AnswersNothingButAnError) {
    sim::Card card;
    EXPECT_EQ(card.exchange(hex("80C002A108")).status, 0x6985);
    card.power_up();
    EXPECT_EQ(card.exchange(hex("80C002A108")).status, 0x9000);
    card.power_down();
    EXPECT_FALSE(card.powered());
}

}  // namespace
