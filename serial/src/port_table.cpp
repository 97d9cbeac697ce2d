// Port table and the functions that store and read a row's settings.
#include "port_table.h"

#include "tarvex.h"

namespace tarvex {
namespace {

// Zero-filled at load: every port closed, every setting 0, every flag false.
std::array<PortRow, kPortCount> port_table{};

constexpr int kDebugOn = 1;

}  // namespace

PortRow* find_row(int port) {
    if (port < 0 || port >= kPortCount) return nullptr;
    return &port_table[static_cast<std::size_t>(port)];
}

os::Handle open_handle(int port) {
    const PortRow* row = find_row(port);
    return (row && row->opened) ? row->handle : nullptr;
}

void store_settings(PortRow& row, int baud, int data_bits, char parity, char stop_bits, int read_timeout_ms) {
    row.baud_rate = baud;
    row.data_bits = data_bits;
    row.parity = parity;
    row.stop_bits = stop_bits;
    row.read_timeout_ms = read_timeout_ms;
}

}  // namespace tarvex

extern "C" {

void COM_Initialize(int port, int baud, int dataBits, char parity, char stopBits, int readTimeoutMs) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row) return;
    tarvex::store_settings(*row, baud, dataBits, parity, stopBits, readTimeoutMs);
    row->debug = false;
}

void DCB_Clear(int port) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row) return;
    constexpr tarvex::os::Dword kDcbLength = sizeof(tarvex::os::Dcb);
    constexpr tarvex::os::Dword kDefaultBaud = 9600;
    constexpr tarvex::os::Byte kDefaultByteSize = 8;
    tarvex::os::Dcb dcb{};  // every flag bit, reserved word, limit and character 0
    dcb.DCBlength = kDcbLength;
    dcb.BaudRate = kDefaultBaud;
    dcb.ByteSize = kDefaultByteSize;
    dcb.Parity = tarvex::os::kNoParity;
    dcb.StopBits = tarvex::os::kOneStopBit;
    row->line_state = dcb;
}

void DebugSetting(int port, int value) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (row) row->debug = (value == tarvex::kDebugOn);
}

bool Get_DebugFlag(int port) {
    const tarvex::PortRow* row = tarvex::find_row(port);
    return row && row->debug;
}

bool IsOpened(int port) {
    const tarvex::PortRow* row = tarvex::find_row(port);
    return row && row->opened;
}

void* GetCommHandle(int port) { return tarvex::open_handle(port); }

}  // extern "C"
