// The seam on Windows: each call forwards to the Win32 function of the same
// name. Records are converted field by field rather than cast, so the seam's
// own types never have to match the SDK's layout or packing.
#include "comm_api.h"

#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

namespace tarvex::os {
namespace {

HANDLE to_win(Handle handle) { return static_cast<HANDLE>(handle); }

DCB to_win(const Dcb& in) {
    DCB out{};
    out.DCBlength = in.DCBlength;
    out.BaudRate = in.BaudRate;
    out.fBinary = in.fBinary;
    out.fParity = in.fParity;
    out.fOutxCtsFlow = in.fOutxCtsFlow;
    out.fOutxDsrFlow = in.fOutxDsrFlow;
    out.fDtrControl = in.fDtrControl;
    out.fDsrSensitivity = in.fDsrSensitivity;
    out.fTXContinueOnXoff = in.fTXContinueOnXoff;
    out.fOutX = in.fOutX;
    out.fInX = in.fInX;
    out.fErrorChar = in.fErrorChar;
    out.fNull = in.fNull;
    out.fRtsControl = in.fRtsControl;
    out.fAbortOnError = in.fAbortOnError;
    out.fDummy2 = in.fDummy2;
    out.wReserved = in.wReserved;
    out.XonLim = in.XonLim;
    out.XoffLim = in.XoffLim;
    out.ByteSize = in.ByteSize;
    out.Parity = in.Parity;
    out.StopBits = in.StopBits;
    out.XonChar = in.XonChar;
    out.XoffChar = in.XoffChar;
    out.ErrorChar = in.ErrorChar;
    out.EofChar = in.EofChar;
    out.EvtChar = in.EvtChar;
    out.wReserved1 = in.wReserved1;
    return out;
}

void from_win(const DCB& in, Dcb& out) {
    out.DCBlength = in.DCBlength;
    out.BaudRate = in.BaudRate;
    out.fBinary = in.fBinary;
    out.fParity = in.fParity;
    out.fOutxCtsFlow = in.fOutxCtsFlow;
    out.fOutxDsrFlow = in.fOutxDsrFlow;
    out.fDtrControl = in.fDtrControl;
    out.fDsrSensitivity = in.fDsrSensitivity;
    out.fTXContinueOnXoff = in.fTXContinueOnXoff;
    out.fOutX = in.fOutX;
    out.fInX = in.fInX;
    out.fErrorChar = in.fErrorChar;
    out.fNull = in.fNull;
    out.fRtsControl = in.fRtsControl;
    out.fAbortOnError = in.fAbortOnError;
    out.fDummy2 = in.fDummy2;
    out.wReserved = in.wReserved;
    out.XonLim = in.XonLim;
    out.XoffLim = in.XoffLim;
    out.ByteSize = in.ByteSize;
    out.Parity = in.Parity;
    out.StopBits = in.StopBits;
    out.XonChar = in.XonChar;
    out.XoffChar = in.XoffChar;
    out.ErrorChar = in.ErrorChar;
    out.EofChar = in.EofChar;
    out.EvtChar = in.EvtChar;
    out.wReserved1 = in.wReserved1;
}

COMMTIMEOUTS to_win(const CommTimeouts& in) {
    COMMTIMEOUTS out{};
    out.ReadIntervalTimeout = in.ReadIntervalTimeout;
    out.ReadTotalTimeoutMultiplier = in.ReadTotalTimeoutMultiplier;
    out.ReadTotalTimeoutConstant = in.ReadTotalTimeoutConstant;
    out.WriteTotalTimeoutMultiplier = in.WriteTotalTimeoutMultiplier;
    out.WriteTotalTimeoutConstant = in.WriteTotalTimeoutConstant;
    return out;
}

void from_win(const COMMTIMEOUTS& in, CommTimeouts& out) {
    out.ReadIntervalTimeout = in.ReadIntervalTimeout;
    out.ReadTotalTimeoutMultiplier = in.ReadTotalTimeoutMultiplier;
    out.ReadTotalTimeoutConstant = in.ReadTotalTimeoutConstant;
    out.WriteTotalTimeoutMultiplier = in.WriteTotalTimeoutMultiplier;
    out.WriteTotalTimeoutConstant = in.WriteTotalTimeoutConstant;
}

// COMSTAT's one-bit flags, packed into the seam's flags word in their
// declaration order (fCtsHold in bit 0).
Dword pack_flags(const COMSTAT& in) {
    return static_cast<Dword>(in.fCtsHold) | static_cast<Dword>(in.fDsrHold) << 1 |
           static_cast<Dword>(in.fRlsdHold) << 2 | static_cast<Dword>(in.fXoffHold) << 3 |
           static_cast<Dword>(in.fXoffSent) << 4 | static_cast<Dword>(in.fEof) << 5 |
           static_cast<Dword>(in.fTxim) << 6;
}

OVERLAPPED to_win(const Overlapped& in) {
    OVERLAPPED out{};
    out.Internal = in.Internal;
    out.InternalHigh = in.InternalHigh;
    out.Offset = in.Offset;
    out.OffsetHigh = in.OffsetHigh;
    out.hEvent = to_win(in.hEvent);
    return out;
}

void from_win(const OVERLAPPED& in, Overlapped& out) {
    out.Internal = in.Internal;
    out.InternalHigh = in.InternalHigh;
    out.Offset = in.Offset;
    out.OffsetHigh = in.OffsetHigh;
    out.hEvent = in.hEvent;
}

// The port's handle is opened without FILE_FLAG_OVERLAPPED, so a transfer is
// complete when the call returns and a copy of the caller's record, written
// back afterwards, stands in for it safely.
class RecordCopy {
public:
    explicit RecordCopy(Overlapped* record) : record_(record) {
        if (record_ != nullptr) copy_ = to_win(*record_);
    }
    ~RecordCopy() {
        if (record_ != nullptr) from_win(copy_, *record_);
    }
    RecordCopy(const RecordCopy&) = delete;
    RecordCopy& operator=(const RecordCopy&) = delete;

