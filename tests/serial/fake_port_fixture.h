// Tests of the port table against the recording fake seam.
#pragma once

#include <gtest/gtest.h>

#include "fake_comm.h"
#include "tarvex.h"

namespace tarvex::testing_fake {

namespace os = tarvex::os;
using fake::Fn;

inline constexpr os::Dword kMaxDword = 0xFFFFFFFFu;

class FakePort : public ::testing::Test {
protected:
    static constexpr int kPort = 7;

    void SetUp() override { fake::reset(); }
    void TearDown() override {
        COM_Close(kPort);
        fake::reset();
    }

    // Opens kPort with the given settings and forgets the calls it made.
    void open_port(int baud = 19200, int data_bits = 8, char parity = 'N', char stop_bits = 1, int t = 100) {
        COM_Initialize(kPort, baud, data_bits, parity, stop_bits, t);
        ASSERT_EQ(COM_Open(kPort), 1);
        forget_calls();
    }

    static void forget_calls() { fake::clear_calls(); }

    static fake::Call last(Fn fn) {
        auto all = fake::calls_of(fn);
        EXPECT_FALSE(all.empty()) << fake::fn_name(fn) << " was not called";
        return all.empty() ? fake::Call{} : all.back();
    }
};

inline bool same_timeouts(const os::CommTimeouts& a, const os::CommTimeouts& b) {
    return a.ReadIntervalTimeout == b.ReadIntervalTimeout &&
           a.ReadTotalTimeoutMultiplier == b.ReadTotalTimeoutMultiplier &&
           a.ReadTotalTimeoutConstant == b.ReadTotalTimeoutConstant &&
           a.WriteTotalTimeoutMultiplier == b.WriteTotalTimeoutMultiplier &&
           a.WriteTotalTimeoutConstant == b.WriteTotalTimeoutConstant;
}

inline os::CommTimeouts working_timeouts(os::Dword t) { return {kMaxDword, 500, t, 500, 1000}; }

}  // namespace tarvex::testing_fake
