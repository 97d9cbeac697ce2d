// The POSIX tty layer through the seam, on pseudo-terminals: device names,
// exclusive open, raw bytes, line states the tty takes or refuses, time-outs,
// hangups, and handles.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "comm_api.h"
#include "posix/device_name.h"
#include "pty_pair.h"

namespace {

namespace os = tarvex::os;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;
using testing_support::map_port;
using testing_support::PtyPair;
using testing_support::unmap_port;
using Bytes = std::vector<std::uint8_t>;

constexpr os::Dword kMaxDword = 0xFFFFFFFFu;
// Generous: a loaded 2-core machine may be late, never early.
constexpr milliseconds kLateMargin{400};

long long elapsed_ms(Clock::time_point since) {
    return std::chrono::duration_cast<milliseconds>(Clock::now() - since).count();
}

// ---- Device names ---------------------------------------------------------------

struct NameCase {
    const char* name;
    const char* device;
    const char* variable;  // TARVEX_COM<n>, or null to leave it unset
    const char* value;
    const char* expected;  // null: names no device
};

class DeviceName : public testing::TestWithParam<NameCase> {};

TEST_P(DeviceName, Resolves) {
    const auto& c = GetParam();
    for (int n : {0, 1, 3, 5, 7, 12}) unmap_port(n);
    if (c.variable) setenv(c.variable, c.value, 1);
    const auto got = tarvex::posix::resolve_device(c.device);
    if (c.variable) unsetenv(c.variable);
    if (c.expected) {
        ASSERT_TRUE(got.has_value());
        EXPECT_EQ(*got, c.expected);
    } else {
        EXPECT_FALSE(got.has_value()) << *got;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Table, DeviceName,
    testing::Values(NameCase{"VariableWins", "\\\\?\\COM3", "TARVEX_COM3", "/dev/ttyUSB0", "/dev/ttyUSB0"},
                    NameCase{"DefaultIsTtySMinusOne", "\\\\?\\COM3", nullptr, nullptr, "/dev/ttyS2"},
                    NameCase{"Com1IsTtyS0", "\\\\?\\COM1", nullptr, nullptr, "/dev/ttyS0"},
                    NameCase{"TwoDigits", "\\\\?\\COM12", nullptr, nullptr, "/dev/ttyS11"},
                    NameCase{"Com0WithoutVariableIsNothing", "\\\\?\\COM0", nullptr, nullptr, nullptr},
                    NameCase{"Com0WithVariable", "\\\\?\\COM0", "TARVEX_COM0", "/dev/pts/9", "/dev/pts/9"},
                    NameCase{"EmptyVariableIsUnset", "\\\\?\\COM5", "TARVEX_COM5", "", "/dev/ttyS4"},
                    NameCase{"OtherVariableIgnored", "\\\\?\\COM1", "TARVEX_COM12", "/dev/x", "/dev/ttyS0"},
                    NameCase{"DotPrefix", "\\\\.\\COM7", nullptr, nullptr, "/dev/ttyS6"},
                    NameCase{"PlainLowercase", "com7", nullptr, nullptr, "/dev/ttyS6"},
                    NameCase{"LeadingZeroIsNothing", "\\\\?\\COM012", nullptr, nullptr, nullptr},
                    NameCase{"NoNumberIsNothing", "\\\\?\\COM", nullptr, nullptr, nullptr},
                    NameCase{"SignIsNothing", "\\\\?\\COM-1", nullptr, nullptr, nullptr},
                    NameCase{"OtherDeviceIsNothing", "\\\\?\\LPT1", nullptr, nullptr, nullptr},
                    NameCase{"TrailingTextIsNothing", "\\\\?\\COM3x", nullptr, nullptr, nullptr},
                    NameCase{"PathIsNothing", "/dev/ttyS0", nullptr, nullptr, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- A pty opened through the seam ------------------------------------------------

class PosixSeam : public testing::Test {
protected:
    static constexpr int kCom = 41;
    static constexpr const char* kName = "\\\\?\\COM41";

    void SetUp() override {
        map_port(kCom, pty_.slave_path());
        h_ = open_device();
        ASSERT_NE(h_, os::kInvalidHandle);
    }
    void TearDown() override {
        if (h_ != os::kInvalidHandle) os::CloseHandle(h_);
        unmap_port(kCom);
    }

    static os::Handle open_device() {
        return os::CreateFileA(kName, os::kGenericRead | os::kGenericWrite, 0, nullptr, os::kOpenExisting,
                               os::kFileAttributeNormal, nullptr);
    }

    void set_timeouts(os::CommTimeouts t) { ASSERT_TRUE(os::SetCommTimeouts(h_, &t)); }

    os::Dcb state() {
        os::Dcb dcb{};
        EXPECT_TRUE(os::GetCommState(h_, &dcb));
        return dcb;
    }

    // pty delivery is asynchronous: wait until the receive queue holds n.
    bool wait_in_queue(os::Dword n) {
        const auto until = Clock::now() + milliseconds(2000);
        while (Clock::now() < until) {
            os::ComStat stat{};
            os::Dword errors = 0;
            if (os::ClearCommError(h_, &errors, &stat) && stat.cbInQue == n) return true;
            std::this_thread::sleep_for(milliseconds(2));
        }
        return false;
    }

    PtyPair pty_;
    os::Handle h_ = os::kInvalidHandle;
};

TEST_F(PosixSeam, SecondOpenIsRefusedUntilTheFirstCloses) {
    EXPECT_EQ(open_device(), os::kInvalidHandle);
    // Root passes TIOCEXCL; the lock still holds the device.
    const int fd = ::open(pty_.slave_path().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (fd >= 0) {
        EXPECT_NE(::flock(fd, LOCK_EX | LOCK_NB), 0);
        ::close(fd);
    }
    ASSERT_TRUE(os::CloseHandle(h_));
    h_ = open_device();
    EXPECT_NE(h_, os::kInvalidHandle) << "closing released the lock and the exclusive mode";
}

TEST_F(PosixSeam, OpenRefusesWhatIsNotATtyOrNotThere) {
    map_port(kCom + 1, "/dev/null");
    EXPECT_EQ(os::CreateFileA("\\\\?\\COM42", os::kGenericRead | os::kGenericWrite, 0, nullptr, os::kOpenExisting,
                              os::kFileAttributeNormal, nullptr),
              os::kInvalidHandle);
    map_port(kCom + 1, "/nonexistent/tty");
    EXPECT_EQ(os::CreateFileA("\\\\?\\COM42", os::kGenericRead | os::kGenericWrite, 0, nullptr, os::kOpenExisting,
                              os::kFileAttributeNormal, nullptr),
              os::kInvalidHandle);
    unmap_port(kCom + 1);
}

TEST_F(PosixSeam, EveryByteValuePassesBothWays) {
    Bytes all(256);
    for (std::size_t i = 0; i < all.size(); ++i) all[i] = static_cast<std::uint8_t>(i);
    set_timeouts({kMaxDword, 500, 1000, 500, 1000});

    pty_.write_master(all);
    Bytes got(256);
    os::Dword n = 0;
    ASSERT_TRUE(os::ReadFile(h_, got.data(), 256, &n, nullptr));
    EXPECT_EQ(n, 256u);
    EXPECT_EQ(got, all);

    ASSERT_TRUE(os::WriteFile(h_, all.data(), 256, &n, nullptr));
    EXPECT_EQ(n, 256u);
    EXPECT_EQ(pty_.read_master(256, milliseconds(2000)), all);
}

// ---- Line states -----------------------------------------------------------------

class BaudRate : public PosixSeam, public testing::WithParamInterface<os::Dword> {};

TEST_P(BaudRate, IsTakenAndReportedBack) {
    os::Dcb dcb = state();
    dcb.BaudRate = GetParam();
    ASSERT_TRUE(os::SetCommState(h_, &dcb));
    EXPECT_EQ(state().BaudRate, GetParam());
}

INSTANTIATE_TEST_SUITE_P(EveryMappedRate, BaudRate,
                         testing::Values(110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000,
                                         57600, 115200, 256000));

TEST_F(PosixSeam, TwoStopBitsAreTakenOnAPty) {
    os::Dcb dcb = state();
    dcb.StopBits = os::kTwoStopBits;
    ASSERT_TRUE(os::SetCommState(h_, &dcb));
    EXPECT_EQ(state().StopBits, os::kTwoStopBits);
    dcb.StopBits = os::kOneStopBit;
    ASSERT_TRUE(os::SetCommState(h_, &dcb));
    EXPECT_EQ(state().StopBits, os::kOneStopBit);
}

TEST_F(PosixSeam, ReportedStateIsRawEightBitsNoFlowControl) {
    const os::Dcb dcb = state();
    EXPECT_EQ(dcb.DCBlength, 28u);
    EXPECT_EQ(dcb.fBinary, 1u);
    EXPECT_EQ(dcb.ByteSize, 8);
    EXPECT_EQ(dcb.Parity, os::kNoParity);
    EXPECT_EQ(dcb.fOutX, 0u);
    EXPECT_EQ(dcb.fInX, 0u);
    EXPECT_EQ(dcb.fOutxCtsFlow, 0u);
}

struct RefusedCase {
    const char* name;
    os::Byte byte_size;
    os::Byte parity;
    os::Byte stop_bits;
    os::Dword baud;
};

class RefusedState : public PosixSeam, public testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedState, IsRefusedAndTheDeviceKeepsItsState) {
    const auto& c = GetParam();
    os::Dcb before = state();
    before.BaudRate = 19200;
    ASSERT_TRUE(os::SetCommState(h_, &before));
    os::Dcb dcb = before;
    dcb.ByteSize = c.byte_size;
    dcb.Parity = c.parity;
    dcb.StopBits = c.stop_bits;
    dcb.BaudRate = c.baud;
    EXPECT_FALSE(os::SetCommState(h_, &dcb));
    const os::Dcb after = state();
    EXPECT_EQ(after.BaudRate, 19200u);
    EXPECT_EQ(after.ByteSize, 8);
    EXPECT_EQ(after.Parity, os::kNoParity);
    EXPECT_EQ(after.StopBits, os::kOneStopBit);
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedState,
    testing::Values(RefusedCase{"ByteSizeZero", 0, os::kNoParity, os::kOneStopBit, 9600},
                    RefusedCase{"ByteSizeFour", 4, os::kNoParity, os::kOneStopBit, 9600},
                    RefusedCase{"ByteSizeNine", 9, os::kNoParity, os::kOneStopBit, 9600},
                    RefusedCase{"OneAndHalfStopWithEightBits", 8, os::kNoParity, os::kOne5StopBits, 9600},
                    RefusedCase{"TwoStopWithFiveBits", 5, os::kNoParity, os::kTwoStopBits, 9600},
                    RefusedCase{"UnknownStopBits", 8, os::kNoParity, 3, 9600},
                    RefusedCase{"UnknownParity", 8, 5, os::kOneStopBit, 9600},
                    RefusedCase{"RateZero", 8, os::kNoParity, os::kOneStopBit, 0},
                    // A pty forces 8 data bits and no parity: what it cannot keep is refused.
                    RefusedCase{"SevenBitsOnPty", 7, os::kNoParity, os::kOneStopBit, 9600},
                    RefusedCase{"EvenParityOnPty", 8, os::kEvenParity, os::kOneStopBit, 9600},
                    RefusedCase{"MarkParityOnPty", 8, os::kMarkParity, os::kOneStopBit, 9600}),
    [](const auto& info) { return std::string(info.param.name); });

// ---- Time-outs, queues, hangups ------------------------------------------------------

TEST_F(PosixSeam, ReadReturnsAsSoonAsAllBytesArrive) {
    set_timeouts({kMaxDword, 500, 5000, 500, 1000});
    auto writer = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(50));
        pty_.write_master(Bytes{1, 2});
        std::this_thread::sleep_for(milliseconds(50));
        pty_.write_master(Bytes{3});
    });
    Bytes got(3);
    os::Dword n = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(os::ReadFile(h_, got.data(), 3, &n, nullptr));
    EXPECT_LT(elapsed_ms(start), 3000);
    EXPECT_EQ(n, 3u);
    EXPECT_EQ(got, (Bytes{1, 2, 3}));
}

TEST_F(PosixSeam, ReadTimeOutIsMultiplierTimesCountPlusConstant) {
    set_timeouts({kMaxDword, 100, 150, 500, 1000});
    pty_.write_master(Bytes{7});
    Bytes got(3, 0);
    os::Dword n = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(os::ReadFile(h_, got.data(), 3, &n, nullptr)) << "a time-out is not an error";
    const auto took = elapsed_ms(start);
    EXPECT_GE(took, 100 * 3 + 150);
    EXPECT_LT(took, 100 * 3 + 150 + kLateMargin.count());
    EXPECT_EQ(n, 1u);
    EXPECT_EQ(got[0], 7);
}

TEST_F(PosixSeam, ImmediateReadTimeoutsReturnWhatIsWaiting) {
    set_timeouts({kMaxDword, 0, 0, 0, 0});
    Bytes got(4);
    os::Dword n = 99;
    const auto start = Clock::now();
    ASSERT_TRUE(os::ReadFile(h_, got.data(), 4, &n, nullptr));
    EXPECT_LT(elapsed_ms(start), 200);
    EXPECT_EQ(n, 0u);
}

TEST_F(PosixSeam, WriteTimesOutWhenNobodyReads) {
    set_timeouts({kMaxDword, 500, 0, 0, 200});
    Bytes big(1 << 20, 0x55);
    os::Dword n = 0;
    const auto start = Clock::now();
    ASSERT_TRUE(os::WriteFile(h_, big.data(), static_cast<os::Dword>(big.size()), &n, nullptr));
    const auto took = elapsed_ms(start);
    EXPECT_GE(took, 200);
    EXPECT_LT(took, 200 + kLateMargin.count());
    EXPECT_LT(n, big.size());
}

TEST_F(PosixSeam, HangupFailsAPendingReadAtOnce) {
    set_timeouts({kMaxDword, 500, 10000, 500, 1000});
    auto unplug = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        pty_.hang_up();
    });
    unsigned char b = 0;
    os::Dword n = 0;
    const auto start = Clock::now();
    EXPECT_FALSE(os::ReadFile(h_, &b, 1, &n, nullptr));
    EXPECT_LT(elapsed_ms(start), 2000) << "not spinning until the 10.5 s time-out";
    unplug.get();
    os::Dword mask = 0;
    ASSERT_TRUE(os::SetCommMask(h_, os::kEvRxChar));
    EXPECT_FALSE(os::WaitCommEvent(h_, &mask, nullptr)) << "a wait after the hangup fails too";
}