    LPOVERLAPPED get() { return record_ != nullptr ? &copy_ : nullptr; }

private:
    Overlapped* record_;
    OVERLAPPED copy_{};
};

}  // namespace

Handle CreateFileA(const char* path, Dword access, Dword share_mode, void* security, Dword disposition,
                   Dword flags, Handle template_file) {
    return ::CreateFileA(path, access, share_mode, static_cast<LPSECURITY_ATTRIBUTES>(security), disposition,
                         flags, to_win(template_file));
}

Bool CloseHandle(Handle handle) { return ::CloseHandle(to_win(handle)); }

Handle CreateEventA(void* security, Bool manual_reset, Bool initial_state, const char* name) {
    return ::CreateEventA(static_cast<LPSECURITY_ATTRIBUTES>(security), manual_reset, initial_state, name);
}

Bool SetCommMask(Handle handle, Dword mask) { return ::SetCommMask(to_win(handle), mask); }

Bool SetupComm(Handle handle, Dword in_queue, Dword out_queue) {
    return ::SetupComm(to_win(handle), in_queue, out_queue);
}

Bool PurgeComm(Handle handle, Dword flags) { return ::PurgeComm(to_win(handle), flags); }

Bool GetCommTimeouts(Handle handle, CommTimeouts* timeouts) {
    COMMTIMEOUTS win{};
    Bool ok = ::GetCommTimeouts(to_win(handle), &win);
    if (ok) from_win(win, *timeouts);
    return ok;
}

Bool SetCommTimeouts(Handle handle, CommTimeouts* timeouts) {
    COMMTIMEOUTS win = to_win(*timeouts);
    return ::SetCommTimeouts(to_win(handle), &win);
}

Bool GetCommState(Handle handle, Dcb* dcb) {
    // The caller's DCBlength goes in, as Win32 expects; the whole record comes
    // back on success.
    DCB win = to_win(*dcb);
    Bool ok = ::GetCommState(to_win(handle), &win);
    if (ok) from_win(win, *dcb);
    return ok;
}

Bool SetCommState(Handle handle, Dcb* dcb) {
    DCB win = to_win(*dcb);
    return ::SetCommState(to_win(handle), &win);
}

Bool ClearCommError(Handle handle, Dword* errors, ComStat* stat) {
    DWORD win_errors = 0;
    COMSTAT win_stat{};
    Bool ok = ::ClearCommError(to_win(handle), &win_errors, &win_stat);
    if (errors != nullptr) *errors = win_errors;
    if (stat != nullptr) {
        stat->flags = pack_flags(win_stat);
        stat->cbInQue = win_stat.cbInQue;
        stat->cbOutQue = win_stat.cbOutQue;
    }
    return ok;
}

Bool ReadFile(Handle handle, void* buffer, Dword count, Dword* transferred, Overlapped* overlapped) {
    DWORD done = 0;
    RecordCopy record(overlapped);
    Bool ok = ::ReadFile(to_win(handle), buffer, count, &done, record.get());
    if (transferred != nullptr) *transferred = done;
    return ok;
}

Bool WriteFile(Handle handle, const void* buffer, Dword count, Dword* transferred, Overlapped* overlapped) {
    DWORD done = 0;
    RecordCopy record(overlapped);
    Bool ok = ::WriteFile(to_win(handle), buffer, count, &done, record.get());
    if (transferred != nullptr) *transferred = done;
    return ok;
}

Bool WaitCommEvent(Handle handle, Dword* mask, Overlapped* overlapped) {
    DWORD events = 0;
    RecordCopy record(overlapped);
    Bool ok = ::WaitCommEvent(to_win(handle), &events, record.get());
    if (mask != nullptr) *mask = events;
    return ok;
}

}  // namespace tarvex::os
