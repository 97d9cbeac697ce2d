// The fake platform seam: records calls, fails them on request and plays
// back a scripted device.
#include "fake_comm.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <set>

namespace tarvex::fake {
namespace {

struct State {
    std::mutex mutex;
    std::vector<Call> calls;
    std::map<Fn, int> fail_from;  // nth call (1-based) from which a kind fails
    std::map<Fn, int> seen;
    Device device;
    std::set<os::Handle> live;
    std::uintptr_t next_handle = 0x1000;
};

State& state() {
    static State s;
    return s;
}

Device default_device() {
    Device d;
    d.state.DCBlength = sizeof(os::Dcb);
    d.state.BaudRate = 9600;
    d.state.fBinary = 1;
    d.state.ByteSize = 8;
    d.state.Parity = os::kNoParity;
    d.state.StopBits = os::kOneStopBit;
    return d;
}

// Counts the call and says whether it is to fail.
bool should_fail(State& s, Fn fn) {
    const int nth = ++s.seen[fn];
    auto it = s.fail_from.find(fn);
    return it != s.fail_from.end() && nth >= it->second;
}

os::Handle new_handle(State& s) {
    auto h = reinterpret_cast<os::Handle>(s.next_handle);
    s.next_handle += 4;
    s.live.insert(h);
    return h;
}

Call& record(State& s, Fn fn, os::Handle h, std::vector<os::Dword> args = {}) {
    Call c;
    c.fn = fn;
    c.handle = h;
    c.args = std::move(args);
    s.calls.push_back(std::move(c));
    return s.calls.back();
}

}  // namespace

const char* fn_name(Fn fn) {
    switch (fn) {
        case Fn::CreateFileA: return "CreateFileA";
        case Fn::CloseHandle: return "CloseHandle";
        case Fn::CreateEventA: return "CreateEventA";
        case Fn::SetCommMask: return "SetCommMask";
        case Fn::SetupComm: return "SetupComm";
        case Fn::PurgeComm: return "PurgeComm";
        case Fn::GetCommTimeouts: return "GetCommTimeouts";
        case Fn::SetCommTimeouts: return "SetCommTimeouts";
        case Fn::GetCommState: return "GetCommState";
        case Fn::SetCommState: return "SetCommState";
        case Fn::ClearCommError: return "ClearCommError";
        case Fn::ReadFile: return "ReadFile";
        case Fn::WriteFile: return "WriteFile";
        case Fn::WaitCommEvent: return "WaitCommEvent";
    }
    return "?";
}

void reset() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
    s.fail_from.clear();
    s.seen.clear();
    s.live.clear();
    s.device = default_device();
}

void clear_calls() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.calls.clear();
}

void clear_failures() {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.fail_from.clear();
}

Device& device() { return state().device; }
const std::vector<Call>& calls() { return state().calls; }

std::vector<Fn> call_sequence() {
    std::vector<Fn> seq;
    for (const Call& c : state().calls) seq.push_back(c.fn);
    return seq;
}

std::vector<Call> calls_of(Fn fn) {
    std::vector<Call> out;
    std::ranges::copy_if(state().calls, std::back_inserter(out), [fn](const Call& c) { return c.fn == fn; });
    return out;
}

void fail(Fn fn, int from_nth) {
    State& s = state();
    std::lock_guard lock(s.mutex);
    s.fail_from[fn] = s.seen[fn] + from_nth;
}

std::size_t live_handles() { return state().live.size(); }

}  // namespace tarvex::fake

namespace tarvex::os {

using fake::Fn;

Handle CreateFileA(const char* path, Dword access, Dword share_mode, void* security, Dword disposition,
                   Dword flags, Handle template_file) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::CreateFileA, nullptr, {access, share_mode, disposition, flags});
    c.path = path ? path : "";
    c.null_pointers = security == nullptr && template_file == nullptr;
    c.result_handle = fake::should_fail(s, Fn::CreateFileA) ? kInvalidHandle : fake::new_handle(s);
    c.result = c.result_handle != kInvalidHandle;
    return c.result_handle;
}

Bool CloseHandle(Handle handle) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::CloseHandle, handle);
    c.result = !fake::should_fail(s, Fn::CloseHandle) && s.live.erase(handle) == 1;
    return c.result;
}

