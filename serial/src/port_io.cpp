// Opening, closing, transfers, queues, the receive event and ACK_Check.
#include <algorithm>
#include <array>
#include <charconv>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "line_config.h"
#include "tarvex.h"

namespace tarvex {
namespace {

constexpr int kOpened = 1;
constexpr int kNotOpened = 0;
constexpr int kAlreadyOpen = -99;
constexpr int kStateRefused = -1;

constexpr os::Dword kPurgeAll = os::kPurgeTxAbort | os::kPurgeRxAbort | os::kPurgeTxClear | os::kPurgeRxClear;
constexpr os::Dword kNoEvents = 0;

constexpr unsigned char kAck = 0x06;
constexpr int kAckAttempts = 3;
constexpr std::size_t kAckReplySize = 4;

// "\\?\COM" and up to three digits, NUL-terminated.
using DevicePath = std::array<char, 16>;

DevicePath device_path(int port) {
    constexpr std::string_view kPrefix = "\\\\?\\COM";
    DevicePath path{};
    std::ranges::copy(kPrefix, path.begin());
    std::to_chars(path.data() + kPrefix.size(), path.data() + path.size() - 1, port);
    return path;
}

bool valid(os::Handle h) { return h != nullptr && h != os::kInvalidHandle; }

}  // namespace
}  // namespace tarvex

using tarvex::open_handle;
namespace os = tarvex::os;

extern "C" {

int COM_Open(int port) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row) return tarvex::kNotOpened;
    const auto path = tarvex::device_path(port);
    if (row->opened) return tarvex::kAlreadyOpen;

    // Exclusive (share mode 0) and synchronous: no overlapped flag.
    os::Handle h = os::CreateFileA(path.data(), os::kGenericRead | os::kGenericWrite, 0, nullptr,
                                   os::kOpenExisting, os::kFileAttributeNormal, nullptr);
    if (!tarvex::valid(h)) return tarvex::kNotOpened;
    row->handle = h;
    row->opened = true;

    switch (tarvex::configure_line(*row)) {
        case tarvex::ConfigOutcome::success: return tarvex::kOpened;
        case tarvex::ConfigOutcome::failed:
            // Left open but not configured; COM_Close releases the device.
            return tarvex::kNotOpened;
        case tarvex::ConfigOutcome::refused: break;
    }
    os::CloseHandle(row->handle);
    row->handle = nullptr;
    row->opened = false;
    return tarvex::kStateRefused;
}

bool COM_Close(int port) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row || !row->opened) return true;
    // Results are not looked at: the port is released whatever the device says.
    os::SetCommMask(row->handle, tarvex::kNoEvents);
    os::SetCommTimeouts(row->handle, &row->saved_timeouts);
    os::PurgeComm(row->handle, tarvex::kPurgeAll);
    os::CloseHandle(row->handle);
    row->opened = false;
    row->handle = nullptr;
    tarvex::release_events(*row);
    return true;
}

bool COM_Read(int port, unsigned char* buf, uint32_t count) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row || !row->opened) return false;
    // Clear any error state earlier traffic left, which would otherwise stop
    // the read; the counts are not needed here.
    os::Dword errors = 0;
    os::ClearCommError(row->handle, &errors, nullptr);
    os::Dword delivered = 0;
    if (!os::ReadFile(row->handle, buf, count, &delivered, &row->read_record)) return false;
    return delivered >= count;
}

bool COM_Write(int port, const unsigned char* buf, uint32_t count) {
    tarvex::PortRow* row = tarvex::find_row(port);
    if (!row || !row->opened) return false;
    os::Dword written = 0;
    if (!os::WriteFile(row->handle, buf, count, &written, &row->write_record)) return false;
    return written >= count;
}

int COM_RxBuffer_Clear(int port) {
    os::Handle h = open_handle(port);
    return h ? os::PurgeComm(h, os::kPurgeRxClear) : 0;
}

int COM_TxBuffer_Clear(int port) {
    os::Handle h = open_handle(port);
    return h ? os::PurgeComm(h, os::kPurgeTxClear) : 0;
}

uint32_t Get_RxBufferSize(int port) {
    os::Handle h = open_handle(port);
    if (!h) return 0;
    os::Dword errors = 0;
    os::ComStat stat{};
    return os::ClearCommError(h, &errors, &stat) ? stat.cbInQue : 0;
}

uint32_t Get_TxBufferSize(int port) {
    os::Handle h = open_handle(port);
    if (!h) return 0;
    os::Dword errors = 0;
    os::ComStat stat{};
    return os::ClearCommError(h, &errors, &stat) ? stat.cbOutQue : 0;
}

bool WaitRxEvent(int port) {
    os::Handle h = open_handle(port);
    if (!h) return false;
    os::Dword mask = 0;
    if (!os::WaitCommEvent(h, &mask, nullptr)) return false;
    return (mask & os::kEvRxChar) != 0;
}

int SetRxEvent(int port) {
    os::Handle h = open_handle(port);
    if (!h) return 0;
    os::Dword errors = 0;
    return os::ClearCommError(h, &errors, nullptr);
}

bool ACK_Check(int port, const unsigned char* msg, unsigned char* reply, int count) {
    // A negative count sends nothing rather than a huge block.
    const auto resend_count = static_cast<uint32_t>(std::max(count, 0));
    for (int attempt = 0; attempt < tarvex::kAckAttempts; ++attempt) {
        std::memset(reply, 0, tarvex::kAckReplySize);
        // Nothing in time: try again without sending, the peer may be slow.
        if (!COM_Read(port, reply, 1)) continue;
        if (reply[0] == tarvex::kAck) return true;
        // A wrong answer: the peer missed the message, so send it again.
        COM_Write(port, msg, resend_count);
    }
    return false;
}

}  // extern "C"
