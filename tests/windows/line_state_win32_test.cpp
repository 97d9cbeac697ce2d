// What the Win32 layer hands to the device, read back through the real API on
// the handle the library holds: the line state and time-outs that opening and
// reconfiguring apply, and the failure to open a device that does not exist.
#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>

#include "line_scenarios.h"
#include "tarvex.h"

namespace {

using line_scenarios::LineScenario;

class LineState : public LineScenario {
protected:
    int read_timeout_ms() const override { return 250; }

    DCB device_state() const {
        DCB dcb{};
        dcb.DCBlength = sizeof dcb;
        EXPECT_TRUE(GetCommState(static_cast<HANDLE>(GetCommHandle(port())), &dcb));
        return dcb;
    }
    COMMTIMEOUTS device_timeouts() const {
        COMMTIMEOUTS t{};
        EXPECT_TRUE(GetCommTimeouts(static_cast<HANDLE>(GetCommHandle(port())), &t));
        return t;
    }
};

// Peer: expect=5A send=5A
// A pseudo-terminal keeps 8 data bits and no parity whatever it is asked, so
// those two fields are left to the fake-seam tests; rate, stop bits and the
// time-outs do reach it.
TEST_F(LineState, OpenAndSettingReachTheDevice) {
    DCB dcb = device_state();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    COMMTIMEOUTS t = device_timeouts();
    EXPECT_EQ(t.ReadIntervalTimeout, MAXDWORD);
    EXPECT_EQ(t.ReadTotalTimeoutMultiplier, 500u);
    EXPECT_EQ(t.ReadTotalTimeoutConstant, 250u);
    EXPECT_EQ(t.WriteTotalTimeoutMultiplier, 500u);
    EXPECT_EQ(t.WriteTotalTimeoutConstant, 1000u);

    ASSERT_EQ(COM_Setting(port(), 19200, 8, 'N', 2, 40), 1);
    dcb = device_state();
    EXPECT_EQ(dcb.BaudRate, 19200u);
    EXPECT_EQ(dcb.StopBits, TWOSTOPBITS);
    EXPECT_EQ(device_timeouts().ReadTotalTimeoutConstant, 40u);

    // An unlisted rate falls back to 9600.
    ASSERT_EQ(COM_Setting(port(), 128000, 8, 'N', 1, 250), 1);
    dcb = device_state();
    EXPECT_EQ(dcb.BaudRate, 9600u);
    EXPECT_EQ(dcb.StopBits, ONESTOPBIT);
    finish();
}

// No peer: nothing is mapped at this port number.
TEST(MissingDevice, OpenFailsAndHoldsNoHandle) {
    constexpr int kUnmappedPort = 187;
    EXPECT_EQ(COM_Open(kUnmappedPort), 0);
    EXPECT_FALSE(IsOpened(kUnmappedPort));
    EXPECT_EQ(GetCommHandle(kUnmappedPort), nullptr);
    EXPECT_TRUE(COM_Close(kUnmappedPort));
}

}  // namespace
