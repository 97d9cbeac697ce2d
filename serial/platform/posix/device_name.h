// The device namespace: which tty a Win32 device name such as \\?\COM3
// stands for on this machine.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tarvex::posix {

// \\?\COMn (also \\.\COMn or plain COMn, "COM" in any case) names the path in
// the environment variable TARVEX_COM<n> when that is set and not empty,
// otherwise /dev/ttyS<n-1>; COM0 without a variable, and any other name,
// name no device.
std::optional<std::string> resolve_device(std::string_view name);

}  // namespace tarvex::posix