TEST_F(PosixSeam, HangupFailsAPendingWait) {
    ASSERT_TRUE(os::SetCommMask(h_, os::kEvRxChar));
    auto unplug = std::async(std::launch::async, [&] {
        std::this_thread::sleep_for(milliseconds(100));
        pty_.hang_up();
    });
    os::Dword mask = 0;
    EXPECT_FALSE(os::WaitCommEvent(h_, &mask, nullptr));
    unplug.get();
}

TEST_F(PosixSeam, CloseHandleReleasesAPendingWait) {
    ASSERT_TRUE(os::SetCommMask(h_, os::kEvRxChar));
    auto waiter = std::async(std::launch::async, [h = h_] {
        os::Dword mask = 0;
        return os::WaitCommEvent(h, &mask, nullptr);
    });
    std::this_thread::sleep_for(milliseconds(100));
    ASSERT_TRUE(os::CloseHandle(h_));
    h_ = os::kInvalidHandle;
    ASSERT_EQ(waiter.wait_for(milliseconds(2000)), std::future_status::ready);
    EXPECT_FALSE(waiter.get());
    h_ = open_device();
    EXPECT_NE(h_, os::kInvalidHandle) << "the woken wait let go of the device";
}

TEST_F(PosixSeam, WaitNeedsTheMaskAndEndsOnAByte) {
    os::Dword mask = 0;
    ASSERT_TRUE(os::SetCommMask(h_, 0));
    EXPECT_FALSE(os::WaitCommEvent(h_, &mask, nullptr)) << "no event could ever end it";
    ASSERT_TRUE(os::SetCommMask(h_, os::kEvRxChar));
    pty_.write_master(Bytes{0x42});
    EXPECT_TRUE(os::WaitCommEvent(h_, &mask, nullptr));
    EXPECT_EQ(mask, os::kEvRxChar);
}

