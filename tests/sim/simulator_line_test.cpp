// The simulator on a pseudo-terminal, driven through the real serial and
// card libraries: power, information, selection, the two-phase pattern, the
// keyed commands, line faults and one client after another.
#include <gtest/gtest.h>
#include <orvel.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <tarvex.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>

#include "hex.h"
#include "sim/simulator.h"

namespace {

using namespace std::chrono_literals;
using sim::Bytes;
using sim_test::hex;

constexpr int kPort = 7;
// T of the port: a one-byte read waits at most 500 + T = 900 ms. The faults
// below stall for clearly more or give up clearly later than that.
constexpr int kReadTimeoutMs = 400;
constexpr auto kStall = 1300ms;
constexpr auto kLate = 2700ms;  // the client gives up after two failed reads, 1800 ms

const sim::Key8 kMasterKey = {0x9A, 0x8B, 0x7C, 0x6D, 0x5E, 0x4F, 0x30, 0x21};

Bytes bytes_of(const unsigned char* p, std::size_t n) { return Bytes(p, p + n); }

class SimulatedLine : public ::testing::Test {
protected:
    void SetUp() override {
        sim::SimulatorOptions options;
        options.random_seed = 2024;
        simulator = std::make_unique<sim::Simulator>(std::move(options));
        simulator->map_port(kPort);
        open_port();
    }
    void TearDown() override { COM_Close(kPort); }

    void open_port() {
        COM_Initialize(kPort, 9600, 8, 'N', 1, kReadTimeoutMs);
        ASSERT_EQ(COM_Open(kPort), 1);
    }
    Bytes serial_number() {
        unsigned char out[16] = {};
        EXPECT_EQ(OrvelGetInfo(kPort, 0x80, 0x02, 0xA1, out), 0);
        return bytes_of(out, 8);
    }
    sim::CardState card() const { return simulator->card(); }

    std::unique_ptr<sim::Simulator> simulator;
};

TEST_F(SimulatedLine, PowerInformationAndSelectionInTwoPhases) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    EXPECT_EQ(serial_number(), hex("1032547698BADCFE"));
    ASSERT_EQ(OrvelSelFil(kPort, 0x00, 0x00, 0x02, 0x3F01), 0);
    ASSERT_EQ(Gcr400PowerOff(kPort), 0);

    auto frames = simulator->frames();
    ASSERT_EQ(frames.size(), 5u);
    EXPECT_EQ(frames[0].parsed.block, hex("60 04 6E 02 00 00"));
    EXPECT_EQ(frames[2].parsed.block, hex("60 08 DA 00 A4 00 00 02 3F 01"));
    // The selection announced 6 bytes; the follow-up asked for exactly them.
    EXPECT_EQ(frames[2].reply_block, sim::make_reply_block(0x00, hex("61 06")));
    EXPECT_EQ(frames[3].parsed.block, hex("60 06 DB 00 C0 00 00 06"));
    EXPECT_EQ(frames[3].reply_block, sim::make_reply_block(0x00, hex("3F01 38 0000 00 9000")));
    EXPECT_EQ(frames[4].parsed.block, hex("60 02 4D 00"));
    EXPECT_FALSE(card().powered);
    EXPECT_EQ(simulator->exchange_count(), 5u);
}

TEST_F(SimulatedLine, CardExchangeWithoutPowerIsRefused) {
    unsigned char out[16] = {};
    EXPECT_EQ(OrvelGetInfo(kPort, 0x80, 0x02, 0xA1, out), 2);
    ASSERT_EQ(simulator->frames().size(), 1u);
    EXPECT_EQ(simulator->frames()[0].reply_block[2], sim::kStatusNotPowered);
}

TEST_F(SimulatedLine, AuthenticationKeepsTheDerivedKeysAsSessionKeys) {
    const auto start = card();
    unsigned char dk1[9] = {};
    unsigned char dk2[9] = {};
    ASSERT_EQ(OrvelInfoFile(kPort, start.auth_key_a.data(), start.auth_key_b.data(), dk1, dk2), 0);
    const auto after = card();
    EXPECT_EQ(bytes_of(dk1, 8), Bytes(after.session_key1.begin(), after.session_key1.end()));
    EXPECT_EQ(bytes_of(dk2, 8), Bytes(after.session_key2.begin(), after.session_key2.end()));
    // Swapped halves are another key.
    EXPECT_EQ(OrvelInfoFile(kPort, start.auth_key_b.data(), start.auth_key_a.data(), dk1, dk2), 3);
}

