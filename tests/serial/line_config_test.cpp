// Line configuration, COM_Setting and the stored settings, against the fake
// seam: the exact calls, the DCB mapping, each failure row and what it leaves.
#include <climits>
#include <cstring>
#include <string>
#include <vector>

#include "fake_port_fixture.h"
#include "port_table.h"

namespace tarvex::testing_fake {
namespace {

using LineConfig = FakePort;

TEST_F(LineConfig, OpenMakesTheConfigurationCallsInOrderWithTheirArguments) {
    COM_Initialize(kPort, 19200, 8, 'E', 1, 250);
    ASSERT_EQ(COM_Open(kPort), 1);

    const std::vector<Fn> expected = {Fn::CreateFileA,     Fn::SetCommMask,  Fn::SetupComm,    Fn::PurgeComm,
                                      Fn::GetCommTimeouts, Fn::SetCommTimeouts, Fn::GetCommState, Fn::SetCommState,
                                      Fn::CreateEventA,    Fn::CreateEventA};
    ASSERT_EQ(fake::call_sequence(), expected);
    const auto& calls = fake::calls();

    const fake::Call& create = calls[0];
    EXPECT_EQ(create.path, "\\\\?\\COM7");
    EXPECT_EQ(create.args, (std::vector<os::Dword>{os::kGenericRead | os::kGenericWrite, 0, os::kOpenExisting,
                                                   os::kFileAttributeNormal}));
    EXPECT_TRUE(create.null_pointers);
    const os::Handle device = create.result_handle;
    EXPECT_EQ(GetCommHandle(kPort), device);
    for (std::size_t i = 1; i <= 7; ++i) EXPECT_EQ(calls[i].handle, device) << fake::fn_name(calls[i].fn);

    EXPECT_EQ(calls[1].args, (std::vector<os::Dword>{os::kEvRxChar}));
    EXPECT_EQ(calls[2].args, (std::vector<os::Dword>{4096, 4096}));
    EXPECT_EQ(calls[3].args, (std::vector<os::Dword>{0x000F}));
    EXPECT_TRUE(same_timeouts(calls[5].timeouts, working_timeouts(250)));
    for (std::size_t i : {8u, 9u}) {
        EXPECT_EQ(calls[i].args, (std::vector<os::Dword>{1, 0})) << "manual reset, not signalled";
        EXPECT_TRUE(calls[i].null_pointers) << "no security attributes, no name";
    }
}

TEST_F(LineConfig, OnlyTheFourMappedFieldsDifferFromTheDeviceState) {
    os::Dcb& present = fake::device().state;
    present.fOutX = 1;
    present.fRtsControl = 2;
    present.XonLim = 77;
    present.XonChar = 0x11;
    present.EvtChar = 0x7E;
    present.Parity = os::kSpaceParity;
    os::Dcb expected = present;
    expected.BaudRate = 57600;
    expected.ByteSize = 7;
    expected.Parity = os::kOddParity;
    expected.StopBits = os::kTwoStopBits;

    COM_Initialize(kPort, 57600, 7, 'O', 2, 0);
    ASSERT_EQ(COM_Open(kPort), 1);
    const os::Dcb sent = last(Fn::SetCommState).dcb;
    EXPECT_EQ(std::memcmp(&sent, &expected, sizeof sent), 0);
}

TEST_F(LineConfig, PathHasNoLeadingZerosAndCoversTheWholeRange) {
    for (int port : {0, 12, 200}) {
        fake::reset();
        COM_Initialize(port, 9600, 8, 'N', 1, 0);
        ASSERT_EQ(COM_Open(port), 1);
        EXPECT_EQ(last(Fn::CreateFileA).path, "\\\\?\\COM" + std::to_string(port));
        COM_Close(port);
    }
}

// ---- The DCB mapping, one row per setting ------------------------------------

struct MappingCase {
    const char* name;
    int baud;
    int data_bits;
    char parity;
    char stop_bits;
    os::Dword want_baud;
    os::Byte want_byte_size;
    os::Byte want_parity;  // the device reports space parity before the call
    os::Byte want_stop_bits;
};

class DcbMapping : public FakePort, public ::testing::WithParamInterface<MappingCase> {};

TEST_P(DcbMapping, SetCommStateGetsTheMappedFields) {
    const auto& c = GetParam();
    fake::device().state.Parity = os::kSpaceParity;
    COM_Initialize(kPort, c.baud, c.data_bits, c.parity, c.stop_bits, 0);
    ASSERT_EQ(COM_Open(kPort), 1);
    const os::Dcb sent = last(Fn::SetCommState).dcb;
    EXPECT_EQ(sent.BaudRate, c.want_baud);
    EXPECT_EQ(sent.ByteSize, c.want_byte_size);
    EXPECT_EQ(sent.Parity, c.want_parity);
    EXPECT_EQ(sent.StopBits, c.want_stop_bits);
}

constexpr os::Byte kN = os::kNoParity, kO = os::kOddParity, kE = os::kEvenParity, kM = os::kMarkParity,
                   kS = os::kSpaceParity;
constexpr os::Byte k1 = os::kOneStopBit, k15 = os::kOne5StopBits, k2 = os::kTwoStopBits;

INSTANTIATE_TEST_SUITE_P(
    Table, DcbMapping,
    ::testing::Values(
        MappingCase{"Baud110", 110, 8, 'N', 1, 110, 8, kN, k1},
        MappingCase{"Baud300", 300, 8, 'N', 1, 300, 8, kN, k1},
        MappingCase{"Baud600", 600, 8, 'N', 1, 600, 8, kN, k1},
        MappingCase{"Baud1200", 1200, 8, 'N', 1, 1200, 8, kN, k1},
        MappingCase{"Baud2400", 2400, 8, 'N', 1, 2400, 8, kN, k1},
        MappingCase{"Baud4800", 4800, 8, 'N', 1, 4800, 8, kN, k1},
        MappingCase{"Baud14400", 14400, 8, 'N', 1, 14400, 8, kN, k1},
        MappingCase{"Baud19200", 19200, 8, 'N', 1, 19200, 8, kN, k1},
        MappingCase{"Baud38400", 38400, 8, 'N', 1, 38400, 8, kN, k1},
        MappingCase{"Baud56000", 56000, 8, 'N', 1, 56000, 8, kN, k1},
        MappingCase{"Baud57600", 57600, 8, 'N', 1, 57600, 8, kN, k1},
        MappingCase{"Baud115200", 115200, 8, 'N', 1, 115200, 8, kN, k1},
        MappingCase{"Baud256000", 256000, 8, 'N', 1, 256000, 8, kN, k1},
        MappingCase{"Baud9600", 9600, 8, 'N', 1, 9600, 8, kN, k1},
        MappingCase{"Baud128000Gives9600", 128000, 8, 'N', 1, 9600, 8, kN, k1},
        MappingCase{"Baud230400Gives9600", 230400, 8, 'N', 1, 9600, 8, kN, k1},
        MappingCase{"BaudZeroGives9600", 0, 8, 'N', 1, 9600, 8, kN, k1},
        MappingCase{"BaudMinusOneGives9600", -1, 8, 'N', 1, 9600, 8, kN, k1},
        MappingCase{"DataBitsLowByteOnly", 9600, 0x108, 'N', 1, 9600, 8, kN, k1},
        MappingCase{"DataBitsSeven", 9600, 7, 'N', 1, 9600, 7, kN, k1},
        MappingCase{"DataBitsZeroUnchecked", 9600, 0, 'N', 1, 9600, 0, kN, k1},
        MappingCase{"ParityUpperE", 9600, 8, 'E', 1, 9600, 8, kE, k1},
        MappingCase{"ParityLowerE", 9600, 8, 'e', 1, 9600, 8, kE, k1},
        MappingCase{"ParityUpperO", 9600, 8, 'O', 1, 9600, 8, kO, k1},
        MappingCase{"ParityLowerO", 9600, 8, 'o', 1, 9600, 8, kO, k1},
        MappingCase{"ParityUpperM", 9600, 8, 'M', 1, 9600, 8, kM, k1},
        MappingCase{"ParityLowerM", 9600, 8, 'm', 1, 9600, 8, kM, k1},
        MappingCase{"ParityLowerN", 9600, 8, 'n', 1, 9600, 8, kN, k1},
        MappingCase{"ParityLetterSKeepsDevice", 9600, 8, 'S', 1, 9600, 8, kS, k1},
        MappingCase{"ParityZeroByteKeepsDevice", 9600, 8, '\0', 1, 9600, 8, kS, k1},
        MappingCase{"StopCodeTwo", 9600, 8, 'N', 2, 9600, 8, kN, k2},
        MappingCase{"StopCodeZeroIsOneAndHalf", 9600, 5, 'N', 0, 9600, 5, kN, k15},
        MappingCase{"StopCodeFifteenIsOneAndHalf", 9600, 8, 'N', 15, 9600, 8, kN, k15},
        MappingCase{"StopCodeAsciiOneIsOneAndHalf", 9600, 8, 'N', '1', 9600, 8, kN, k15}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineConfig, NeverInitialisedPortUsesTheZeroFilledRow) {
    constexpr int kUntouched = 199;
    fake::device().state.Parity = os::kMarkParity;
    ASSERT_EQ(COM_Open(kUntouched), 1);
    const os::Dcb sent = last(Fn::SetCommState).dcb;
    EXPECT_EQ(sent.BaudRate, 9600u);
    EXPECT_EQ(sent.ByteSize, 0);
    EXPECT_EQ(sent.Parity, os::kMarkParity);
    EXPECT_EQ(sent.StopBits, os::kOne5StopBits);
    EXPECT_EQ(last(Fn::SetCommTimeouts).timeouts.ReadTotalTimeoutConstant, 0u);
    COM_Close(kUntouched);
}

TEST_F(LineConfig, ReadTimeoutConstantZeroIsPassedOn) {
    open_port(9600, 8, 'N', 1, 0);
    EXPECT_TRUE(same_timeouts(fake::device().timeouts, working_timeouts(0)));
}

// ---- COM_Setting: each row of outcomes and the state it leaves ----------------

struct SettingCase {
    const char* name;
    Fn failing;        // the call made to fail; SetCommState means the state is refused
    bool fail_any;     // false: nothing fails
    int result;
    bool new_settings_stored;
    bool new_timeouts_in_force;
    bool new_state_applied;
};

class SettingOutcome : public FakePort, public ::testing::WithParamInterface<SettingCase> {};

constexpr int kOldBaud = 19200, kNewBaud = 57600;
constexpr int kOldT = 100, kNewT = 700;

TEST_P(SettingOutcome, ResultAndStateAfterwards) {
    const auto& c = GetParam();
    open_port(kOldBaud, 8, 'N', 1, kOldT);
    DebugSetting(kPort, 1);
    const std::size_t live_before = fake::live_handles();
    const os::Handle old_read_event = find_row(kPort)->read_record.hEvent;
    if (c.fail_any) fake::fail(c.failing);

    EXPECT_EQ(COM_Setting(kPort, kNewBaud, 8, 'N', 1, kNewT), c.result);

    EXPECT_TRUE(IsOpened(kPort)) << "COM_Setting never closes the port";
    EXPECT_TRUE(Get_DebugFlag(kPort)) << "COM_Setting leaves the debug flag alone";
    EXPECT_EQ(fake::device().timeouts.ReadTotalTimeoutConstant,
              static_cast<os::Dword>(c.new_timeouts_in_force ? kNewT : kOldT));
    EXPECT_EQ(fake::device().state.BaudRate, static_cast<os::Dword>(c.new_state_applied ? kNewBaud : kOldBaud));
    if (c.result == 1) {
        EXPECT_NE(find_row(kPort)->read_record.hEvent, old_read_event) << "fresh events";
        EXPECT_EQ(fake::live_handles(), live_before) << "the old events were released";
        const auto closes = fake::calls_of(Fn::CloseHandle);
        ASSERT_EQ(closes.size(), 2u);
        EXPECT_EQ(closes[0].handle, old_read_event);
    } else {
        EXPECT_TRUE(fake::calls_of(Fn::CreateEventA).empty());
    }

    // What is stored shows at the next open.
    fake::clear_failures();
    COM_Close(kPort);
    ASSERT_EQ(COM_Open(kPort), 1);
    EXPECT_EQ(last(Fn::SetCommState).dcb.BaudRate,
              static_cast<os::Dword>(c.new_settings_stored ? kNewBaud : kOldBaud));
    EXPECT_EQ(last(Fn::SetCommTimeouts).timeouts.ReadTotalTimeoutConstant,
              static_cast<os::Dword>(c.new_settings_stored ? kNewT : kOldT));
}

INSTANTIATE_TEST_SUITE_P(
    Rows, SettingOutcome,
    ::testing::Values(SettingCase{"Applied", Fn::SetCommState, false, 1, true, true, true},
                      SettingCase{"SetCommMaskFails", Fn::SetCommMask, true, 0, false, false, false},
                      SettingCase{"SetupCommFails", Fn::SetupComm, true, 0, false, false, false},
                      SettingCase{"PurgeCommFails", Fn::PurgeComm, true, 0, false, false, false},
                      SettingCase{"GetCommTimeoutsFails", Fn::GetCommTimeouts, true, 0, false, false, false},
                      SettingCase{"SetCommTimeoutsFails", Fn::SetCommTimeouts, true, 0, true, false, false},
                      SettingCase{"GetCommStateFails", Fn::GetCommState, true, 0, true, true, false},
                      SettingCase{"StateRefused", Fn::SetCommState, true, -1, true, true, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineConfig, SettingOnClosedPortReturnsZeroAndStoresNothing) {
    COM_Initialize(kPort, kOldBaud, 8, 'N', 1, kOldT);
    EXPECT_EQ(COM_Setting(kPort, kNewBaud, 8, 'N', 1, kNewT), 0);
    EXPECT_TRUE(fake::calls().empty());
    ASSERT_EQ(COM_Open(kPort), 1);
    EXPECT_EQ(last(Fn::SetCommState).dcb.BaudRate, static_cast<os::Dword>(kOldBaud));
}

TEST_F(LineConfig, SettingOnOpenButUnconfiguredPortConfiguresIt) {
    COM_Initialize(kPort, kOldBaud, 8, 'N', 1, kOldT);
    fake::fail(Fn::SetupComm, 1);
    ASSERT_EQ(COM_Open(kPort), 0);
    fake::clear_failures();
    EXPECT_EQ(COM_Setting(kPort, kNewBaud, 8, 'N', 1, kNewT), 1);
    EXPECT_EQ(fake::calls_of(Fn::CreateEventA).size(), 2u);
}

TEST_F(LineConfig, CloseAfterSettingRestoresTheEarlierWorkingTimeouts) {
    fake::device().timeouts = {1, 2, 3, 4, 5};  // as found before the library touched the device
    open_port(kOldBaud, 8, 'N', 1, kOldT);
    ASSERT_EQ(COM_Setting(kPort, kNewBaud, 8, 'N', 1, kNewT), 1);
    COM_Close(kPort);
    EXPECT_TRUE(same_timeouts(fake::device().timeouts, working_timeouts(kOldT)));
}

TEST_F(LineConfig, CloseWithoutSettingRestoresTheTimeoutsFoundAtOpen) {
    fake::device().timeouts = {1, 2, 3, 4, 5};
    open_port();
    COM_Close(kPort);
    EXPECT_TRUE(same_timeouts(fake::device().timeouts, {1, 2, 3, 4, 5}));
}

// ---- Stored values: debug flag, DCB_Clear --------------------------------------

struct DebugCase {
    const char* name;
    int value;
    bool flag;
};

class DebugFlag : public FakePort, public ::testing::WithParamInterface<DebugCase> {};

TEST_P(DebugFlag, OnlyOneSetsIt) {
    DebugSetting(kPort, 1);
    DebugSetting(kPort, GetParam().value);
    EXPECT_EQ(Get_DebugFlag(kPort), GetParam().flag);
    EXPECT_TRUE(fake::calls().empty()) << "the flag touches no device";
}

INSTANTIATE_TEST_SUITE_P(Values, DebugFlag,
                         ::testing::Values(DebugCase{"One", 1, true}, DebugCase{"Two", 2, false},
                                           DebugCase{"Zero", 0, false}, DebugCase{"MinusOne", -1, false},
                                           DebugCase{"Large", 257, false}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(LineConfig, InitializeClearsTheDebugFlagAndTouchesNoDevice) {
    DebugSetting(kPort, 1);
    COM_Initialize(kPort, 9600, 8, 'N', 1, 0);
    EXPECT_FALSE(Get_DebugFlag(kPort));
    EXPECT_TRUE(fake::calls().empty());
}

TEST_F(LineConfig, DcbClearWritesTheDefaultsIntoTheRow) {
    open_port(115200, 7, 'E', 2, 0);
    PortRow* row = find_row(kPort);
    std::memset(&row->line_state, 0xFF, sizeof row->line_state);
    DCB_Clear(kPort);
    os::Dcb expected{};
    expected.DCBlength = 28;
    expected.BaudRate = 9600;
    expected.ByteSize = 8;
    EXPECT_EQ(std::memcmp(&row->line_state, &expected, sizeof expected), 0);
    EXPECT_TRUE(fake::calls().empty());
    EXPECT_TRUE(IsOpened(kPort));
}

}  // namespace
}  // namespace tarvex::testing_fake
