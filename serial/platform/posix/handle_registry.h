// Handles of this platform layer: open devices and events. Thread-safe; a
// handle value is never reused, so a stale handle cannot reach a new device.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "comm_api.h"
#include "tty_device.h"

namespace tarvex::posix {

class HandleRegistry {
public:
    os::Handle add_device(std::unique_ptr<TtyDevice> device);
    os::Handle add_event();

    // The device behind a handle, kept alive while the caller uses it, or
    // nullptr for anything else.
    std::shared_ptr<TtyDevice> device(os::Handle handle) const;

    // Forgets the handle. A device is shut down, waking pending calls; its
    // descriptor is closed as soon as none is left. False for an unknown
    // handle.
    bool close(os::Handle handle);

private:
    os::Handle next_handle();

    mutable std::mutex mutex_;
    std::uintptr_t last_ = 0;
    std::unordered_map<std::uintptr_t, std::shared_ptr<TtyDevice>> devices_;
    std::unordered_map<std::uintptr_t, bool> events_;  // nothing waits on them: only their lifetime matters
};

HandleRegistry& registry();

}  // namespace tarvex::posix
