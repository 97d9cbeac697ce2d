// The table of live handles.
#include "handle_registry.h"

namespace tarvex::posix {
namespace {

// Handle values are multiples of 4 from here on, as the system's are; they
// never collide with a null or invalid handle.
constexpr std::uintptr_t kFirstHandle = 0x100;
constexpr std::uintptr_t kHandleStep = 4;

std::uintptr_t key(os::Handle h) { return reinterpret_cast<std::uintptr_t>(h); }

}  // namespace

os::Handle HandleRegistry::next_handle() {
    last_ = last_ == 0 ? kFirstHandle : last_ + kHandleStep;
    return reinterpret_cast<os::Handle>(last_);
}

os::Handle HandleRegistry::add_device(std::unique_ptr<TtyDevice> device) {
    std::lock_guard lock(mutex_);
    os::Handle h = next_handle();
    devices_.emplace(key(h), std::move(device));
    return h;
}

os::Handle HandleRegistry::add_event() {
    std::lock_guard lock(mutex_);
    os::Handle h = next_handle();
    events_.emplace(key(h), true);
    return h;
}

std::shared_ptr<TtyDevice> HandleRegistry::device(os::Handle handle) const {
    std::lock_guard lock(mutex_);
    auto it = devices_.find(key(handle));
    return it == devices_.end() ? nullptr : it->second;
}

bool HandleRegistry::close(os::Handle handle) {
    std::shared_ptr<TtyDevice> device;
    {
        std::lock_guard lock(mutex_);
        if (events_.erase(key(handle)) == 1) return true;
        auto it = devices_.find(key(handle));
        if (it == devices_.end()) return false;
        device = std::move(it->second);
        devices_.erase(it);
    }
    device->shut_down();
    return true;  // the descriptor goes with the last reference, here or in a woken call
}

HandleRegistry& registry() {
    static HandleRegistry instance;
    return instance;
}

}  // namespace tarvex::posix
