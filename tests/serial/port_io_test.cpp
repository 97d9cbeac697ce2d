// COM_Open results and the row state each leaves, COM_Close, transfers,
// queue functions and ACK_Check against the fake seam; port numbers outside
// the table.
#include <array>
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fake_port_fixture.h"
#include "port_table.h"

namespace tarvex::testing_fake {
namespace {

using PortIo = FakePort;
using Bytes = std::vector<std::uint8_t>;

// ---- COM_Open: every outcome ----------------------------------------------------

enum class RowState { closed, open_unconfigured, open };

struct OpenCase {
    const char* name;
    Fn failing;
    bool fail_any;
    int result;
    RowState state;
};

class OpenOutcome : public FakePort, public ::testing::WithParamInterface<OpenCase> {};

TEST_P(OpenOutcome, ResultAndRowState) {
    const auto& c = GetParam();
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    if (c.fail_any) fake::fail(c.failing);
    EXPECT_EQ(COM_Open(kPort), c.result);
    fake::clear_failures();

    switch (c.state) {
        case RowState::closed:
            EXPECT_FALSE(IsOpened(kPort));
            EXPECT_EQ(GetCommHandle(kPort), nullptr);
            EXPECT_EQ(fake::live_handles(), 0u) << "nothing held";
            break;
        case RowState::open_unconfigured:
            EXPECT_TRUE(IsOpened(kPort));
            EXPECT_EQ(GetCommHandle(kPort), last(Fn::CreateFileA).result_handle);
            EXPECT_TRUE(fake::calls_of(Fn::CreateEventA).empty()) << "no events before success";
            EXPECT_EQ(COM_Open(kPort), -99);
            EXPECT_TRUE(COM_Close(kPort));
            EXPECT_FALSE(IsOpened(kPort));
            EXPECT_EQ(fake::live_handles(), 0u) << "COM_Close released the device";
            break;
        case RowState::open:
            EXPECT_TRUE(IsOpened(kPort));
            EXPECT_EQ(fake::live_handles(), 3u) << "device and two events";
            break;
    }
    if (c.result == -1) {
        const auto closes = fake::calls_of(Fn::CloseHandle);
        ASSERT_EQ(closes.size(), 1u);
        EXPECT_EQ(closes[0].handle, last(Fn::CreateFileA).result_handle);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Rows, OpenOutcome,
    ::testing::Values(OpenCase{"Configured", Fn::CreateFileA, false, 1, RowState::open},
                      OpenCase{"DeviceDoesNotOpen", Fn::CreateFileA, true, 0, RowState::closed},
                      OpenCase{"SetCommMaskFails", Fn::SetCommMask, true, 0, RowState::open_unconfigured},
                      OpenCase{"SetupCommFails", Fn::SetupComm, true, 0, RowState::open_unconfigured},
                      OpenCase{"PurgeCommFails", Fn::PurgeComm, true, 0, RowState::open_unconfigured},
                      OpenCase{"GetCommTimeoutsFails", Fn::GetCommTimeouts, true, 0, RowState::open_unconfigured},
                      OpenCase{"SetCommTimeoutsFails", Fn::SetCommTimeouts, true, 0, RowState::open_unconfigured},
                      OpenCase{"GetCommStateFails", Fn::GetCommState, true, 0, RowState::open_unconfigured},
                      OpenCase{"StateRefused", Fn::SetCommState, true, -1, RowState::closed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortIo, OpenTwiceReturnsMinus99AndTouchesNothing) {
    open_port();
    const os::Handle h = GetCommHandle(kPort);
    EXPECT_EQ(COM_Open(kPort), -99);
    EXPECT_TRUE(fake::calls().empty());
    EXPECT_EQ(GetCommHandle(kPort), h);
}

TEST_F(PortIo, ReopenAppliesTheSameStoredSettings) {
    open_port(38400, 7, 'E', 2, 300);
    const os::Dcb applied = fake::device().state;
    COM_Close(kPort);
    fake::device().state = {};  // the device forgot; the row did not
    fake::device().state.DCBlength = 28;
    ASSERT_EQ(COM_Open(kPort), 1);
    const os::Dcb again = last(Fn::SetCommState).dcb;
    EXPECT_EQ(again.BaudRate, applied.BaudRate);
    EXPECT_EQ(again.ByteSize, applied.ByteSize);
    EXPECT_EQ(again.Parity, applied.Parity);
    EXPECT_EQ(again.StopBits, applied.StopBits);
}

// ---- COM_Close ------------------------------------------------------------------

TEST_F(PortIo, CloseOrderAndArguments) {
    fake::device().timeouts = {11, 12, 13, 14, 15};
    open_port();
    const os::Handle device = GetCommHandle(kPort);
    const PortRow& row = *find_row(kPort);
    const os::Handle read_event = row.read_record.hEvent;
    const os::Handle write_event = row.write_record.hEvent;
    ASSERT_NE(read_event, nullptr);
    ASSERT_NE(write_event, nullptr);

    EXPECT_TRUE(COM_Close(kPort));

    const std::vector<Fn> expected = {Fn::SetCommMask, Fn::SetCommTimeouts, Fn::PurgeComm,
                                      Fn::CloseHandle, Fn::CloseHandle,     Fn::CloseHandle};
    ASSERT_EQ(fake::call_sequence(), expected);
    const auto& calls = fake::calls();
    EXPECT_EQ(calls[0].args, (std::vector<os::Dword>{0}));
    EXPECT_TRUE(same_timeouts(calls[1].timeouts, {11, 12, 13, 14, 15}));
    EXPECT_EQ(calls[2].args, (std::vector<os::Dword>{0x000F}));
    EXPECT_EQ(calls[3].handle, device);
    EXPECT_EQ(calls[4].handle, read_event);
    EXPECT_EQ(calls[5].handle, write_event);
    EXPECT_FALSE(IsOpened(kPort));
    EXPECT_EQ(GetCommHandle(kPort), nullptr);
    EXPECT_EQ(row.read_record.hEvent, nullptr);
    EXPECT_EQ(row.write_record.hEvent, nullptr);
    EXPECT_EQ(fake::live_handles(), 0u);
}

TEST_F(PortIo, CloseIgnoresFailuresAndOnClosedPortMakesNoCall) {
    open_port();
    for (Fn fn : {Fn::SetCommMask, Fn::SetCommTimeouts, Fn::PurgeComm, Fn::CloseHandle}) fake::fail(fn);
    EXPECT_TRUE(COM_Close(kPort));
    EXPECT_FALSE(IsOpened(kPort));
    forget_calls();
    EXPECT_TRUE(COM_Close(kPort));
    EXPECT_TRUE(fake::calls().empty());
}

// ---- COM_Read / COM_Write -------------------------------------------------------

struct ReadCase {
    const char* name;
    fake::ReadScript script;
    std::uint32_t count;
    bool result;
};

class ReadOutcome : public FakePort, public ::testing::WithParamInterface<ReadCase> {};

TEST_P(ReadOutcome, ClearsErrorsThenReadsWithTheReadRecord) {
    const auto& c = GetParam();
    open_port();
    fake::device().reads.push_back(c.script);
    std::array<unsigned char, 8> buf{};
    EXPECT_EQ(COM_Read(kPort, buf.data(), c.count), c.result);

    ASSERT_EQ(fake::call_sequence(), (std::vector<Fn>{Fn::ClearCommError, Fn::ReadFile}));
    const fake::Call read = fake::calls()[1];
    EXPECT_EQ(read.args, (std::vector<os::Dword>{c.count}));
    EXPECT_EQ(read.overlapped, &find_row(kPort)->read_record);
    EXPECT_NE(read.overlapped->hEvent, nullptr);
    const std::size_t delivered = std::min<std::size_t>(c.count, c.script.bytes.size());
    EXPECT_EQ(Bytes(buf.begin(), buf.begin() + static_cast<long>(delivered)),
              Bytes(c.script.bytes.begin(), c.script.bytes.begin() + static_cast<long>(delivered)));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, ReadOutcome,
    ::testing::Values(ReadCase{"AllBytes", {{1, 2, 3, 4}, true}, 4, true},
                      ReadCase{"TwoOfFourTimesOut", {{1, 2}, true}, 4, false},
                      ReadCase{"NothingArrives", {{}, true}, 1, false},
                      ReadCase{"ReadFileFails", {{1, 2, 3, 4}, false}, 4, false},
                      ReadCase{"ZeroBytes", {{}, true}, 0, true}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(PortIo, ReadGoesOnWhenClearingErrorsFails) {
    open_port();
    fake::fail(Fn::ClearCommError);
    fake::device().reads.push_back({{9}, true});
    unsigned char b = 0;
    EXPECT_TRUE(COM_Read(kPort, &b, 1));
    EXPECT_EQ(b, 9);
    EXPECT_TRUE(last(Fn::ClearCommError).null_pointers) << "the read discards the counts";
}

TEST_F(PortIo, WriteUsesTheWriteRecordAndNeedsEveryByte) {
    open_port();
    const Bytes msg = {0x60, 0x02, 0x4D};
    EXPECT_TRUE(COM_Write(kPort, msg.data(), 3));
    ASSERT_EQ(fake::call_sequence(), (std::vector<Fn>{Fn::WriteFile})) << "no error clearing before a write";
    EXPECT_EQ(last(Fn::WriteFile).data, msg);
    EXPECT_EQ(last(Fn::WriteFile).overlapped, &find_row(kPort)->write_record);

    fake::device().write_limit = 2;
    EXPECT_FALSE(COM_Write(kPort, msg.data(), 3));
    fake::device().write_limit = kMaxDword;
    fake::fail(Fn::WriteFile);
    EXPECT_FALSE(COM_Write(kPort, msg.data(), 3));
}

TEST_F(PortIo, TransfersOnClosedPortFailWithoutCalls) {
    unsigned char b = 0;
    EXPECT_FALSE(COM_Read(kPort, &b, 1));
    EXPECT_FALSE(COM_Write(kPort, &b, 1));
    EXPECT_TRUE(fake::calls().empty());
}

// ---- Queues and events ----------------------------------------------------------

TEST_F(PortIo, QueueFunctionsPassTheCallsThrough) {
    open_port();
    fake::device().stat.cbInQue = 3;
    fake::device().stat.cbOutQue = 5;
    EXPECT_EQ(Get_RxBufferSize(kPort), 3u);
    EXPECT_EQ(Get_TxBufferSize(kPort), 5u);
    EXPECT_NE(COM_RxBuffer_Clear(kPort), 0);
    EXPECT_NE(COM_TxBuffer_Clear(kPort), 0);
    EXPECT_NE(SetRxEvent(kPort), 0);
    const auto purges = fake::calls_of(Fn::PurgeComm);
    ASSERT_EQ(purges.size(), 2u);
    EXPECT_EQ(purges[0].args, (std::vector<os::Dword>{os::kPurgeRxClear}));
    EXPECT_EQ(purges[1].args, (std::vector<os::Dword>{os::kPurgeTxClear}));

    fake::fail(Fn::ClearCommError);
    fake::fail(Fn::PurgeComm);
    EXPECT_EQ(Get_RxBufferSize(kPort), 0u);
    EXPECT_EQ(Get_TxBufferSize(kPort), 0u);
    EXPECT_EQ(SetRxEvent(kPort), 0);
    EXPECT_EQ(COM_RxBuffer_Clear(kPort), 0);
    EXPECT_EQ(COM_TxBuffer_Clear(kPort), 0);
}

TEST_F(PortIo, WaitRxEventIsTrueOnlyForAReceivedCharacter) {
    open_port();
    EXPECT_TRUE(WaitRxEvent(kPort));
    EXPECT_TRUE(last(Fn::WaitCommEvent).null_pointers) << "no completion record";
    fake::device().event_mask = 0x0004;  // some other event
    EXPECT_FALSE(WaitRxEvent(kPort));
    fake::device().event_mask = os::kEvRxChar;
    fake::fail(Fn::WaitCommEvent);
    EXPECT_FALSE(WaitRxEvent(kPort));
}

TEST_F(PortIo, QueueFunctionsOnClosedPortTouchNoDevice) {
    EXPECT_EQ(COM_RxBuffer_Clear(kPort), 0);
    EXPECT_EQ(COM_TxBuffer_Clear(kPort), 0);
    EXPECT_EQ(Get_RxBufferSize(kPort), 0u);
    EXPECT_EQ(Get_TxBufferSize(kPort), 0u);
    EXPECT_FALSE(WaitRxEvent(kPort));
    EXPECT_EQ(SetRxEvent(kPort), 0);
    EXPECT_TRUE(fake::calls().empty());
}

// ---- ACK_Check ------------------------------------------------------------------

struct AckCase {
    const char* name;
    std::vector<fake::ReadScript> reads;
    int count;
    bool result;
    std::size_t resends;
    std::uint8_t reply0;
};

class AckCheck : public FakePort, public ::testing::WithParamInterface<AckCase> {};

const fake::ReadScript kNothing{{}, true};
constexpr std::uint8_t kAck = 0x06, kNak = 0x15;

TEST_P(AckCheck, AttemptsResendsAndReply) {
    const auto& c = GetParam();
    open_port();
    for (const auto& r : c.reads) fake::device().reads.push_back(r);
    const Bytes msg = {0xAA, 0xBB, 0xCC};
    std::array<unsigned char, 6> reply;
    reply.fill(0xEE);

    EXPECT_EQ(ACK_Check(kPort, msg.data(), reply.data(), c.count), c.result);

    const auto writes = fake::calls_of(Fn::WriteFile);
    ASSERT_EQ(writes.size(), c.resends);
    const Bytes sent(msg.begin(), msg.begin() + std::max(c.count, 0));
    for (const auto& w : writes) EXPECT_EQ(w.data, sent);
    EXPECT_EQ(reply, (std::array<unsigned char, 6>{c.reply0, 0, 0, 0, 0xEE, 0xEE}));
}

INSTANTIATE_TEST_SUITE_P(
    Scenarios, AckCheck,
    ::testing::Values(AckCase{"AckFirst", {{{kAck}, true}}, 3, true, 0, kAck},
                      AckCase{"NakThenAck", {{{kNak}, true}, {{kAck}, true}}, 3, true, 1, kAck},
                      AckCase{"ThreeSilences", {kNothing, kNothing, kNothing}, 3, false, 0, 0},
                      AckCase{"ThreeWrongBytes", {{{kNak}, true}, {{0x41}, true}, {{kNak}, true}}, 3, false, 3, kNak},
                      AckCase{"WrongThenSilence", {{{kNak}, true}, kNothing, kNothing}, 3, false, 1, 0},
                      AckCase{"SilenceSilenceAck", {kNothing, kNothing, {{kAck}, true}}, 3, true, 0, kAck},
                      AckCase{"NegativeCountResendsNothing", {{{kNak}, true}, {{kAck}, true}}, -5, true, 1, kAck}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Port numbers outside 0..200 --------------------------------------------------

class PortOutOfRange : public FakePort, public ::testing::WithParamInterface<int> {};

TEST_P(PortOutOfRange, BehavesAsAPortThatDoesNotExist) {
    const int port = GetParam();
    COM_Initialize(port, 9600, 8, 'N', 1, 0);
    DCB_Clear(port);
    DebugSetting(port, 1);
    EXPECT_FALSE(Get_DebugFlag(port));
    EXPECT_FALSE(IsOpened(port));
    EXPECT_EQ(GetCommHandle(port), nullptr);
    EXPECT_EQ(COM_Open(port), 0);
    EXPECT_EQ(COM_Setting(port, 9600, 8, 'N', 1, 0), 0);
    unsigned char buf[4] = {1, 2, 3, 4};
    EXPECT_FALSE(COM_Read(port, buf, 4));
    EXPECT_FALSE(COM_Write(port, buf, 4));
    EXPECT_EQ(COM_RxBuffer_Clear(port), 0);
    EXPECT_EQ(COM_TxBuffer_Clear(port), 0);
    EXPECT_EQ(Get_RxBufferSize(port), 0u);
    EXPECT_EQ(Get_TxBufferSize(port), 0u);
    EXPECT_FALSE(WaitRxEvent(port));
    EXPECT_EQ(SetRxEvent(port), 0);
    EXPECT_FALSE(ACK_Check(port, buf, buf, 4));
    EXPECT_EQ(std::memcmp(buf, "\0\0\0\0", 4), 0) << "the reply is the caller's: it is cleared";
    EXPECT_TRUE(COM_Close(port));
    EXPECT_TRUE(fake::calls().empty());
    // Row 0 and row 200, the neighbours, are untouched.
    EXPECT_FALSE(Get_DebugFlag(0));
    EXPECT_FALSE(Get_DebugFlag(200));
}

INSTANTIATE_TEST_SUITE_P(Numbers, PortOutOfRange, ::testing::Values(-1, 201, 1000, INT_MIN, INT_MAX));

}  // namespace
}  // namespace tarvex::testing_fake