TEST_F(SimulatedLine, ProtectedWritesAndCreationCheckBothMacs) {
    const auto start = card();
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    ASSERT_EQ(OrvelSelFil(kPort, 0x00, 0x00, 0x02, sim::kFileData), 0);
    const unsigned char data[4] = {0xDE, 0xAD, 0xBE, 0xEF};
    ASSERT_EQ(OrvelUpdBin(kPort, 0x04, 0x00, 0x00, 4, data, start.mac_key_a.data(), start.mac_key_b.data()), 0);
    const Bytes written = card().files.at(sim::kFileData).contents;
    EXPECT_EQ(Bytes(written.begin(), written.begin() + 4), hex("DEADBEEF"));

    const unsigned char other[4] = {1, 2, 3, 4};
    EXPECT_EQ(OrvelWrBin(kPort, 0x04, 0x00, 0x00, 4, other, start.mac_key_b.data(), start.mac_key_a.data()), 5);
    EXPECT_EQ(card().files.at(sim::kFileData).contents[0], 0xDE) << "a refused MAC writes nothing";

    ASSERT_EQ(OrvelCreate(kPort, 0x80, 0x00, 0x0F, 0x0100, 0x01, 0x00, 0x20, 0, 0, 0, nullptr,
                          start.mac_key_a.data(), start.mac_key_b.data()),
              0);
    ASSERT_TRUE(card().files.contains(0x0100));
    EXPECT_EQ(card().files.at(0x0100).contents.size(), 0x20u);
}

TEST_F(SimulatedLine, KeyChangeMakesTheSystemKeyTheNewAuthenticationKey) {
    const auto start = card();
    unsigned char sys1[9] = {};
    unsigned char sys2[9] = {};
    unsigned char serial[9] = {};
    ASSERT_EQ(OrvelMakeSysKey(kPort, kMasterKey.data(), sys1, sys2, serial), 0);
    ASSERT_EQ(OrvelChangeKey(kPort, start.auth_key_a.data(), start.auth_key_b.data(), kMasterKey.data()), 0);
    const Bytes system_key = bytes_of(sys1, 8);
    const auto after = card();
    ASSERT_TRUE(after.system_key.has_value());
    EXPECT_EQ(Bytes(after.system_key->begin(), after.system_key->end()), system_key);
    EXPECT_EQ(Bytes(after.auth_key_a.begin(), after.auth_key_a.end()), system_key);
    EXPECT_EQ(Bytes(after.auth_key_b.begin(), after.auth_key_b.end()), system_key);

    unsigned char dk1[9] = {};
    unsigned char dk2[9] = {};
    EXPECT_EQ(OrvelInfoFile(kPort, sys1, sys1, dk1, dk2), 0);
    EXPECT_EQ(OrvelInfoFile(kPort, start.auth_key_a.data(), start.auth_key_b.data(), dk1, dk2), 3);
}

TEST_F(SimulatedLine, PurseBalanceCreditAndRefusedDebit) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    const unsigned char data[8] = {};
    unsigned char balance[4] = {};
    unsigned char tail[3] = {};
    ASSERT_EQ(OrvelRdBal(kPort, 0x80, 0x01, data, balance, tail), 0);
    EXPECT_EQ(bytes_of(balance, 3), hex("0003E8"));
    EXPECT_EQ(bytes_of(tail, 2), hex("9000"));

    const unsigned char amount[3] = {0x00, 0x01, 0x00};
    ASSERT_EQ(OrvelCredit(kPort, 0x80, 0x00, amount, data), 0);
    EXPECT_EQ(card().balance, 1256u);

    unsigned char out[3] = {};
    ASSERT_EQ(OrvelDebit(kPort, 0x80, data, 256, out), 0);
    EXPECT_EQ(card().balance, 1000u);
    EXPECT_EQ(bytes_of(out, 2), hex("00 00")) << "reader status, then the new balance's high byte";
    // Accepted by the reader (status 0xE7) but refused by the card: no change.
    EXPECT_EQ(OrvelDebit(kPort, 0x80, data, 1001, out), 0);
    EXPECT_EQ(card().balance, 1000u);
    EXPECT_EQ(out[0], sim::kStatusCardError);
}

