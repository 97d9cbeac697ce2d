// A scriptable stand-in for the platform seam, for unit tests of the port
// table. Every call is recorded with its arguments; any call can be made to
// fail; the device's state, time-outs, queue counts, read data and events are
// scripted. The fake behaves like one device: what SetCommState and
// SetCommTimeouts accept, GetCommState and GetCommTimeouts report next.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "comm_api.h"

namespace tarvex::fake {

enum class Fn {
    CreateFileA,
    CloseHandle,
    CreateEventA,
    SetCommMask,
    SetupComm,
    PurgeComm,
    GetCommTimeouts,
    SetCommTimeouts,
    GetCommState,
    SetCommState,
    ClearCommError,
    ReadFile,
    WriteFile,
    WaitCommEvent,
};

const char* fn_name(Fn fn);

// One call as it was made. Fields that a call does not take stay zero.
struct Call {
    Fn fn{};
    os::Handle handle = nullptr;     // the handle passed (CloseHandle: the one released)
    std::string path;                // CreateFileA
    std::vector<os::Dword> args;     // the numeric arguments, in order
    bool null_pointers = true;       // every optional pointer argument was null
    os::Dcb dcb{};                   // SetCommState
    os::CommTimeouts timeouts{};     // SetCommTimeouts
    std::vector<std::uint8_t> data;  // WriteFile: the bytes passed
    os::Overlapped* overlapped = nullptr;
    os::Handle result_handle = nullptr;  // CreateFileA, CreateEventA
    os::Bool result = 0;
};

// What the next ReadFile delivers: up to the requested count of these bytes,
// and whether the call succeeds.
struct ReadScript {
    std::vector<std::uint8_t> bytes;
    bool ok = true;
};

struct Device {
    os::Dcb state{};              // reported by GetCommState
    os::CommTimeouts timeouts{};  // reported by GetCommTimeouts
    os::ComStat stat{};           // reported by ClearCommError
    os::Dword errors = 0;         // reported by ClearCommError
    os::Dword event_mask = os::kEvRxChar;  // reported by WaitCommEvent
    std::deque<ReadScript> reads;  // one entry per ReadFile; empty means a time-out with nothing
    std::function<bool(const os::Dcb&)> accepts_state;  // SetCommState verdict; null accepts all
    os::Dword write_limit = 0xFFFFFFFFu;  // most bytes one WriteFile reports written
};

// Forgets every call, failure and script, and gives the device a plausible
// present state (9600 8N1, all time-outs 0).
void reset();

// Forgets the record of calls, or the failures asked for, and nothing else:
// the device, its state and its live handles stay.
void clear_calls();
void clear_failures();

Device& device();
const std::vector<Call>& calls();
std::vector<Fn> call_sequence();
// The calls of one kind, in order.
std::vector<Call> calls_of(Fn fn);

// Makes every call of this kind fail (return 0, or the invalid handle for
// CreateFileA and a null handle for CreateEventA) from its nth call on
// (1 = the next one), until reset.
void fail(Fn fn, int from_nth = 1);

// Handles the fake handed out and has not seen released.
std::size_t live_handles();

}  // namespace tarvex::fake
