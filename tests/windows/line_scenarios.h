// Fixture of the line scenarios: opens the port that line_driver.sh mapped
// (ORVEL_TEST_PORT) with 9600 8N1 and the fixture's read time-out constant,
// and closes it afterwards. Without a driver every scenario is skipped.
#pragma once

#include <gtest/gtest.h>

#include <initializer_list>

namespace line_scenarios {

// Sent last by every scenario; the peer's script ends by expecting it and
// sending it back (expect=5A send=5A).
inline constexpr unsigned char kEndMarker = 'Z';
// One-byte reads spent waiting for the peer's answer (each 500 + T ms).
inline constexpr int kEndMarkerReads = 10;

int port_from_environment();

class LineScenario : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    virtual int read_timeout_ms() const { return 100; }
    int port() const { return port_; }
    void send(std::initializer_list<unsigned char> bytes) const;
    void finish() const;  // sends kEndMarker and waits for the peer's answer

private:
    int port_ = -1;
};

}  // namespace line_scenarios