TEST_F(SimulatedLine, PurseKeySelectionAndPurseValueRecord) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    const unsigned char data[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    unsigned char head[5] = {};
    unsigned char tail[4] = {};
    ASSERT_EQ(OrvelSelPK(kPort, 0x80, 0x00, 0x13, 0x00, data, head, tail), 0);
    EXPECT_EQ(bytes_of(head, 4), hex("00000000")) << "transaction counter";
    EXPECT_EQ(bytes_of(tail, 3), hex("0003E8")) << "balance";

    const unsigned char a[3] = {0x01, 0x02, 0x03};
    const unsigned char b[3] = {0x04, 0x05, 0x06};
    const unsigned char c[3] = {0x12, 0x34, 0x56};
    const unsigned char d[3] = {0x00, 0x00, 0x00};
    ASSERT_EQ(OrvelUpdatePurseValue(kPort, 0xAA, sim::kFilePurseValue, 0x05, a, b, c, d), 0);
    EXPECT_EQ(card().files.at(sim::kFilePurseValue).contents, hex("010203 AA 040506 00 123456 8F 000000 FF 00000000"));
    EXPECT_EQ(simulator->frames().back().reply_block[2], sim::kStatusOk) << "the card took the record";
}

TEST_F(SimulatedLine, CardReadNeedsTheRightCodeKey) {
    const auto start = card();
    unsigned char out[8] = {};
    ASSERT_EQ(OrvelBCardRead(kPort, start.code_key.data(), out), 0);
    EXPECT_EQ(bytes_of(out, 8), start.files.at(sim::kFileRecords).records[0]);
    EXPECT_FALSE(card().powered);

    sim::Key8 wrong = start.code_key;
    wrong[7] ^= 0x02;  // bit 0 is a parity bit that DES ignores
    ASSERT_EQ(OrvelBCardRead(kPort, wrong.data(), out), 0);  // the library judges no status words
    EXPECT_EQ(bytes_of(out, 2), hex("6982"));
}

TEST_F(SimulatedLine, TheCardStateOutlivesTheClient) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    const unsigned char amount[3] = {0x00, 0x00, 0x64};
    const unsigned char data[8] = {};
    ASSERT_EQ(OrvelCredit(kPort, 0x80, 0x00, amount, data), 0);
    COM_Close(kPort);
    open_port();
    unsigned char balance[4] = {};
    unsigned char tail[3] = {};
    ASSERT_EQ(OrvelRdBal(kPort, 0x80, 0x00, data, balance, tail), 0);
    EXPECT_EQ(bytes_of(balance, 3), hex("00044C"));
}

TEST_F(SimulatedLine, MalformedFramesGetRefusingStatuses) {
    struct Row {
        const char* wire;
        std::uint8_t status;
    };
    for (Row row : {Row{"ZZ\x03", sim::kStatusBadText}, Row{"60024D002E\x03", sim::kStatusBadCheck},
                    Row{"60024D00\x03" , sim::kStatusBadCheck}, Row{"60024D002\x03", sim::kStatusBadText},
                    Row{"\x03", sim::kStatusBadText}}) {
        ASSERT_TRUE(COM_Write(kPort, reinterpret_cast<const unsigned char*>(row.wire), std::strlen(row.wire)));
        unsigned char reply[128] = {};
        EXPECT_EQ(OrvelRcvFrame(kPort, reply), 2) << row.wire;
        EXPECT_EQ(reply[2], row.status) << row.wire;
    }
    ASSERT_EQ(Gcr400PowerOn(kPort), 0) << "the reader still answers well-formed frames";
}

