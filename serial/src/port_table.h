// The port table: one row per port number, all of the library's port state.
#pragma once

#include <array>

#include "comm_api.h"

namespace tarvex {

inline constexpr int kPortCount = 201;  // port numbers 0..200

struct PortRow {
    bool opened = false;
    os::Handle handle = nullptr;

    // Stored settings, applied by each line configuration.
    int baud_rate = 0;
    int data_bits = 0;
    char parity = 0;
    char stop_bits = 0;
    int read_timeout_ms = 0;

    bool debug = false;

    os::Dcb line_state{};
    os::CommTimeouts saved_timeouts{};
    os::CommTimeouts working_timeouts{};
    os::Overlapped read_record{};
    os::Overlapped write_record{};
};

// The row of a port number, or nullptr for a number outside 0..200: such a
// port does not exist, and every caller treats it like a closed port.
PortRow* find_row(int port);

// Stores the five line settings that each line configuration applies.
void store_settings(PortRow& row, int baud, int data_bits, char parity, char stop_bits, int read_timeout_ms);

// The row's handle while it is open, otherwise nullptr.
os::Handle open_handle(int port);

}  // namespace tarvex
