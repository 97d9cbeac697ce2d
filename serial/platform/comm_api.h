// The platform seam: the Win32 serial calls the port table is written
// against, with the structures they take. Three implementations sit behind
// it, chosen at link time: posix/ (termios), win32/ (forwards to the real
// API) and fake/ (records calls for unit tests). Nothing above this header
// sees a platform type.
#pragma once

#include <cstdint>

namespace tarvex::os {

using Handle = void*;
using Dword = std::uint32_t;
using Word = std::uint16_t;
using Byte = std::uint8_t;
using Bool = int;

inline Handle const kInvalidHandle = reinterpret_cast<Handle>(static_cast<std::intptr_t>(-1));

// CreateFileA
inline constexpr Dword kGenericRead = 0x80000000u;
inline constexpr Dword kGenericWrite = 0x40000000u;
inline constexpr Dword kOpenExisting = 3;
inline constexpr Dword kFileAttributeNormal = 0x80;

// SetCommMask / WaitCommEvent
inline constexpr Dword kEvRxChar = 0x0001;

// PurgeComm
inline constexpr Dword kPurgeTxAbort = 0x0001;
inline constexpr Dword kPurgeRxAbort = 0x0002;
inline constexpr Dword kPurgeTxClear = 0x0004;
inline constexpr Dword kPurgeRxClear = 0x0008;

// Dcb values
inline constexpr Byte kNoParity = 0;
inline constexpr Byte kOddParity = 1;
inline constexpr Byte kEvenParity = 2;
inline constexpr Byte kMarkParity = 3;
inline constexpr Byte kSpaceParity = 4;
inline constexpr Byte kOneStopBit = 0;
inline constexpr Byte kOne5StopBits = 1;
inline constexpr Byte kTwoStopBits = 2;

// Line state, field for field as the Win32 DCB (28 bytes). Field names keep
// the Win32 spelling so the mapping to the real record stays obvious.
struct Dcb {
    Dword DCBlength;
    Dword BaudRate;
    Dword fBinary : 1;
    Dword fParity : 1;
    Dword fOutxCtsFlow : 1;
    Dword fOutxDsrFlow : 1;
    Dword fDtrControl : 2;
    Dword fDsrSensitivity : 1;
    Dword fTXContinueOnXoff : 1;
    Dword fOutX : 1;
    Dword fInX : 1;
    Dword fErrorChar : 1;
    Dword fNull : 1;
    Dword fRtsControl : 2;
    Dword fAbortOnError : 1;
    Dword fDummy2 : 17;
    Word wReserved;
    Word XonLim;
    Word XoffLim;
    Byte ByteSize;
    Byte Parity;
    Byte StopBits;
    char XonChar;
    char XoffChar;
    char ErrorChar;
    char EofChar;
    char EvtChar;
    Word wReserved1;
};
static_assert(sizeof(Dcb) == 28);

struct CommTimeouts {
    Dword ReadIntervalTimeout;
    Dword ReadTotalTimeoutMultiplier;
    Dword ReadTotalTimeoutConstant;
    Dword WriteTotalTimeoutMultiplier;
    Dword WriteTotalTimeoutConstant;
};

struct ComStat {
    Dword flags;  // fCtsHold .. fTxim bits; unused by the library
    Dword cbInQue;
    Dword cbOutQue;
};

struct Overlapped {
    std::uintptr_t Internal;
    std::uintptr_t InternalHigh;
    Dword Offset;
    Dword OffsetHigh;
    Handle hEvent;
};

Handle CreateFileA(const char* path, Dword access, Dword share_mode, void* security, Dword disposition,
                   Dword flags, Handle template_file);
Bool CloseHandle(Handle handle);
Handle CreateEventA(void* security, Bool manual_reset, Bool initial_state, const char* name);

Bool SetCommMask(Handle handle, Dword mask);
Bool SetupComm(Handle handle, Dword in_queue, Dword out_queue);
Bool PurgeComm(Handle handle, Dword flags);
Bool GetCommTimeouts(Handle handle, CommTimeouts* timeouts);
Bool SetCommTimeouts(Handle handle, CommTimeouts* timeouts);
Bool GetCommState(Handle handle, Dcb* dcb);
Bool SetCommState(Handle handle, Dcb* dcb);
Bool ClearCommError(Handle handle, Dword* errors, ComStat* stat);
Bool ReadFile(Handle handle, void* buffer, Dword count, Dword* transferred, Overlapped* overlapped);
Bool WriteFile(Handle handle, const void* buffer, Dword count, Dword* transferred, Overlapped* overlapped);
Bool WaitCommEvent(Handle handle, Dword* mask, Overlapped* overlapped);

}  // namespace tarvex::os
