// Line configuration and COM_Setting.
#include "line_config.h"

#include <algorithm>
#include <array>

#include "tarvex.h"

namespace tarvex {
namespace {

constexpr os::Dword kQueueSize = 4096;
constexpr os::Dword kPurgeAll = os::kPurgeTxAbort | os::kPurgeRxAbort | os::kPurgeTxClear | os::kPurgeRxClear;

// An interval time-out of the largest value together with the total
// time-outs below bounds a read of n bytes by 500*n + T ms and a write by
// 500*n + 1000 ms, both measured from the call.
constexpr os::Dword kReadIntervalNone = 0xFFFFFFFFu;
constexpr os::Dword kPerByteTimeoutMs = 500;
constexpr os::Dword kWriteTimeoutConstantMs = 1000;

constexpr os::Dword kFallbackBaud = 9600;
constexpr std::array<int, 13> kSupportedBauds = {110,   300,   600,   1200,  2400,   4800,  14400,
                                                 19200, 38400, 56000, 57600, 115200, 256000};

constexpr os::Bool kManualReset = 1;
constexpr os::Bool kInitiallySignalled = 0;

enum StopBitsCode : char { kCodeOneStopBit = 1, kCodeTwoStopBits = 2 };

os::Dword baud_for(int requested) {
    return std::ranges::find(kSupportedBauds, requested) != kSupportedBauds.end()
               ? static_cast<os::Dword>(requested)
               : kFallbackBaud;
}

// Any letter other than N, O, E, M keeps the parity the device reported.
os::Byte parity_for(char letter, os::Byte present) {
    switch (letter) {
        case 'E': case 'e': return os::kEvenParity;
        case 'O': case 'o': return os::kOddParity;
        case 'M': case 'm': return os::kMarkParity;
        case 'N': case 'n': return os::kNoParity;
        default: return present;
    }
}

os::Byte stop_bits_for(char code) {
    switch (code) {
        case kCodeOneStopBit: return os::kOneStopBit;
        case kCodeTwoStopBits: return os::kTwoStopBits;
        default: return os::kOne5StopBits;
    }
}

void renew_event(os::Overlapped& record) {
    if (record.hEvent) os::CloseHandle(record.hEvent);
    record.hEvent = os::CreateEventA(nullptr, kManualReset, kInitiallySignalled, nullptr);
}

}  // namespace

void map_settings_to_dcb(const PortRow& row, os::Dcb& dcb) {
    dcb.BaudRate = baud_for(row.baud_rate);
    dcb.ByteSize = static_cast<os::Byte>(row.data_bits & 0xFF);
    dcb.Parity = parity_for(row.parity, dcb.Parity);
    dcb.StopBits = stop_bits_for(row.stop_bits);
}

bool prepare_device(PortRow& row) {
    return os::SetCommMask(row.handle, os::kEvRxChar) && os::SetupComm(row.handle, kQueueSize, kQueueSize) &&
           os::PurgeComm(row.handle, kPurgeAll) && os::GetCommTimeouts(row.handle, &row.saved_timeouts);
}

ConfigOutcome apply_settings(PortRow& row) {
    row.working_timeouts = {
        .ReadIntervalTimeout = kReadIntervalNone,
        .ReadTotalTimeoutMultiplier = kPerByteTimeoutMs,
        .ReadTotalTimeoutConstant = static_cast<os::Dword>(row.read_timeout_ms),
        .WriteTotalTimeoutMultiplier = kPerByteTimeoutMs,
        .WriteTotalTimeoutConstant = kWriteTimeoutConstantMs,
    };
    if (!os::SetCommTimeouts(row.handle, &row.working_timeouts)) return ConfigOutcome::failed;

    // The record is replaced by what the device reports, so only the four
    // mapped fields differ from the device's present state.
    if (!os::GetCommState(row.handle, &row.line_state)) return ConfigOutcome::failed;
    map_settings_to_dcb(row, row.line_state);
    if (!os::SetCommState(row.handle, &row.line_state)) return ConfigOutcome::refused;

    row.read_record.Offset = row.read_record.OffsetHigh = 0;
    row.write_record.Offset = row.write_record.OffsetHigh = 0;
    renew_event(row.read_record);
    renew_event(row.write_record);
    return ConfigOutcome::success;
}

ConfigOutcome configure_line(PortRow& row) {
    if (!prepare_device(row)) return ConfigOutcome::failed;
    return apply_settings(row);
}

void release_events(PortRow& row) {
    for (os::Overlapped* record : {&row.read_record, &row.write_record}) {
        if (record->hEvent) os::CloseHandle(record->hEvent);
        record->hEvent = nullptr;
    }
}

}  // namespace tarvex

extern "C" int COM_Setting(int port, int baud, int dataBits, char parity, char stopBits, int readTimeoutMs) {
    constexpr int kApplied = 1;
    constexpr int kNotApplied = 0;
    constexpr int kRefused = -1;

    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row || !row->opened) return kNotApplied;
    // The settings are stored only once the device has taken the first
    // calls, so a port that fails this early keeps its earlier settings.
    if (!tarvex::prepare_device(*row)) return kNotApplied;
    tarvex::store_settings(*row, baud, dataBits, parity, stopBits, readTimeoutMs);
    switch (tarvex::apply_settings(*row)) {
        case tarvex::ConfigOutcome::success: return kApplied;
        case tarvex::ConfigOutcome::refused: return kRefused;
        case tarvex::ConfigOutcome::failed: break;
    }
    return kNotApplied;
}