Handle CreateEventA(void* security, Bool manual_reset, Bool initial_state, const char* name) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::CreateEventA, nullptr,
                           {static_cast<Dword>(manual_reset), static_cast<Dword>(initial_state)});
    c.null_pointers = security == nullptr && name == nullptr;
    c.result_handle = fake::should_fail(s, Fn::CreateEventA) ? nullptr : fake::new_handle(s);
    c.result = c.result_handle != nullptr;
    return c.result_handle;
}

Bool SetCommMask(Handle handle, Dword mask) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::SetCommMask, handle, {mask});
    c.result = !fake::should_fail(s, Fn::SetCommMask);
    return c.result;
}

Bool SetupComm(Handle handle, Dword in_queue, Dword out_queue) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::SetupComm, handle, {in_queue, out_queue});
    c.result = !fake::should_fail(s, Fn::SetupComm);
    return c.result;
}

Bool PurgeComm(Handle handle, Dword flags) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::PurgeComm, handle, {flags});
    c.result = !fake::should_fail(s, Fn::PurgeComm);
    return c.result;
}

Bool GetCommTimeouts(Handle handle, CommTimeouts* timeouts) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::GetCommTimeouts, handle);
    c.result = !fake::should_fail(s, Fn::GetCommTimeouts);
    if (c.result) *timeouts = s.device.timeouts;
    return c.result;
}

Bool SetCommTimeouts(Handle handle, CommTimeouts* timeouts) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::SetCommTimeouts, handle);
    c.timeouts = *timeouts;
    c.result = !fake::should_fail(s, Fn::SetCommTimeouts);
    if (c.result) s.device.timeouts = *timeouts;
    return c.result;
}

Bool GetCommState(Handle handle, Dcb* dcb) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::GetCommState, handle);
    c.result = !fake::should_fail(s, Fn::GetCommState);
    if (c.result) *dcb = s.device.state;
    return c.result;
}

Bool SetCommState(Handle handle, Dcb* dcb) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::SetCommState, handle);
    c.dcb = *dcb;
    const bool accepted = !s.device.accepts_state || s.device.accepts_state(*dcb);
    c.result = !fake::should_fail(s, Fn::SetCommState) && accepted;
    if (c.result) s.device.state = *dcb;
    return c.result;
}

Bool ClearCommError(Handle handle, Dword* errors, ComStat* stat) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::ClearCommError, handle);
    c.null_pointers = stat == nullptr;
    c.result = !fake::should_fail(s, Fn::ClearCommError);
    if (c.result) {
        if (errors) *errors = s.device.errors;
        if (stat) *stat = s.device.stat;
    }
    return c.result;
}

Bool ReadFile(Handle handle, void* buffer, Dword count, Dword* transferred, Overlapped* overlapped) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::ReadFile, handle, {count});
    c.overlapped = overlapped;
    *transferred = 0;
    fake::ReadScript script;
    if (!s.device.reads.empty()) {
        script = std::move(s.device.reads.front());
        s.device.reads.pop_front();
    }
    c.result = !fake::should_fail(s, Fn::ReadFile) && script.ok;
    const auto n = static_cast<Dword>(std::min<std::size_t>(count, script.bytes.size()));
    if (n > 0) std::memcpy(buffer, script.bytes.data(), n);
    *transferred = n;
    c.data.assign(script.bytes.begin(), script.bytes.begin() + n);
    return c.result;
}

Bool WriteFile(Handle handle, const void* buffer, Dword count, Dword* transferred, Overlapped* overlapped) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::WriteFile, handle, {count});
    c.overlapped = overlapped;
    const auto* bytes = static_cast<const std::uint8_t*>(buffer);
    if (count > 0) c.data.assign(bytes, bytes + count);
    c.result = !fake::should_fail(s, Fn::WriteFile);
    *transferred = c.result ? std::min(count, s.device.write_limit) : 0;
    return c.result;
}

Bool WaitCommEvent(Handle handle, Dword* mask, Overlapped* overlapped) {
    auto& s = fake::state();
    std::lock_guard lock(s.mutex);
    auto& c = fake::record(s, Fn::WaitCommEvent, handle);
    c.null_pointers = overlapped == nullptr;
    c.result = !fake::should_fail(s, Fn::WaitCommEvent);
    if (c.result) *mask = s.device.event_mask;
    return c.result;
}

}  // namespace tarvex::os