TEST_F(PosixSeam, QueueCountsAndPurges) {
    pty_.write_master(Bytes{1, 2, 3});
    ASSERT_TRUE(wait_in_queue(3));
    os::ComStat stat{};
    os::Dword errors = 7;
    ASSERT_TRUE(os::ClearCommError(h_, &errors, &stat));
    EXPECT_EQ(errors, 0u);
    EXPECT_EQ(stat.cbOutQue, 0u) << "a pty never holds output";
    EXPECT_TRUE(os::PurgeComm(h_, os::kPurgeRxClear));
    EXPECT_TRUE(wait_in_queue(0));
    EXPECT_TRUE(os::PurgeComm(h_, os::kPurgeTxClear));
    EXPECT_TRUE(os::PurgeComm(h_, 0x000F));
    EXPECT_FALSE(os::PurgeComm(h_, 0x0010)) << "unknown flags";
}

TEST_F(PosixSeam, EventsAreHandlesAndHandlesAreNotReused) {
    os::Handle e = os::CreateEventA(nullptr, 1, 0, nullptr);
    ASSERT_NE(e, nullptr);
    EXPECT_NE(e, h_);
    EXPECT_TRUE(os::CloseHandle(e));
    EXPECT_FALSE(os::CloseHandle(e)) << "already released";
    EXPECT_FALSE(os::SetCommMask(e, os::kEvRxChar)) << "an event is not a device";
    ASSERT_TRUE(os::CloseHandle(h_));
    os::Dcb dcb{};
    EXPECT_FALSE(os::GetCommState(h_, &dcb)) << "a closed handle reaches nothing";
    const os::Handle old = h_;
    h_ = open_device();
    EXPECT_NE(h_, old);
    EXPECT_FALSE(os::CloseHandle(nullptr));
    EXPECT_FALSE(os::CloseHandle(os::kInvalidHandle));
}

}  // namespace