// ---- faults on the reply of the serial-number read (exchange 2) ----------

struct FaultCase {
    const char* name;
    sim::Fault fault;
    int result;
    bool serial_intact;
};

class LineFault : public SimulatedLine, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(LineFault, ReachesTheClientAsALineWouldDeliverIt) {
    const auto& c = GetParam();
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    simulator->inject(2, c.fault);
    unsigned char out[16] = {};
    EXPECT_EQ(OrvelGetInfo(kPort, 0x80, 0x02, 0xA1, out), c.result);
    if (c.result == 0) {
        EXPECT_EQ(bytes_of(out, 8) == hex("1032547698BADCFE"), c.serial_intact);
    }
    ASSERT_EQ(simulator->frames().size(), 2u);
    EXPECT_EQ(simulator->frames()[1].fault.kind, c.fault.kind);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, LineFault,
    ::testing::Values(FaultCase{"none", sim::Fault{}, 0, true},
                      FaultCase{"one_stall_is_survived", sim::Fault::stall_once(kStall), 0, true},
                      FaultCase{"second_stall_loses_the_reply", sim::Fault::stall_twice(kStall), 2, false},
                      FaultCase{"no_reply", sim::Fault::no_reply(), 2, false},
                      FaultCase{"cut_before_terminator", sim::Fault::cut_reply(), 2, false},
                      FaultCase{"refusing_status", sim::Fault::reader_status(0x6F), 2, false},
                      FaultCase{"card_error_status_is_accepted", sim::Fault::reader_status(0xE7), 0, true},
                      FaultCase{"corrupted_serial_character", sim::Fault::corrupt_char(6), 0, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(SimulatedLine, WrongResponseMacAfterTheCardWrote) {
    const auto start = card();
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    ASSERT_EQ(OrvelSelFil(kPort, 0x00, 0x00, 0x02, sim::kFileData), 0);
    simulator->inject_on({.reader_command = sim::kReaderCardInput, .cla = 0x04, .ins = 0xD6}, sim::Fault::wrong_mac());
    const unsigned char data[2] = {0x55, 0xAA};
    EXPECT_EQ(OrvelUpdBin(kPort, 0x04, 0x00, 0x00, 2, data, start.mac_key_a.data(), start.mac_key_b.data()), 5);
    EXPECT_EQ(card().files.at(sim::kFileData).contents[0], 0x55);
    EXPECT_EQ(OrvelUpdBin(kPort, 0x04, 0x00, 0x00, 2, data, start.mac_key_a.data(), start.mac_key_b.data()), 0)
        << "the fault was for one command only";
}

TEST_F(SimulatedLine, LateReplyIsReadAsTheAnswerToTheNextCommand) {
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    simulator->inject(2, sim::Fault::late_reply(kLate));
    unsigned char out[16] = {};
    EXPECT_EQ(OrvelGetInfo(kPort, 0x80, 0x02, 0xA1, out), 2);
    // The issuer block is asked for, the stale serial-number reply arrives.
    ASSERT_EQ(OrvelGetInfo(kPort, 0x80, 0x02, 0xA0, out), 0);
    EXPECT_EQ(bytes_of(out, 8), hex("1032547698BADCFE"));
}

TEST_F(SimulatedLine, TraceShowsEveryFrameDecoded) {
    std::mutex mutex;
    std::vector<std::string> lines;
    simulator->set_trace([&](const std::string& line) {
        std::lock_guard lock(mutex);
        lines.push_back(line);
    });
    ASSERT_EQ(Gcr400PowerOn(kPort), 0);
    serial_number();
    std::lock_guard lock(mutex);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(lines[0], "#1 in  power up 02 00 00");
    EXPECT_EQ(lines[2], "#2 in  card-output GET INFO CLA 80 INS C0 P1 02 P2 A1 Le 08");
    EXPECT_EQ(lines[3], "#2 out status 00 data 1032547698BADCFE SW 90 00");
}

// Simulators share nothing: many at once, each with its own client thread.
TEST(IndependentSimulators, ServeClientsInParallel) {
    constexpr int kCount = 16;
    constexpr int kFirstPort = 20;
    std::vector<std::unique_ptr<sim::Simulator>> simulators;
    for (int i = 0; i < kCount; ++i) {
        simulators.push_back(std::make_unique<sim::Simulator>());
        simulators.back()->map_port(kFirstPort + i);  // before any thread opens a port
    }
    std::vector<int> results(kCount, -1);
    std::vector<std::thread> clients;
    for (int i = 0; i < kCount; ++i) {
        clients.emplace_back([i, &results] {
            const int port = kFirstPort + i;
            COM_Initialize(port, 9600, 8, 'N', 1, kReadTimeoutMs);
            if (COM_Open(port) != 1) return;
            const unsigned char amount[3] = {0x00, 0x00, static_cast<unsigned char>(i)};
            const unsigned char data[8] = {};
            int failures = Gcr400PowerOn(port);
            for (int round = 0; round < 5; ++round) failures += OrvelCredit(port, 0x80, 0x00, amount, data);
            COM_Close(port);
            results[static_cast<std::size_t>(i)] = failures;
        });
    }
    for (auto& client : clients) client.join();
    for (int i = 0; i < kCount; ++i) {
        EXPECT_EQ(results[static_cast<std::size_t>(i)], 0) << i;
        EXPECT_EQ(simulators[static_cast<std::size_t>(i)]->card().balance, 1000u + 5u * static_cast<unsigned>(i)) << i;
    }
}

// ---- the program ----------------------------------------------------------

// Reads from fd until `until` shows up in the text or the time is up.
std::string read_until(int fd, std::string& text, std::string_view until, std::chrono::milliseconds limit) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (text.find(until) == std::string::npos) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) break;
        pollfd pfd{fd, POLLIN, 0};
        if (poll(&pfd, 1, static_cast<int>(left.count())) <= 0) break;
        char buf[512];
        ssize_t n = read(fd, buf, sizeof buf);
        if (n <= 0) break;
        text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
}

TEST(OrvelSimProgram, ExportsItsPortTracesAndStopsOnSigterm) {
    int out[2];
    ASSERT_EQ(pipe(out), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        dup2(out[1], STDOUT_FILENO);
        close(out[0]);
        close(out[1]);
        execl(ORVEL_SIM_PROGRAM, ORVEL_SIM_PROGRAM, "--trace", "--port", "9", "--balance", "77", nullptr);
        _exit(127);
    }
    close(out[1]);
    std::string text;
    read_until(out[0], text, "\n", 10s);
    const std::string prefix = "TARVEX_COM9=";
    ASSERT_EQ(text.rfind(prefix, 0), 0u) << text;
    const std::string path = text.substr(prefix.size(), text.find('\n') - prefix.size());
    setenv("TARVEX_COM9", path.c_str(), 1);

    COM_Initialize(9, 9600, 8, 'N', 1, kReadTimeoutMs);
    ASSERT_EQ(COM_Open(9), 1);
    EXPECT_EQ(Gcr400PowerOn(9), 0);
    unsigned char serial[16] = {};
    EXPECT_EQ(OrvelGetInfo(9, 0x80, 0x02, 0xA1, serial), 0);
    EXPECT_EQ(OrvelSelFil(9, 0x00, 0x00, 0x02, 0x3F01), 0);
    const unsigned char data[4] = {};
    unsigned char balance[4] = {};
    unsigned char tail[3] = {};
    EXPECT_EQ(OrvelRdBal(9, 0x80, 0x00, data, balance, tail), 0);
    EXPECT_EQ(bytes_of(balance, 3), hex("00004D"));
    COM_Close(9);

    read_until(out[0], text, "#6 out", 10s);
    kill(child, SIGTERM);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    close(out[0]);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_NE(text.find("#1 in  power up 02 00 00"), std::string::npos) << text;
    EXPECT_NE(text.find("#2 out status 00 data 1032547698BADCFE SW 90 00"), std::string::npos) << text;
    EXPECT_NE(text.find("#3 in  card-input  SELECT CLA 00 INS A4 P1 00 P2 00 Lc 02 data 3F01"), std::string::npos)
        << text;
}

}  // namespace
